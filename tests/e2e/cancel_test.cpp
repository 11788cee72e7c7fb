// A job cancelled with `cancel` while our filter is in the middle of its
// pages: cupsd stops the chain with SIGTERM, and what reached the printer
// must still be a whole job (no record cut short, the job end sent), with
// no page store left in the scheduler's temporary directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using testing_support::JobState;

struct CancelCase {
  const char* name;
  const char* ppd;
  std::vector<std::string> options;  // options that make the filter keep page stores
  const char* knownFault;            // why the case is skipped, or nullptr
};

std::ostream& operator<<(std::ostream& os, const CancelCase& c) { return os << c.name; }

const CancelCase kCancelCases[] = {
    // Command-record streams, collated copies kept in the copy store.
    {"CollatedCopiesOnPlatformC", "tesvel-tc1110.ppd", {"-n", "3", "-o", "collate=true"},
     nullptr},
    {"CollatedCopiesOnPlatformZ", "tesvel-tz3010.ppd", {"-n", "3", "-o", "collate=true"},
     nullptr},
    // Chunk stream, the same.
    {"CollatedCopiesOnPlatformM", "tesvel-tm4010.ppd", {"-n", "3", "-o", "collate=true"},
     nullptr},
    // Manual duplex with its odd and even page stores, cancelled once page 2
    // has begun, while output to the printer is off.  Waits 10 s at the end.
    {"ManualDuplexOnPlatformZ", "tesvel-tz3010.ppd",
     {"-o", "sides=two-sided-long-edge", "-o", "ManualDuplex=True"}, nullptr},
};

// Long enough that the filter is still converting pages when the cancel
// arrives, whatever the machine.
constexpr int kDocumentPages = 40;

class CancelledJob : public e2e::CupsdTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelledJob, LeavesAWholeStreamAndNoTemporaryFiles) {
  const CancelCase& c = GetParam();
  if (c.knownFault != nullptr && getenv("E2E_RUN_KNOWN_FAULTS") == nullptr)
    GTEST_SKIP() << c.knownFault;
  std::string queue = addQueue(c.ppd);
  std::string doc = e2e::writeDocument(work.path(), e2e::Doc::Pdf, kDocumentPages);
  std::vector<std::string> before = cupsd->tempFiles();
  int job = submit(queue, doc, c.options);
  ASSERT_GT(job, 0);

  ASSERT_TRUE(cupsd->waitForLog(job, "PAGE: 2 ", testing_support::deadlineSeconds(60)))
      << cupsd->jobLog(job);
  testing_support::ProcessResult r =
      cupsd->run({"/usr/bin/cancel", queue + "-" + std::to_string(job)});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  expectJobEnded(job, JobState::Canceled, 30);
  // The state changes at once; the file is whole only when our filter has
  // gone (cupsd logs every child it reaps).
  ASSERT_TRUE(cupsd->waitForLog(job, "/rasterfilter) ", testing_support::deadlineSeconds(30)))
      << cupsd->jobLog(job);

  e2e::PrintedJob printed = e2e::decodePrinterFile(printerFile(queue));
  EXPECT_TRUE(printed.ok) << printed.report << cupsd->jobLog(job);
  EXPECT_GE(printed.pages, 1);
  EXPECT_LT(printed.pages, kDocumentPages) << "the cancel came too late to test anything";

  // Ghostscript, killed mid-page by the cancel, leaves its own gs_* files.
  std::vector<std::string> after = cupsd->tempFiles(), left;
  for (const auto& f : after)
    if (std::find(before.begin(), before.end(), f) == before.end() &&
        f.find("/gs_") == std::string::npos)
      left.push_back(f);
  EXPECT_TRUE(left.empty()) << left.size() << " files left, the first " << left.front();
}

INSTANTIATE_TEST_SUITE_P(Stores, CancelledJob, ::testing::ValuesIn(kCancelCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
