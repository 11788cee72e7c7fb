// Helpers of the jobwrapper tests over the shared ones (tests/common): the
// PPD of a model, the PPD environment of in-process tests, a child whose
// output the test holds up, and real PostScript made by the CUPS chain.
#pragma once

#include <string>
#include <vector>

#include "piped_process.h"
#include "test_support.h"

namespace jwtest {

using testing_support::binPath;
using testing_support::countOf;
using testing_support::fileExists;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::readFile;
using testing_support::runProcess;
using testing_support::TempDir;
using testing_support::writeFile;

std::string ppdPath(const std::string& model);  // <build>/ppd/tesvel-ps-<model>.ppd

// Sets PPD for the test process (in-process tests) and puts it back.
class ScopedPpd {
 public:
  explicit ScopedPpd(const std::string& path);
  ~ScopedPpd();

 private:
  std::string old_;
  bool had_;
};

// A child whose standard output is a pipe read by the test, so that the
// test can hold the job up; its standard input is empty, its standard
// error a file.  Its time-outs grow in sanitizer builds (deadlineSeconds).
struct ChildLogDir {
  TempDir logDir;  // a base before PipedProcess: made before the child starts
};
class Child : private ChildLogDir, public testing_support::PipedProcess {
 public:
  Child(const std::vector<std::string>& argv, const ProcessOptions& opts)
      : PipedProcess(argv, opts, logDir.file("err")) {
    closeInput();
  }
  std::string read(size_t n, int timeoutSeconds = 10) {
    return PipedProcess::read(n, testing_support::deadlineSeconds(timeoutSeconds));
  }
  std::string readToEnd(int timeoutSeconds = 10) { return read(~size_t{0} / 2, timeoutSeconds); }
  int wait(int timeoutSeconds = 10) {
    return finish(testing_support::deadlineSeconds(timeoutSeconds));
  }
  std::string errText() { return errSoFar(); }
};

// A PDF of `pages` pages, each with `linesPerPage` lines of text, made by
// Ghostscript from a PostScript program written here; returns its path.
std::string makePdf(const std::string& dir, int pages, int linesPerPage = 3,
                    int widthPt = 595, int heightPt = 842);

// The PostScript jobwrapper receives from CUPS for the PPD: cupsfilter runs
// pdftopdf, pdftops (Ghostscript pinned as renderer) and pstops.
std::string chainPostScript(const std::string& ppd, const std::string& pdf,
                            const std::vector<std::string>& options, int copies = 1,
                            const std::string& title = "Test page");

}  // namespace jwtest
