// Shared helpers for the test suites.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <cups/raster.h>

namespace testing_support {

// Deadlines of the waits for programs and jobs.  Sanitizer builds run
// several times slower, and CI runs them beside other work; a wait that
// follows its event still ends as soon as the event comes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(TESVEL_SLOW_PROGRAMS)
constexpr int kDeadlineScale = 4;
#else
constexpr int kDeadlineScale = 1;
#endif
constexpr int deadlineSeconds(int seconds) { return seconds * kDeadlineScale; }

std::string binPath(const std::string& program);   // <build>/bin/<program>
std::string ppdPath(const std::string& fileName);  // <build>/ppd/<file>

struct ProcessResult {
  int exitStatus = -1;  // exit code, or 128 + signal number
  std::string out;      // standard output
  std::string err;      // standard error
};

struct ProcessOptions {
  std::vector<std::string> env;  // extra NAME=VALUE entries (override the parent's)
  std::vector<std::string> unsetEnv;
  std::string stdinData;         // written to the child's standard input
  bool stdinFromDevNull = false;
  int timeoutSeconds = deadlineSeconds(60);  // the child is killed after this
  std::string argv0;             // what the child sees as argv[0] (default: the path)
  bool inheritEnv = true;        // false: the child gets `env` and nothing else
};

// Starts argv[0] (a path) with the argument vector, never through a shell,
// on the given standard descriptors; -1 when it cannot start.  Signal
// dispositions are the defaults and no descriptor above 2 reaches the
// child (descriptor 4 would pass for a CUPS side channel).  `in` < 0 gives
// /dev/null; `out` < 0 starts the child with standard output closed.
pid_t spawnChild(const std::vector<std::string>& argv, const ProcessOptions& opts, int in,
                 int out, int err);
// A waitpid status as ProcessResult gives it.
int exitStatusOf(int waitStatus);

// Runs argv[0] (a path) with the argument vector, never through a shell.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& opts = {});

// A private directory removed with everything in it when it goes.
class TempDir {
 public:
  explicit TempDir(mode_t mode = 0700);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& data);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// Count of non-overlapping occurrences.
size_t countOf(const std::string& text, const std::string& needle);

// Names of the entries of a directory other than "." and "..".
std::vector<std::string> dirEntries(const std::string& dir);

// The stream inspector (prndecode) run with `args` over a printer stream
// (written to a file of its own).
ProcessResult inspectStream(const std::string& stream, const std::vector<std::string>& args);

// One page of raster for writeRaster: the header and a function of the
// line number giving each line's bytes (cupsBytesPerLine of them).
struct RasterPage {
  cups_page_header2_t header;
  std::vector<uint8_t> fill;  // line pattern, repeated down the page (may be empty: white)
  unsigned linesToWrite = ~0u;  // fewer lines than cupsHeight make a truncated page
};

// Milliseconds on this process's CPU clock and on the monotonic clock,
// for the benchmarks.
double cpuMs();
double wallMs();

// An 8-bit grey page header the way the CUPS pre-filters make it.
cups_page_header2_t greyHeader(unsigned widthPt, unsigned heightPt, unsigned dpi = 600);

// Writes the pages with libcups's own raster writer.
std::string writeRaster(const std::vector<RasterPage>& pages,
                        cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED);

// Renders a PDF of `pages` pages (text and a filled box per page) of the
// given size in points with Ghostscript; returns the PDF bytes.
std::string makePdf(int pages, int widthPt = 595, int heightPt = 842);

// Runs the real CUPS chain (pdftopdf, gstoraster) for a PPD over a PDF and
// returns the CUPS raster it produces.  Ghostscript is pinned as the
// renderer, so grey levels are repeatable.
// `copies` is the job's copy count, as CUPS passes it to the filters.
std::string rasterFromPdf(const std::string& ppd, const std::string& pdf,
                          const std::string& options = "", int copies = 1);

}  // namespace testing_support
