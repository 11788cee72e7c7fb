// PWG and Apple raster from a client on a PostScript model.  PAPPL hands
// the driver the pages line by line; they go on as PWG raster into the
// chain a CUPS queue with the PPD runs for raster (CUPS's raster-to-PDF
// filter first), while a second thread copies jobwrapper's output to the
// printer, so neither side waits for the other.
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "ps_job.h"

namespace tpa {

namespace {

struct RasterRun {
  explicit RasterRun(pappl_job_t* job, pappl_device_t* device) : ps(job, device) {}
  ~RasterRun() {
    if (raster) cupsRasterClose(raster);
    ps.closeInput();
    if (pump.joinable()) pump.join();
  }
  PsRun ps;
  cups_raster_t* raster = nullptr;
  std::thread pump;
  JobOutcome outcome;
  bool inputFailed = false;
};

ssize_t write_input(void* ctx, unsigned char* buf, size_t len) {
  RasterRun* run = static_cast<RasterRun*>(ctx);
  if (writeAll(run->ps.input(), buf, len)) return static_cast<ssize_t>(len);
  // The chain has gone (cancelled or failed); its outcome says why.
  run->inputFailed = true;
  return -1;
}

RasterRun* run_of(pappl_job_t* job) { return static_cast<RasterRun*>(papplJobGetData(job)); }

bool start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  auto run = std::make_unique<RasterRun>(job, device);
  std::string why;
  if (!run->ps.start(options, "image/pwg-raster", "", &why)) {
    psJobFailed(job, why);
    return false;
  }
  run->raster = cupsRasterOpenIO(write_input, run.get(), CUPS_RASTER_WRITE_PWG);
  RasterRun* r = run.get();
  run->pump = std::thread([r] { r->outcome = r->ps.run(); });
  papplJobSetData(job, run.release());
  return true;
}

bool start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  RasterRun* run = run_of(job);
  if (run == nullptr || run->inputFailed) return false;
  return cupsRasterWriteHeader2(run->raster, &options->header) != 0;
}

bool write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                const unsigned char* line) {
  RasterRun* run = run_of(job);
  if (run == nullptr || run->inputFailed) return false;
  cupsRasterWritePixels(run->raster, const_cast<unsigned char*>(line), options->header.cupsBytesPerLine);
  return !run->inputFailed;
}

bool end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterRun* run = run_of(job);
  return run != nullptr && !run->inputFailed;
}

bool end_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  std::unique_ptr<RasterRun> run(run_of(job));
  papplJobSetData(job, nullptr);
  if (!run) return false;
  cupsRasterClose(run->raster);
  run->raster = nullptr;
  run->ps.closeInput();  // end of input: the chain finishes the job
  run->pump.join();
  return run->ps.finish(run->outcome);
}

}  // namespace

void setPsPrintCallbacks(pappl_pr_driver_data_t* data) {
  // Whatever goes wrong in a job's step ends that job, never the server;
  // writing a line only writes, and has nothing to throw.
  data->format = kPsPrinterFormat;
  data->rstartjob_cb = [](pappl_job_t* j, pappl_pr_options_t* o, pappl_device_t* d) {
    return psGuarded(j, [&] { return start_job(j, o, d); });
  };
  data->rstartpage_cb = [](pappl_job_t* j, pappl_pr_options_t* o, pappl_device_t* d, unsigned page) {
    return psGuarded(j, [&] { return start_page(j, o, d, page); });
  };
  data->rwriteline_cb = write_line;
  data->rendpage_cb = end_page;
  data->rendjob_cb = [](pappl_job_t* j, pappl_pr_options_t* o, pappl_device_t* d) {
    return psGuarded(j, [&] { return end_job(j, o, d); });
  };
}

}  // namespace tpa
