// A raster job through the whole filter in this process: the raster comes
// from the input, the printer stream goes to memory and must then pass the
// stream inspector's checks.  Input: one control byte (bits 0-2 the model,
// 3 collated copies, 4 duplex, 5 DPI1200, 6 manual duplex), then raster.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "job_loop.h"
#include "job_state.h"
#include "model.h"
#include "test_support.h"

namespace {

const char* const kModels[8] = {"tesvel-tc1110.ppd", "tesvel-tc2110.ppd", "tesvel-tz3010.ppd",
                                "tesvel-txd.ppd",    "tesvel-tm4010.ppd", "tesvel-txa.ppd",
                                "tesvel-txb.ppd",    "tesvel-txc.ppd"};

int memory_file(const uint8_t* data, size_t size) {
  const int fd = memfd_create("fuzz", MFD_CLOEXEC);
  if (fd >= 0 && size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string contents(int fd) {
  std::string out(static_cast<size_t>(lseek(fd, 0, SEEK_END)), '\0');
  if (!out.empty() && pread(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) out.clear();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const int in = memory_file(data + 1, size - 1), out = memory_file(nullptr, 0);
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (in < 0 || out < 0 || quiet < 0) std::abort();

  rf::resetJobState();
  rf::g_job.outputFd = out;
  rf::g_job.diagFd = quiet;
  rf::g_job.keepAliveSeconds = 0;         // no timer ticks into the next run
  rf::g_job.manualDuplexWaitSeconds = 0;  // no pause at the end of manual duplex
  const std::string ppd = testing_support::ppdPath(kModels[control & 7]);
  FUZZ_CHECK(access(ppd.c_str(), R_OK) == 0);  // without its PPD every run would stop at once
  setenv("PPD", ppd.c_str(), 1);
  std::string options = "job-uuid=x";
  if (control & 8) options += " Collate=True";
  if (control & 16) options += " Duplex=DuplexNoTumble";
  if (control & 32) options += " DPI1200=True";
  if (control & 64) options += " ManualDuplex=True";
  std::string file = "/proc/self/fd/" + std::to_string(in);
  std::vector<std::string> args = {"rasterfilter", "1", "fuzz", "title", "1", options, file};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int status = rf::runRasterJob(7, argv.data());
  FUZZ_CHECK(status == 0 || status == 1);

  const std::string stream = contents(out);
  if (!stream.empty()) {
    prndecode::Report r = prndecode::inspect(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
                                             prndecode::Options{}, nullptr);
    FUZZ_CHECK(r.violations.empty());
  }
  close(in);
  close(out);
  close(quiet);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  using namespace testing_support;
  std::vector<std::string> seeds;
  RasterPage a6{greyHeader(298, 420), {0, 64, 128, 255}};
  a6.linesToWrite = 40;
  RasterPage small{greyHeader(72, 72), {0, 255}};
  RasterPage longA5{greyHeader(421, 595), {200, 30}};
  longA5.linesToWrite = 10;
  int control = 0;
  for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED, CUPS_RASTER_WRITE_PWG}) {
    const std::string raster = writeRaster({small, a6, longA5}, mode);
    for (int i = 0; i < 4; ++i, control += 21) seeds.push_back(std::string(1, static_cast<char>(control)) + raster);
  }
  return seeds;
}
