#include "job_flow.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cups/cups.h>

#include "child_process.h"
#include "conversion.h"
#include "media_fixup.h"
#include "monitor.h"
#include "pjl_header.h"
#include "printer_identity.h"
#include "text_io.h"
#include "wrapper_state.h"

// libcups's own error reporter (exported, declared in a private header).
extern "C" void _cupsLangPrintError(const char* prefix, const char* message);

namespace jw {

const char kRefusedPrinterText[] = "当前打印机不可打印，请使用正确的打印机\n";
const char kRefusedCustomSizeText[] =
    "The current custom pager cannot be printed,please use the corrent paper\n";

constexpr size_t kPathSize = 512;

JobArgs make_job_args(int argc, char** argv) {
  JobArgs args{};
  for (int i = 0; i < argc && i < 7; ++i) args.v[i] = argv[i];
  return args;
}

extern "C" void jw_on_sigterm(int) {
  int saved = errno;
  g_wrap.cancel_job.store(1);
  // A qpdf or pdftops that is running would otherwise hold the cancelled
  // job until it ends by itself, which for a hung one is never.
  terminate_running_child();
  static const char kMsg[] = "cancel_job =1\n";
  ssize_t ignored = write(2, kMsg, sizeof kMsg - 1);
  (void)ignored;
  errno = saved;
}

void install_sigterm_handler() {
  struct sigaction action {};
  action.sa_handler = jw_on_sigterm;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
}

void spool_fd_to_file(int fd, char* path, size_t pathSize) {
  if (path == nullptr || pathSize == 0) {
    fprintf(stderr, "DEBUG: Unable to find input file.\n");
    return;
  }
  path[0] = '\0';
  char name[255];
  int out = cupsTempFd(name, sizeof name);
  if (out < 0) {
    fprintf(stderr, "DEBUG: Unable to creat temp file.\n");
    return;
  }
  fprintf(stderr, "DEBUG:copying to temp print file \"%s\"\n", name);
  char block[kBlockSize + 1];  // the last block read stays here
  size_t lastLen = 0;
  ssize_t n;
  while ((n = read(fd, block, kBlockSize)) > 0 || (n < 0 && errno == EINTR)) {
    if (n < 0) continue;
    lastLen = static_cast<size_t>(n);
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, block + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += w;
    }
  }
  // The printers need the job to end with a UEL; input that does not end
  // with one (judged by its last block, as text) gets the spooling text.
  block[lastLen] = '\0';
  size_t textLen = strlen(block);
  if (textLen > 9 && !contains_nocase(block, "%-12345X")) {
    ssize_t w = write(out, kSpoolUelText, strlen(kSpoolUelText));
    (void)w;
    fprintf(stderr, "%s", kSpoolUelText);
  }
  close(out);
  snprintf(path, pathSize, "%s", name);
}

void SpoolStdinToFile(char* path, size_t pathSize) { spool_fd_to_file(0, path, pathSize); }

void WritePrintFile(const char* path) {
  if (path == nullptr) {
    fprintf(stderr, "DEBUG: Unable to find Print file.\n");
    return;
  }
  int fd = path[0] != '\0' ? open(path, O_RDONLY) : -1;
  if (fd < 0) {
    fprintf(stderr, "DEBUG:Unable open a print file \"%s\"\n", path);
    return;
  }
  char block[kBlockSize + 1];
  ssize_t n;
  while ((n = read(fd, block, kBlockSize)) > 0) {
    if (end_job_if_cancelled(block, sizeof block, static_cast<size_t>(n))) break;
    out_write(block, static_cast<size_t>(n));
  }
  close(fd);
  fprintf(stderr, "DEBUG:Successfully write print file to stdout.\n");
}

namespace {

// Removes the job file when the job ends, on every path, when it is ours:
// the spooled input or a conversion's output.  CUPS's own document file
// (argv[6]) stays.
struct JobFileGuard {
  const char* path = nullptr;
  bool owned = false;
  ~JobFileGuard() {
    if (owned && path != nullptr && path[0] != '\0') unlink(path);
  }
};

void refuse(const char* text) {
  sleep(1);
  // The reporter appends strerror(errno); a left-over errno from the
  // side-channel probe would only mislead.
  errno = 0;
  _cupsLangPrintError("ERROR", text);
}

}  // namespace

int run_job(int argc, char** argv) {
  JobArgs args = make_job_args(argc, argv);
  const char* const* a = args.v;

  char deviceId[kDeviceIdBufferSize];
  int idLength = static_cast<int>(sizeof deviceId) - 1;
  bool haveId = GetDeviceId(deviceId, &idLength);
  if (!IsSupportedModel(deviceId, haveId, &g_wrap.g_bJobControlModel)) {
    refuse(kRefusedPrinterText);
    return 1;
  }

  char path[kPathSize] = "";
  JobFileGuard jobFile;
  jobFile.path = path;
  if (argc == 6) {
    SpoolStdinToFile(path, sizeof path);
    jobFile.owned = true;
  } else if (argc == 7) {
    snprintf(path, sizeof path, "%s", a[6]);
  }

  if (g_wrap.g_bJobControlModel) {
    GetPageSizeFromPpd(a, &g_wrap.g_nPageWidth, &g_wrap.g_nPageHeight);
    if (contains_nocase(a[5], "collate") && !contains_nocase(a[5], "noCollate")) {
      g_wrap.g_bCollate = 1;
      g_wrap.g_nCopies = a[4] != nullptr ? atoi(a[4]) : 1;
    }
    if (!IsCustomSizePrintable(a[5], path)) {
      refuse(kRefusedCustomSizeText);
      return 1;
    }
    g_wrap.g_bA5LongEdge = isA5PageSize(a[5], path) ? 1 : 0;
  }

  idLength = static_cast<int>(sizeof deviceId) - 1;
  haveId = GetDeviceId(deviceId, &idLength);
  if (!IsColourModel(deviceId, haveId))
    WriteMonoJob(a, path);
  else
    WriteColourJob(a, path, sizeof path, &jobFile.owned);
  // A job the printer stream did not take whole has failed, whatever the
  // messages on the way said.
  if (g_wrap.outputFailed) {
    fputs("ERROR: The printer stream was closed; the job did not reach the printer whole.\n", stderr);
    return 1;
  }
  return 0;
}

void WriteColourJob(const char* const* argv, char* path, size_t pathSize, bool* pathOwned) {
  RotateDuplexPages(argv, path, pathSize, pathOwned);
  int converted = ConvertPdfToPs(path, pathSize, argv, pathOwned);
  if (converted == 1) {
    CreateDammyThread(argv);
    WritePrintFile(path);
  } else if (converted < 0) {
    fprintf(stderr, "DEBUG: fail to change file from pdf to ps.\n");
    // The job still ends with status 0 (a bad document must not stop the
    // queue), so the user learns from this line why nothing was printed.
    // A job cancelled during the conversion needs no such word.
    if (!g_wrap.cancel_job.load())
      fprintf(stderr, "ERROR: The PDF could not be converted to PostScript; nothing was printed.\n");
  }
  pthread_dammy_join();
}

}  // namespace jw
