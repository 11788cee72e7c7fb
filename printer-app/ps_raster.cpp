// PWG and Apple raster from a client on a PostScript model.  PAPPL hands
// the driver the pages line by line; they go on as PWG raster into the
// chain a CUPS queue with the PPD runs for raster (CUPS's raster-to-PDF
// filter first), while a second thread copies jobwrapper's output to the
// printer, so neither side waits for the other.  A page of another size
// than the job's paper is placed on it first, as print-scaling says.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <memory>
#include <thread>

#include "page_layout.h"
#include "ps_job.h"
#include "raster_scaling.h"

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
  std::unique_ptr<RasterPlacer> placer;
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
  // The job's paper in points, less the PPDs' 12-point edges.
  PaperArea paper{options->media.size_width * 72.0 / 2540, options->media.size_length * 72.0 / 2540, 12, 12};
  run->placer = std::make_unique<RasterPlacer>(pageLayoutOf(job).scaling, paper);
  RasterRun* r = run.get();
  run->pump = std::thread([r] { r->outcome = r->ps.run(); });
  papplJobSetData(job, run.release());
  return true;
}

bool start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
  RasterRun* run = run_of(job);
  if (run == nullptr || run->inputFailed) return false;
  // A page of another size becomes a page of the paper, at its resolution.
  cups_page_header2_t placed = options->header;
  const int w = options->media.size_width, l = options->media.size_length;
  placed.PageSize[0] = static_cast<unsigned>(std::lround(w * 72.0 / 2540));
  placed.PageSize[1] = static_cast<unsigned>(std::lround(l * 72.0 / 2540));
  placed.cupsPageSize[0] = static_cast<float>(w * 72.0 / 2540);
  placed.cupsPageSize[1] = static_cast<float>(l * 72.0 / 2540);
  placed.cupsWidth = static_cast<unsigned>(std::lround(w * placed.HWResolution[0] / 2540.0));
  placed.cupsHeight = static_cast<unsigned>(std::lround(l * placed.HWResolution[1] / 2540.0));
  placed.cupsInteger[CUPS_RASTER_PWG_ImageBoxLeft] = placed.cupsInteger[CUPS_RASTER_PWG_ImageBoxTop] = 0;
  placed.cupsInteger[CUPS_RASTER_PWG_ImageBoxRight] = placed.cupsWidth;
  placed.cupsInteger[CUPS_RASTER_PWG_ImageBoxBottom] = placed.cupsHeight;
  snprintf(placed.cupsPageSizeName, sizeof placed.cupsPageSizeName, "%s", options->media.size_name);
  return run->placer->startPage(job, page, options->header, options->header, &placed, run->raster,
                               &run->inputFailed);
}

bool write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                const unsigned char* line) {
  RasterRun* run = run_of(job);
  if (run == nullptr || run->inputFailed) return false;
  if (run->placer->placing()) return run->placer->push(line);
  cupsRasterWritePixels(run->raster, const_cast<unsigned char*>(line), options->header.cupsBytesPerLine);
  return !run->inputFailed;
}

bool end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterRun* run = run_of(job);
  return run != nullptr && !run->inputFailed && (!run->placer->placing() || run->placer->finish());
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
