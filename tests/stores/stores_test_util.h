// Helpers of the page-store and colour-management tests: anonymous files
// standing in for the printer stream and the CUPS log, and the stream
// inspector run over what the driver wrote.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fd_capture.h"
#include "job_state.h"
#include "piped_process.h"
#include "test_support.h"

namespace stores_test {

// The filter started as CUPS would (job 42, options as given) on pipes,
// with PPD, TMPDIR and, when not empty, TESVEL_CMS_LIBRARY as its whole
// environment.  Several runs may go at once, so that their closing waits
// overlap.
class FilterRun : public testing_support::PipedProcess {
 public:
  FilterRun(const std::string& program, const std::string& ppd, const std::string& options,
            const std::string& tmpdir, const std::string& cmsLibrary = "")
      : PipedProcess({program, "42", "alice", "report", "1", options},
                     filter_options(ppd, tmpdir, cmsLibrary)) {}

 private:
  static testing_support::ProcessOptions filter_options(const std::string& ppd,
                                                        const std::string& tmpdir,
                                                        const std::string& cmsLibrary);
};

using Capture = testing_support::FdCapture;

// Fresh job state with the printer stream and the CUPS log in captures,
// and $TMPDIR in a private directory (checked empty at the end).
struct StoreFixture : testing::Test {
  void SetUp() override {
    rf::resetJobState();
    rf::g_job.outputFd = out.fd();
    rf::g_job.diagFd = log.fd();
    const char* old = std::getenv("TMPDIR");
    hadTmp = old != nullptr;
    if (old) oldTmp = old;
    setenv("TMPDIR", tmp.path().c_str(), 1);
  }
  void TearDown() override {
    if (hadTmp) setenv("TMPDIR", oldTmp.c_str(), 1);
    else unsetenv("TMPDIR");
    rf::resetJobState();
  }
  Capture out, log;
  testing_support::TempDir tmp;
  bool hadTmp = false;
  std::string oldTmp;
};

using testing_support::dirEntries;

// The stream inspector's reading of a printer file, one token per event:
// "page N" for each page it decoded (N the page's number; just "page" in
// the chunk stream, which carries no numbers), "duplex" for the
// manual-duplex command, "eoj" for the job end after the pages.  dialect: "Z", "C",
// "M" or "" (taken from the stream).
std::vector<std::string> pageSequence(const std::string& stream, const std::string& dialect = "");

// The inspector's listing (--list) of a printer file.
std::string inspectorListing(const std::string& stream, const std::string& dialect = "");

// Runs the inspector with --check; empty when the stream passes, else its
// complaint.
std::string checkStream(const std::string& stream);

}  // namespace stores_test
