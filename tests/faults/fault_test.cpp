// rasterfilter when things go wrong around it: a printer stream that fails
// or goes away, raster cut at any point, and memory that is not cleared.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fault_support.h"
#include "test_support.h"

using namespace testing_support;
using namespace faults;

namespace {

std::string twoPageRaster(cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED) {
  RasterPage a{greyHeader(144, 144), {0, 90, 180, 255}};
  RasterPage b{greyHeader(144, 144), {255, 40}};
  return writeRaster({a, b}, mode);
}

// Runs a filter on a job file with its standard output on `out` (-1:
// closed); the job comes as the file argument, or with `viaStdin` on
// standard input.  rasterfilter, unless `program` names another filter.
int runWithOutput(const std::string& ppd, const std::string& raster, const std::string& options, int out,
                  const TempDir& tmp, std::string* err, bool viaStdin = false,
                  const std::string& program = "rasterfilter") {
  writeFile(tmp.file("..job.ras"), raster);
  const int errFd = open(tmp.file("..err").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  const int in = open(viaStdin ? tmp.file("..job.ras").c_str() : "/dev/null", O_RDONLY);
  std::vector<std::string> args = {binPath(program), "3", "u", "t", "2", options};
  if (!viaStdin) args.push_back(tmp.file("..job.ras"));
  pid_t pid = spawnChild(args, filterOptions(ppd, tmp), in, out, errFd);
  close(in);
  close(errFd);
  int status = 0;
  waitpid(pid, &status, 0);
  *err = readFile(tmp.file("..err"));
  unlink(tmp.file("..job.ras").c_str());
  unlink(tmp.file("..err").c_str());
  return exitStatusOf(status);
}

}  // namespace

TEST(PrinterStreamFaults, AFailingOrVanishingStreamEndsTheJobWithStatusOneAndNoLeftovers) {
  const std::string raster = twoPageRaster();
  for (const char* ppd : {"tesvel-tc1110.ppd", "tesvel-tz3010.ppd", "tesvel-tm4010.ppd"}) {
    // A full disk behind the back end.
    {
      TempDir tmp;
      const int full = open("/dev/full", O_WRONLY);
      std::string err;
      EXPECT_EQ(runWithOutput(ppd, raster, "Collate=True", full, tmp, &err), 1) << ppd << err;
      close(full);
      EXPECT_NE(err.find("ERROR: "), std::string::npos) << ppd;
      EXPECT_TRUE(dirEntries(tmp.path()).empty()) << ppd;
    }
    // No standard output at all: nothing the filter opens (the raster
    // file, a page store) may take its place.
    for (bool viaStdin : {false, true}) {
      TempDir tmp;
      std::string err;
      EXPECT_EQ(runWithOutput(ppd, raster, "Collate=True", -1, tmp, &err, viaStdin), 1) << ppd << err;
      EXPECT_NE(err.find("ERROR: "), std::string::npos) << ppd;
      EXPECT_TRUE(dirEntries(tmp.path()).empty()) << ppd;
    }
    // A back end that reads 100 bytes and goes away, and one that never reads.
    for (size_t keep : {size_t{100}, size_t{0}}) {
      TempDir tmp;
      int p[2];
      ASSERT_EQ(pipe(p), 0);
      std::thread reader([&] {
        char buf[100];
        size_t got = 0;
        while (got < keep) {
          ssize_t n = read(p[0], buf, keep - got);
          if (n <= 0) break;
          got += static_cast<size_t>(n);
        }
        close(p[0]);
      });
      std::string err;
      const int status = runWithOutput(ppd, raster, "Collate=True", p[1], tmp, &err);
      close(p[1]);
      reader.join();
      EXPECT_EQ(status, 1) << ppd << " keep " << keep << err;
      EXPECT_NE(err.find("ERROR: The printer stream was closed"), std::string::npos) << ppd << err;
      EXPECT_TRUE(dirEntries(tmp.path()).empty()) << ppd;
    }
  }
}

TEST(PrinterStreamFaults, JobwrapperReportsAJobThePrinterStreamDidNotTake) {
  const std::string job =
      "\x1b%-12345X@PJL JOB NAME = \"t\"\n@PJL ENTER LANGUAGE = POSTSCRIPT\n%!PS-Adobe-3.0\n%%Pages: 1\n"
      "%%Page: 1 1\nshowpage\n%%EOF\n\x1b%-12345X@PJL EOJ\n\x1b%-12345X";
  for (const char* ppd : {"tesvel-ps-tp3010.ppd", "tesvel-ps-tp5010.ppd"}) {
    for (bool closed : {false, true}) {
      SCOPED_TRACE(std::string(ppd) + (closed ? ", standard output closed" : ", /dev/full"));
      TempDir tmp;
      const int full = closed ? -1 : open("/dev/full", O_WRONLY);
      std::string err;
      EXPECT_EQ(runWithOutput(ppd, job, "Collate=True", full, tmp, &err, closed, "jobwrapper"), 1) << err;
      if (full >= 0) close(full);
      EXPECT_NE(err.find("ERROR: The printer stream was closed"), std::string::npos) << err;
      EXPECT_TRUE(dirEntries(tmp.path()).empty());
    }
  }
}

TEST(CutInput, RasterCutAnywhereNeverCrashesAndWhatIsSentIsAWholeJob) {
  const std::string raster = twoPageRaster(CUPS_RASTER_WRITE);
  std::vector<size_t> cuts;
  for (size_t n = 0; n < 2000; n += 37) cuts.push_back(n);               // inside the headers
  for (size_t n = 2000; n < raster.size(); n += raster.size() / 40) cuts.push_back(n);  // inside the lines
  int jobs = 0, crashes = 0, hangs = 0, invalid = 0;
  for (const char* ppd : {"tesvel-tc1110.ppd", "tesvel-tz3010.ppd", "tesvel-tm4010.ppd"}) {
    for (size_t cut : cuts) {
      TempDir tmp;
      ProcessOptions o = filterOptions(ppd, tmp);
      o.stdinFromDevNull = false;
      o.stdinData = raster.substr(0, cut);
      o.timeoutSeconds = deadlineSeconds(30);
      ProcessResult r = runProcess({binPath("rasterfilter"), "3", "u", "t", "1", ""}, o);
      ++jobs;
      if (r.exitStatus < 0) ++hangs;
      if (r.exitStatus >= 2) ++crashes;
      EXPECT_TRUE(r.exitStatus == 0 || r.exitStatus == 1) << ppd << " cut at " << cut << r.err;
      const std::string violation = streamViolation(r.out);
      if (!violation.empty()) ++invalid;
      EXPECT_EQ(violation, "") << ppd << " cut at " << cut;
    }
  }
  std::printf("%d truncated jobs, %d crashes, %d hangs, %d invalid streams\n", jobs, crashes, hangs, invalid);
}

TEST(UninitialisedMemory, TheSameJobGivesTheSameBytesWhateverMemoryHeldBefore) {
  const std::string raster = twoPageRaster();
  auto withoutClock = [](std::string s) {
    // The job header carries the time of day; everything else must match.
    const std::string key = "@PJL JOBTIME=";
    const size_t at = s.find(key);
    if (at != std::string::npos) s.erase(at, s.find('\n', at) - at);
    return s;
  };
  // Printers that duplex by themselves: manual duplex would add its 10-second pause.
  for (const char* ppd : {"tesvel-tc1110.ppd", "tesvel-txd.ppd", "tesvel-tm4010.ppd", "tesvel-txb.ppd"}) {
    std::string outputs[2];
    int i = 0;
    for (const char* perturb : {"MALLOC_PERTURB_=85", "MALLOC_PERTURB_=170"}) {
      TempDir tmp;
      ProcessOptions o = filterOptions(ppd, tmp);
      o.env.push_back(perturb);
      o.stdinFromDevNull = false;
      o.stdinData = raster;
      ProcessResult r = runProcess({binPath("rasterfilter"), "3", "u", "t", "2", "Collate=True Duplex=DuplexNoTumble"}, o);
      ASSERT_EQ(r.exitStatus, 0) << ppd << r.err;
      outputs[i++] = withoutClock(r.out);
    }
    EXPECT_FALSE(outputs[0].empty());
    EXPECT_TRUE(outputs[0] == outputs[1]) << ppd << ": the printer data depends on uninitialised memory";
  }
}

TEST(UninitialisedMemory, JobwrapperSendsTheSameBytesWhateverMemoryHeldBefore) {
  // A small PostScript job as CUPS hands it over (the PPD's job-control
  // lines around it), on the block-mode and the job-control road, with
  // collated copies (the "_m" passes).
  const std::string job =
      "\x1b%-12345X@PJL JOB NAME = \"t\" DISPLAY = \"42 alice t\"\n@PJL ENTER LANGUAGE = POSTSCRIPT\n"
      "%!PS-Adobe-3.0\n%%Pages: 2\n%%BeginSetup\n<</DeferredMediaSelection true /PageSize [595 842]>> "
      "setpagedevice\n%%EndSetup\n%%Page: 1 1\n/Helvetica findfont 20 scalefont setfont 72 720 moveto "
      "(one) show showpage\n%%Page: 2 2\n72 720 moveto (two) show showpage\n%%EOF\n"
      "\x1b%-12345X@PJL EOJ\n\x1b%-12345X";
  for (const char* ppd : {"tesvel-ps-tp3010.ppd", "tesvel-ps-tp5010.ppd"}) {
    std::string outputs[2];
    int i = 0;
    for (const char* perturb : {"MALLOC_PERTURB_=85", "MALLOC_PERTURB_=170"}) {
      TempDir tmp, inputs;
      writeFile(inputs.file("job.ps"), job);
      ProcessOptions o = filterOptions(ppd, tmp);
      o.env.push_back(perturb);
      o.argv0 = "tesvel";
      ProcessResult r = runProcess({binPath("jobwrapper"), "42", "alice", "Test page", "2", "Collate=True",
                                    inputs.file("job.ps")}, o);
      ASSERT_EQ(r.exitStatus, 0) << ppd << r.err;
      outputs[i++] = r.out;
    }
    EXPECT_FALSE(outputs[0].empty());
    EXPECT_TRUE(outputs[0] == outputs[1]) << ppd << ": the printer data depends on uninitialised memory";
  }
}
