// Helpers of the jobwrapper tests: temporary directories, files, child
// processes started with an argument vector, and real PostScript made by
// the CUPS chain.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace jwtest {

std::string binPath(const std::string& program);   // <build>/bin/<program>
std::string ppdPath(const std::string& model);     // <build>/ppd/tesvel-ps-<model>.ppd
std::string captureBackendPath();

// A directory removed with everything in it when it goes.
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

// Sets PPD for the test process (in-process tests) and puts it back.
class ScopedPpd {
 public:
  explicit ScopedPpd(const std::string& path);
  ~ScopedPpd();

 private:
  std::string old_;
  bool had_;
};

struct ProcessResult {
  int exitStatus = -1;  // exit code, or 128 + signal
  std::string out;
  std::string err;
  double seconds = 0;   // wall time
};

struct ProcessOptions {
  std::string argv0;               // what the child sees as argv[0] (default: the path)
  std::vector<std::string> env;    // NAME=VALUE added to (or replacing in) the parent's
  std::string stdinData;           // fed through a file
  int timeoutSeconds = 30;         // killed after this
};

// Runs argv[0] (a path) with the argument vector, never through a shell.
// Descriptors above 2 are closed in the child, so no side channel exists.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& opts = {});

// A child whose standard output is a pipe read by the test.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const ProcessOptions& opts);
  ~Child();  // kills and reaps the child if it still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads at least n bytes of output (or up to end of output / the time-out).
  std::string read(size_t n, int timeoutSeconds = 10);
  std::string readToEnd(int timeoutSeconds = 10);
  void signal(int sig);
  int wait(int timeoutSeconds = 10);  // exit status as in ProcessResult
  std::string errText() const;        // its standard error so far

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string errPath_;
  TempDir dir_;
};

// A PDF of `pages` pages, each with `linesPerPage` lines of text, made by
// Ghostscript from a PostScript program written here.
std::string makePdf(const std::string& dir, int pages, int linesPerPage = 3,
                    int widthPt = 595, int heightPt = 842);

// The PostScript jobwrapper receives from CUPS for the PPD: cupsfilter runs
// pdftopdf, pdftops (Ghostscript pinned as renderer) and pstops.
std::string chainPostScript(const std::string& ppd, const std::string& pdf,
                            const std::vector<std::string>& options, int copies = 1,
                            const std::string& title = "Test page");

// Count of non-overlapping occurrences.
size_t countOf(const std::string& text, const std::string& needle);

}  // namespace jwtest
