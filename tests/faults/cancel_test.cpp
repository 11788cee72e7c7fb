// Jobs stopped at any point: CUPS sends SIGTERM when a job is cancelled and
// SIGKILL when a filter does not go.  After SIGTERM the printer must still
// get a whole job (the pages sent so far and the job end); after either
// signal no page store may be left in $TMPDIR.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fault_support.h"
#include "piped_process.h"
#include "test_support.h"

using namespace testing_support;
using namespace faults;

namespace {

// Pages of a grey ramp across, big enough that the printer data of a job
// spans several pipe buffers, so the signal points fall at different stages.
std::string rampRaster(int pages, unsigned copies, bool duplex) {
  RasterPage p{greyHeader(298, 420), {}};
  for (int x = 0; x < 256; ++x) p.fill.push_back(static_cast<uint8_t>(x));
  p.header.NumCopies = copies;
  p.header.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
  return writeRaster(std::vector<RasterPage>(static_cast<size_t>(pages), p));
}

struct Job {
  const char* what;
  const char* ppd;
  const char* options;
  std::string raster;
};

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<std::string> leftovers;
};

// Starts every run of a job at once (a manual-duplex job waits 10 seconds
// at its end), each sending `signo` once `after[i]` bytes of printer data
// have come out (no signal for after[i] == 0).
std::vector<Outcome> runStopped(const Job& job, int signo, const std::vector<size_t>& after) {
  TempDir inputs;
  writeFile(inputs.file("job.ras"), job.raster);
  std::vector<std::unique_ptr<TempDir>> tmps;
  std::vector<std::unique_ptr<PipedProcess>> runs;
  for (size_t i = 0; i < after.size(); ++i) {
    tmps.push_back(std::make_unique<TempDir>());
    runs.push_back(std::make_unique<PipedProcess>(filterArgs("1", job.options, inputs.file("job.ras")),
                                                  filterOptions(job.ppd, *tmps.back()),
                                                  inputs.file("err" + std::to_string(i))));
  }
  // Each run is drained by its own thread, so that none waits on another.
  std::vector<Outcome> outcomes(after.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < after.size(); ++i) {
    threads.emplace_back([&, i] {
      if (after[i] > 0) {
        runs[i]->read(after[i], deadlineSeconds(60));
        runs[i]->signal(signo);
      }
      outcomes[i].status = runs[i]->finish(deadlineSeconds(60));
      outcomes[i].out = runs[i]->out;
      outcomes[i].err = runs[i]->errSoFar();
      outcomes[i].leftovers = dirEntries(tmps[i]->path());
    });
  }
  for (std::thread& t : threads) t.join();
  return outcomes;
}

std::vector<Job> jobs() {
  return {
      {"plain job", "tesvel-tc1110.ppd", "", rampRaster(4, 1, false)},
      {"collated copies", "tesvel-tm4010.ppd", "Collate=True", rampRaster(2, 3, false)},
      {"manual duplex", "tesvel-tz3010.ppd", "Duplex=DuplexNoTumble", rampRaster(3, 1, true)},
  };
}

}  // namespace

TEST(Cancellation, SigtermAnywhereLeavesAWholeJobAndSigkillLeavesNoStore) {
  int termPoints = 0, killPoints = 0, leftovers = 0, invalid = 0;
  for (const Job& job : jobs()) {
    const Outcome whole = runStopped(job, 0, {0})[0];
    ASSERT_EQ(whole.status, 0) << job.what << "\n" << whole.err;
    const size_t size = whole.out.size();
    ASSERT_GT(size, 8u * 65536) << job.what << ": too little printer data to stop it at many points";

    // SIGTERM from the first byte to after the last (the manual-duplex
    // job's closing wait); SIGKILL in between.
    std::vector<size_t> term, kill;
    for (size_t k = 0; k <= 8; ++k) term.push_back(std::max<size_t>(1, size * k / 8));
    for (size_t k = 1; k < 8; k += 2) kill.push_back(size * k / 8);

    const std::vector<Outcome> termed = runStopped(job, SIGTERM, term);
    for (size_t i = 0; i < termed.size(); ++i) {
      const Outcome& o = termed[i];
      SCOPED_TRACE(std::string(job.what) + ", SIGTERM after " + std::to_string(term[i]) + " bytes");
      ++termPoints;
      EXPECT_TRUE(o.status == 0 || o.status == 1) << o.status << "\n" << o.err;
      const std::string violation = streamViolation(o.out);
      EXPECT_EQ(violation, "");
      EXPECT_TRUE(o.leftovers.empty());
      invalid += !violation.empty();
      leftovers += static_cast<int>(o.leftovers.size());
    }
    const std::vector<Outcome> killed = runStopped(job, SIGKILL, kill);
    for (size_t i = 0; i < killed.size(); ++i) {
      SCOPED_TRACE(std::string(job.what) + ", SIGKILL after " + std::to_string(kill[i]) + " bytes");
      ++killPoints;
      EXPECT_EQ(killed[i].status, 128 + SIGKILL);
      EXPECT_TRUE(killed[i].leftovers.empty());
      leftovers += static_cast<int>(killed[i].leftovers.size());
    }
  }
  std::printf("SIGTERM at %d points, SIGKILL at %d points, %d leftover temporary files, %d invalid streams\n",
              termPoints, killPoints, leftovers, invalid);
}
