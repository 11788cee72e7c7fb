// A page size of the user's own, asked for through the scheduler as a
// print dialog or lp does, and read back from the printer file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "cupsd_harness.h"
#include "test_support.h"

using namespace testing_support;

TEST(CustomPageSizes, ACustom100x150mmJobThroughCupsdReachesThePrinterAtThatSize) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd runs only as root here";
  CupsdSetup setup;
  setup.filters = {binPath("rasterfilter")};
  PrivateCupsd cupsd(setup);
  ASSERT_TRUE(cupsd.ready()) << cupsd.daemonOutput() << cupsd.errorLog();
  const std::string printerFile = cupsd.outFile("tz3010.prn");
  ProcessResult added = cupsd.addPrinter("tz3010", "file://" + printerFile, ppdPath("tesvel-tz3010.ppd"));
  ASSERT_EQ(added.exitStatus, 0) << added.err;

  TempDir dir;
  writeFile(dir.file("a4.pdf"), makePdf(1));
  std::string why;
  const int job = cupsd.submit("tz3010", dir.file("a4.pdf"), {"-o", "PageSize=Custom.100x150mm"}, &why);
  ASSERT_GT(job, 0) << why;
  ASSERT_EQ(cupsd.waitForJob(job, 120), JobState::Completed) << cupsd.jobLog(job);

  const std::string prn = readFile(printerFile);
  ProcessResult check = inspectStream(prn, {"--check"});
  EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;
  // 100 x 150 mm is a sheet of 283 x 425 points: no paper code of its own
  // (0), its size in dots at 600 dpi, and the image rounded up to 32 pixels
  // across and 8 lines down.
  const std::string listing = inspectStream(prn, {}).out;
  auto record = [&listing](const std::string& name) {
    const size_t at = listing.find("\n" + name + " ");
    return at == std::string::npos ? std::string() : listing.substr(at + 1, listing.find('\n', at + 1) - at - 1);
  };
  EXPECT_NE(record("cmdPageSpec").find(" paperCode=0 "), std::string::npos) << listing;
  EXPECT_NE(record("cmdCustomPaper").find(" paperWidthDots=2358 paperHeightDots=3541 imageWidth=2368 imageHeight=3544 "),
            std::string::npos)
      << listing;
  EXPECT_NE(record("page").find(" width=2368 height=3544 depth=1 "), std::string::npos) << listing;
  EXPECT_NE(record("page").find(" image=decoded"), std::string::npos) << listing;
}
