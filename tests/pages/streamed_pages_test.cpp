// Pages dithered line by line as they arrive: whole jobs give the same
// printer bytes on the vector and the plain halftoning kernels and at 1, 2
// and 4 coder threads, the stream inspector (JBIG-KIT underneath) reads
// them, and a 1200-dpi page prints in less address space than its 8-bit
// page would take.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

using namespace testing_support;

namespace {

// Every grey level, scattered so that neighbours differ.
std::vector<uint8_t> pattern() {
  std::vector<uint8_t> p(251);
  for (int i = 0; i < 251; ++i) p[i] = static_cast<uint8_t>((i * 37 + 11) % 256);
  return p;
}

// The job header carries the time of day to the minute; the rest must match.
std::string without_clock(std::string s) {
  const std::string key = "@PJL JOBTIME=";
  const size_t at = s.find(key);
  if (at != std::string::npos) s.erase(at, s.find('\n', at) - at);
  return s;
}

ProcessResult run_filter(const std::string& ppd, const std::string& options, const std::string& raster,
                         const std::vector<std::string>& env) {
  ProcessOptions o;
  o.stdinData = raster;
  o.env = env;
  o.env.push_back("PPD=" + ppdPath(ppd));
  return runProcess({binPath("rasterfilter"), "7", "bob", "streamed", "1", options}, o);
}

// The inspector decodes every page's JBIG data and checks the framing.
void expect_readable(const std::string& stream, const std::string& what) {
  TempDir dir;
  writeFile(dir.file("job.prn"), stream);
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  const ProcessResult check = runProcess({binPath("prndecode"), "--check", dir.file("job.prn")}, quiet);
  EXPECT_EQ(check.exitStatus, 0) << what << "\n" << check.out << check.err;
}

}  // namespace

TEST(StreamedPages, EveryJobGivesTheSameBytesOnEveryKernelSetAndCoderThreadCount) {
  const RasterPage a4{greyHeader(595, 842), pattern()};
  const RasterPage a5{greyHeader(420, 595), pattern()};
  const RasterPage a4at1200{greyHeader(595, 842, 1200), pattern()};
  const struct Job {
    const char* ppd;
    const char* options;
    std::vector<RasterPage> pages;
  } jobs[] = {
      // Band mode, turned half (this model has no duplex unit: duplex
      // would be by hand, with its pause for the user).
      {"tesvel-tz3010.ppd", "ImageRotation=True", {a4, a4}},
      {"tesvel-txg.ppd", "DPI1200=True NegativePrint=True", {a4}},
      // One image a page: four levels fed long edge first, turned half too.
      {"tesvel-tm4010.ppd", "DPI1200=True FeedLongEdge=True ImageRotation=True", {a5}},
      {"tesvel-tc1110.ppd", "NegativePrint=True ImageRotation=True", {a4at1200}},
      // The widened 1200-dpi lines of the ModelListA models.
      {"tesvel-txa.ppd", "DPI1200=True", {a4}},
  };
  const std::vector<std::vector<std::string>> settings = {
      {"TESVEL_HALFTONE_ISA=portable", "TESVEL_JBIG_THREADS=1"},
      {"TESVEL_HALFTONE_ISA=portable", "TESVEL_JBIG_THREADS=4"},
      {"TESVEL_JBIG_THREADS=1"},
      {"TESVEL_JBIG_THREADS=2"},
      {"TESVEL_JBIG_THREADS=4"},
  };
  for (const Job& job : jobs) {
    const std::string raster = writeRaster(job.pages);
    const ProcessResult reference = run_filter(job.ppd, job.options, raster, {});
    ASSERT_EQ(reference.exitStatus, 0) << job.ppd << reference.err;
    expect_readable(reference.out, job.ppd);
    for (const std::vector<std::string>& env : settings) {
      const ProcessResult r = run_filter(job.ppd, job.options, raster, env);
      const std::string what = std::string(job.ppd) + " " + env[0] + (env.size() > 1 ? " " + env[1] : "");
      EXPECT_EQ(r.exitStatus, 0) << what;
      EXPECT_TRUE(without_clock(r.out) == without_clock(reference.out)) << what << ": printer bytes differ";
      EXPECT_EQ(r.err, reference.err) << what;
    }
  }
}

// The 8-bit A4 page at 1200 dpi alone is 9472 x 13568 bytes (128 MB); the
// filter holds only the 1-bit page (16 MB) and a few lines.
TEST(StreamedPages, A1200DpiPagePrintsWithinLessAddressSpaceThanIts8BitPage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#else
  constexpr rlim_t kLimit = rlim_t{100} << 20;
  TempDir dir;
  writeFile(dir.file("job.ras"), writeRaster({RasterPage{greyHeader(595, 842, 1200), pattern()}}));
  const std::string bin = binPath("rasterfilter"), ppd = "PPD=" + ppdPath("tesvel-tc1110.ppd");
  const std::string input = dir.file("job.ras"), output = dir.file("job.prn"), log = dir.file("log.txt");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit limit{kLimit, kLimit};
    setrlimit(RLIMIT_AS, &limit);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    const char* argv[] = {bin.c_str(), "1", "bob", "big", "1", "", input.c_str(), nullptr};
    const char* envp[] = {ppd.c_str(), nullptr};
    execve(bin.c_str(), const_cast<char**>(argv), const_cast<char**>(envp));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(log);
  EXPECT_EQ(readFile(log).find("Fail"), std::string::npos) << readFile(log);
  expect_readable(readFile(output), "1200 dpi under a 100 MB address-space limit");
  EXPECT_GT(readFile(output).size(), 100000u);
#endif
}
