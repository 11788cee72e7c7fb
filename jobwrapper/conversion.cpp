#include "conversion.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cups/cups.h>

#include "child_process.h"
#include "ppd_handle.h"
#include "printer_identity.h"
#include "text_io.h"

namespace jw {

const char kOwnQpdfPath[] = "/opt/tesvel/bin/tvqpdf";
const char kPdftopsPath[] = "/usr/lib/cups/filter/pdftops";

namespace {

// qpdf's exit status 3: written, with warnings about the input.
constexpr int kQpdfWarnings = 3;

// A page count beyond this is not believed: its even-page list would not
// fit the 1 MiB the list may take (nor an argument of qpdf's command line).
constexpr int kMaxRotatedPages = 100000;

// How the printer job from pdftops begins: PostScript, or the PJL job
// header that pdftops puts in front of it.
constexpr const char* kPostScriptStarts[] = {"%!", "\x1b%-12345X"};

const char* g_pdftopsPath = kPdftopsPath;

// The options pdftops must not apply: CUPS's own filters before us have
// already laid out, ordered and collated the pages.  Removed in this order.
constexpr const char* kRemovedOptions[] = {
    "page-set", "noCollate", "Collate", "number-up",
    "OutputOrder", "number-up-layout", "orientation-requested",
};

// A CUPS temporary file: closed, and removed unless it became the job file.
class TempFile {
 public:
  TempFile() {
    fd_ = cupsTempFd(name_, sizeof name_);
    created_ = fd_ >= 0;
  }
  ~TempFile() {
    close_fd();
    if (created_ && !kept_) unlink(name_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool created() const { return created_; }
  int fd() const { return fd_; }
  const char* name() const { return name_; }
  void close_fd() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  void keep() { kept_ = true; }

 private:
  char name_[512] = "";
  int fd_ = -1;
  bool created_ = false;
  bool kept_ = false;
};

// The finished temporary file becomes the job file; the file it replaces
// goes only when it was ours.  False (nothing changed) when the name does
// not fit the job path.
bool replace_job_file(char* path, size_t pathSize, bool* pathOwned, TempFile* next) {
  if (strlen(next->name()) >= pathSize) return false;
  if (*pathOwned && path[0] != '\0') unlink(path);
  snprintf(path, pathSize, "%s", next->name());
  next->keep();
  *pathOwned = true;
  return true;
}

// The job file as an argument of qpdf: a relative name that begins with
// "-" (a file named by hand, or by someone hoping for an option) must not
// read as one of qpdf's options.
std::string qpdf_file_argument(const char* path) {
  return path[0] == '-' ? std::string("./") + path : std::string(path);
}

// The title and user as pdftops gets them.  pdftops copies them into the
// PJL job header and the PostScript comments in front of the job: a line
// end, an escape (the start of a UEL) or a '"' there would end the quoted
// value or start a PJL command of the job's choosing.  Control characters
// become spaces and '"' becomes the "'" that pdftops itself puts in a
// title; all other text passes unchanged.
std::string job_text_for_pdftops(const char* text) {
  std::string safe(text);
  for (char& c : safe) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = ' ';
    if (c == '"') c = '\'';
  }
  return safe;
}

// True when the file begins as a printer job from pdftops does.  Anything
// else (nothing at all, or bytes that are not PostScript) would only make
// the printer print garbage.
bool looks_like_printer_job(int fd) {
  char head[16] = "";
  ssize_t n = pread(fd, head, sizeof head, 0);
  for (const char* start : kPostScriptStarts) {
    size_t len = strlen(start);
    if (n >= static_cast<ssize_t>(len) && memcmp(head, start, len) == 0) return true;
  }
  return false;
}

// "--show-npages": the page count from the first line of qpdf's output.
// A qpdf that cannot be found counts as printing nothing (count 0), as
// the shell's "not found" did; false only when qpdf could not be started
// for any other reason.
bool read_page_count(const char* qpdf, const char* path, int* count) {
  std::string file = qpdf_file_argument(path);
  const char* args[] = {qpdf, "--show-npages", file.c_str(), nullptr};
  std::string out;
  int status = run_program_capture(args, &out);
  if (status == kNotStarted && errno != ENOENT && errno != EACCES && errno != ENOEXEC)
    return false;
  *count = atoi(out.c_str());
  return true;
}

}  // namespace

void set_pdftops_path(const char* path) { g_pdftopsPath = path != nullptr ? path : kPdftopsPath; }
const char* pdftops_path() { return g_pdftopsPath; }

bool qpdf_version_is_modern(const char* line) {
  if (line == nullptr || strstr(line, "qpdf version") == nullptr) return false;
  std::string copy(line);
  int token = 0;
  for (char* save = nullptr, *t = strtok_r(copy.data(), " ", &save); t != nullptr;
       t = strtok_r(nullptr, " ", &save))
    if (++token == 3) return atof(t) >= 8.0;
  return false;
}

bool HasModernQpdf() {
  const char* args[] = {"qpdf", "--version", nullptr};
  std::string out;
  if (run_program_capture(args, &out) == kNotStarted) {
    fprintf(stderr, "Unable to get the version of qpdf!");
    return false;
  }
  for (size_t start = 0; start < out.size();) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    if (qpdf_version_is_modern(out.substr(start, end - start).c_str())) return true;
    start = end + 1;
  }
  return false;
}

std::string even_page_list(int pageCount) {
  std::string list;
  for (int page = 2; page <= pageCount; page += 2) {
    if (!list.empty()) list += ',';
    list += std::to_string(page);
  }
  return list;
}

bool is_long_edge_duplex(const char* options) {
  if (contains(options, "noDuplex") || contains(options, "DuplexNoTumble"))
    return contains(options, "DuplexNoTumble");
  // An explicit choice of another duplex mode (cupsd turns "sides" into
  // "Duplex=None" or "Duplex=DuplexTumble") is the user's, not the
  // queue's: only a job that names no choice takes the PPD's default.
  cups_option_t* parsed = nullptr;
  int count = options != nullptr ? cupsParseOptions(options, 0, &parsed) : 0;
  const char* chosen = cupsGetOption("Duplex", count, parsed);
  bool longEdge = chosen != nullptr && strcasecmp(chosen, "DuplexNoTumble") == 0;
  bool named = chosen != nullptr;
  cupsFreeOptions(count, parsed);
  if (named) return longEdge;

  PpdHandle ppd;
  ppd_option_t* duplex = ppd ? ppdFindOption(ppd.get(), "Duplex") : nullptr;
  return duplex != nullptr && strcasecmp(duplex->defchoice, "DuplexNoTumble") == 0;
}

void RotateDuplexPages(const char* const* argv, char* path, size_t pathSize, bool* pathOwned) {
  const char* qpdf = HasModernQpdf() ? "qpdf" : kOwnQpdfPath;
  char deviceId[kDeviceIdBufferSize];
  int idLength = static_cast<int>(sizeof deviceId) - 1;
  bool haveId = GetDeviceId(deviceId, &idLength);
  if (!IsColourModel(deviceId, haveId)) return;
  if (argv == nullptr || path == nullptr || !is_long_edge_duplex(argv[5])) return;

  TempFile rotated;
  if (!rotated.created()) {
    fprintf(stderr, "DEBUG: Unable to creat temp file.\n");
    return;
  }
  rotated.close_fd();  // qpdf writes it by name
  int count = 0;
  if (!read_page_count(qpdf, path, &count)) {
    fprintf(stderr, "Unable get page count of the inputfile!");
    return;
  }
  if (count <= 1) {
    fprintf(stderr, "The page count is %d!\n", count);
    return;
  }
  if (count > kMaxRotatedPages) {
    fprintf(stderr, "DEBUG: qpdf reported %d pages; printing them unrotated.\n", count);
    return;
  }
  std::string rotation = "--rotate=+180:" + even_page_list(count);
  std::string file = qpdf_file_argument(path);
  const char* args[] = {qpdf, file.c_str(), rotated.name(), rotation.c_str(), nullptr};
  // qpdf's own messages belong in the log, never in the job on standard output.
  int status = run_program(args, 2);
  if (status != 0 && status != kQpdfWarnings) {
    fprintf(stderr, "DEBUG: qpdf could not rotate the pages (status %d); printing them unrotated.\n",
            status);
    return;
  }
  replace_job_file(path, pathSize, pathOwned, &rotated);
}

int ConvertPdfToPs(char* path, size_t pathSize, const char* const* argv, bool* pathOwned) {
  bool argsPresent = argv != nullptr;
  for (int i = 1; argsPresent && i <= 5; ++i) argsPresent = argv[i] != nullptr;
  if (path == nullptr || path[0] == '\0' || !argsPresent) {
    fprintf(stderr, "DEBUG: Illegal input parameter.\n");
    return -1;
  }
  std::string options(argv[5]);
  for (const char* keyword : kRemovedOptions) RemoveOption(options.data(), keyword, ' ');
  options.resize(strlen(options.c_str()));

  TempFile ps;
  if (!ps.created()) {
    fprintf(stderr, "DEBUG: Unable to creat tmp_pstopdf file.\n");
    return -1;
  }
  std::string user = job_text_for_pdftops(argv[2]), title = job_text_for_pdftops(argv[3]);
  // Copies are made by the printer job already: pdftops always makes one.
  const char* args[] = {g_pdftopsPath, argv[1], user.c_str(), title.c_str(), "1",
                        options.c_str(), path, nullptr};
  int status = run_program(args, ps.fd());
  if (status == kNotStarted) {
    fprintf(stderr, "DEBUG: Unable to excute pdftops,err is %d\n", errno);
    return -1;
  }
  // A failed run leaves an empty or partial file: never send that as the job.
  if (status != 0) {
    fprintf(stderr, "DEBUG: pdftops failed (status %d).\n", status);
    return -1;
  }
  if (!looks_like_printer_job(ps.fd())) {
    fprintf(stderr, "DEBUG: pdftops wrote no PostScript.\n");
    return -1;
  }
  ps.close_fd();
  if (!replace_job_file(path, pathSize, pathOwned, &ps)) return -1;
  return 1;
}

void RemoveOption(char* text, const char* keyword, char separator) {
  if (text == nullptr || keyword == nullptr || keyword[0] == '\0' || separator == '\0') {
    fprintf(stderr, "the parameters is invalid!");
    return;
  }
  char* found = strstr(text, keyword);
  if (found == nullptr) return;
  char* end = strchr(found, separator);
  if (end == nullptr) return;
  memmove(found, end + 1, strlen(end + 1) + 1);
}

}  // namespace jw
