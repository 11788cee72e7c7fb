// rasterfilter short of room: page stores on a small file system or under a
// file-size limit, and the whole process under an address-space limit.  A
// job that cannot keep its stores still prints what it can and says the
// rest is lost; a page that does not fit in memory is refused cleanly.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fault_support.h"
#include "test_support.h"

using namespace testing_support;
using namespace faults;

namespace {

// Two Letter pages of a grey ramp: over 1 MiB of printer data per copy.
std::string rampJob(unsigned copies) {
  RasterPage p{greyHeader(612, 792), {}};
  for (int x = 0; x < 5100; ++x) p.fill.push_back(static_cast<uint8_t>((x * 7 + x / 3) & 0xff));
  p.header.NumCopies = copies;
  return writeRaster({p, p});
}

// The filter with a resource limit set by prlimit(1) (argument vector, no shell).
ProcessResult runLimited(const std::string& limit, const std::string& ppd, const std::string& options,
                         const std::string& raster, const TempDir& tmp) {
  TempDir inputs;
  writeFile(inputs.file("job.ras"), raster);
  std::vector<std::string> args = {"/usr/bin/prlimit", limit, "--"};
  for (const std::string& a : filterArgs("1", options, inputs.file("job.ras"))) args.push_back(a);
  ProcessOptions o = filterOptions(ppd, tmp);
  o.timeoutSeconds = deadlineSeconds(120);
  return runProcess(args, o);
}

// The stream holds `pages` decoded pages and passes the check.
void expectPages(const std::string& stream, int pages, const std::string& what) {
  EXPECT_EQ(streamViolation(stream), "") << what;
  EXPECT_EQ(countOf(inspectStream(stream, {"--list"}).out, "\npage "), static_cast<size_t>(pages)) << what;
}

bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

}  // namespace

TEST(StoreLimits, StoresThatCannotGrowLoseTheCopiesNotTheJob) {
  const std::string job = rampJob(3);
  struct Case {
    const char* what;
    std::string limit;  // prlimit option; empty: the stores live on a 1 MiB tmpfs
  } cases[] = {{"file-size limit of 256 KiB", "--fsize=262144"}, {"1 MiB tmpfs", ""}};
  for (const Case& c : cases) {
    for (const char* ppd : {"tesvel-tz3010.ppd", "tesvel-tm4010.ppd"}) {
      SCOPED_TRACE(std::string(c.what) + ", " + ppd);
      TempDir tmp;
      bool mounted = false;
      if (c.limit.empty()) {
        if (geteuid() != 0 || mount("tesvel-test", tmp.path().c_str(), "tmpfs", 0, "size=1m,mode=0700") != 0) {
          std::printf("%s: skipped (needs root and tmpfs)\n", c.what);
          continue;
        }
        mounted = true;
      }
      const ProcessResult r = runLimited(c.limit.empty() ? "--core=0" : c.limit, ppd, "Collate=True", job, tmp);
      const std::vector<std::string> left = dirEntries(tmp.path());
      if (mounted) umount(tmp.path().c_str());
      // The first copy reaches the printer whole; the copies that needed
      // the store are reported lost, and the job counts as failed.
      EXPECT_EQ(r.exitStatus, 1) << r.err;
      EXPECT_NE(r.err.find("ERROR: The stored pages could not be written in full"), std::string::npos) << r.err;
      expectPages(r.out, 2, c.what);
      EXPECT_TRUE(left.empty());
    }
  }
}

TEST(MemoryLimits, ALegal1200DpiPageFitsIn512MiBAndFailsCleanlyIn32MiB) {
  if (underAddressSanitizer()) GTEST_SKIP() << "the address checker reserves more address space than the limits";
  RasterPage legal{greyHeader(612, 1008, 1200), {0, 64, 128, 192, 255}};
  const std::string raster = writeRaster({legal});
  {
    TempDir tmp;
    const ProcessResult r = runLimited("--as=536870912", "tesvel-tc1110.ppd", "", raster, tmp);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    expectPages(r.out, 1, "512 MiB");
  }
  {
    TempDir tmp;
    // The filter streams the page into its 1-bit form (21 MB here) and
    // fits in about 48 MiB of address space; 32 MiB cannot hold that page.
    const ProcessResult r = runLimited("--as=33554432", "tesvel-tc1110.ppd", "", raster, tmp);
    EXPECT_TRUE(r.exitStatus == 0 || r.exitStatus == 1) << r.exitStatus << "\n" << r.err;
    EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << r.err;
    // The first page could not get its memory: the printer gets nothing.
    EXPECT_EQ(r.out.size(), 0u);
    EXPECT_TRUE(dirEntries(tmp.path()).empty());
  }
}
