// WriteMonoJob: the PostScript road's copy to the printer.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "job_flow.h"
#include "media_fixup.h"
#include "monitor.h"
#include "pjl_header.h"
#include "text_io.h"
#include "wrapper_state.h"

namespace jw {

namespace {

// Block mode: the models outside JobControlModels get the job unchanged.
void copy_blocks(FILE* in) {
  char block[kBlockSize + 1];
  size_t n;
  while ((n = fread(block, 1, kBlockSize, in)) > 0) {
    if (end_job_if_cancelled(block, sizeof block, n)) return;
    if (!out_write(block, n)) fprintf(stderr, "write file error! \n");
  }
}

struct LineJob {
  PjlAdditions pjl;
  FILE* copyFile = nullptr;  // the "_m" file while the first collated pass records it
};

// Writes to the job output and, while recording, to the "_m" file.
void emit(const LineJob& job, const char* data, size_t len) {
  if (len == 0) return;
  if (!out_write(data, len)) fprintf(stderr, "write file error! \n");
  if (job.copyFile != nullptr) {
    fwrite(data, 1, len, job.copyFile);
    fflush(job.copyFile);
  }
}

// One pass over a file, line by line.  fixups: a pass over the job file
// (media fix-ups apply); false for the replays of the "_m" file, where only
// the PJL addition and the cancel check apply.  Returns false when the
// cancel trailer ended the job.
bool copy_lines(FILE* in, const LineJob& job, bool fixups) {
  LineBuffer line;
  uint8_t state = 0;
  bool inLongLine = false;
  char extra[3 * 256];
  while (read_line(in, &line)) {
    // A line longer than the buffer arrives in pieces; its pieces are
    // copied unchanged, since no piece is a line of its own.
    bool piece = inLongLine || !line.whole;
    inLongLine = !line.whole;
    if (piece) {
      emit(job, line.data, line.len);
      continue;
    }
    size_t extraLen = pjl_addition_for_line(line.data, line.len, job.pjl,
                                            g_wrap.g_bA5LongEdge != 0, extra, sizeof extra);
    if (end_job_if_cancelled(line.data, sizeof line.data, line.len)) return false;
    if (fixups) FixupMediaLine(&line, g_wrap.g_nPageWidth, g_wrap.g_nPageHeight, &state);
    emit(job, line.data, line.len);
    // The added PJL lines follow the job-name line as lines of their own.
    emit(job, extra, extraLen);
  }
  return true;
}

void collated_copies(FILE* in, const char* path, LineJob* job) {
  int copies = g_wrap.g_nCopies > 0 ? g_wrap.g_nCopies : 1;
  std::string copyPath = std::string(path) + "_m";
  FILE* copy = fopen(copyPath.c_str(), "w+");
  if (copy == nullptr) {
    fprintf(stderr, "Uable create temp file error! \n");
    for (int i = 0; i < copies; ++i) {
      fprintf(stderr, "copies %d \n", i);
      rewind(in);
      if (!copy_lines(in, *job, true)) return;
    }
    return;
  }
  fprintf(stderr, "copies %d \n", 0);
  job->copyFile = copy;
  bool going = copy_lines(in, *job, true);
  job->copyFile = nullptr;
  for (int i = 1; going && i < copies; ++i) {
    fprintf(stderr, "copies %d \n", i);
    rewind(copy);
    going = copy_lines(copy, *job, false);
  }
  fclose(copy);
  remove(copyPath.c_str());
}

void start_status_monitor(const char* const* argv, const char* owner) {
  static cancel_query_arg arg;  // the thread's record lives until the process ends
  std::memset(&arg, 0, sizeof arg);
  FindDeviceUri(argv[0], arg.uri, kDeviceUriMax + 1);
  arg.jobId = argv[1] != nullptr ? atoi(argv[1]) : 0;
  snprintf(arg.owner, sizeof arg.owner, "%s", owner);
  fprintf(stderr, "uri:%s,jobid:%d,jobower:%s\n", arg.uri, arg.jobId, arg.owner);
  fprintf(stderr, "cancel_query_arg point address:0x%lx\n",
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&arg)));
  Printer_cancle_query_tread(&arg);
}

}  // namespace

void WriteMonoJob(const char* const* argv, const char* path) {
  FILE* in = path != nullptr && path[0] != '\0' ? fopen(path, "rb") : nullptr;
  if (in == nullptr) {
    fprintf(stderr, "Uable open temp file error! \n");
    return;
  }
  if (!g_wrap.g_bJobControlModel) {
    copy_blocks(in);
    fclose(in);
    return;
  }

  char host[256] = "";
  if (gethostname(host, sizeof host) != 0) {
    int err = errno;
    fprintf(stderr, "gethostname failed! error errno:%d, msg:%s\n", err, strerror(err));
    host[0] = '\0';
  } else {
    host[sizeof host - 1] = '\0';
    fprintf(stderr, "hostname %s\n", host);
  }
  start_status_monitor(argv, host);

  LineJob job;
  build_pjl_additions(host, argv[1], &job.pjl);
  if (g_wrap.g_bCollate)
    collated_copies(in, path, &job);
  else
    copy_lines(in, job, true);
  fclose(in);
  // The job is on its way: the printer need not be watched any longer,
  // and the process must not end under a thread that is still talking to it.
  stop_status_thread();
}

}  // namespace jw
