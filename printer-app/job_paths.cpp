// The two ways a job reaches the filter.
//
// Raster (PWG and Apple raster, JPEG, PNG): PAPPL decodes the document and
// hands the driver one line at a time; the lines go to the filter as CUPS
// raster, each page under the header the model's PPD gives the job, with
// the page geometry of the data.  A second thread copies the filter's
// output to the printer meanwhile, so neither side waits for the other.
//
// Documents (PDF, PostScript): CUPS's pdftopdf lays the pages out on the
// paper, then Ghostscript renders them into the filter's input, with the
// arguments CUPS's own Ghostscript filter would use for that PPD.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

#include "app_paths.h"
#include "job_sink.h"
#include "jpeg_filter.h"
#include "ppd_header.h"
#include "print_job.h"
#include "page_layout.h"
#include "ps_job.h"
#include "raster_scaling.h"

namespace tpa {

namespace {

const DriverModel* model_of(pappl_job_t* job) {
  return findDriver(papplPrinterGetDriverName(papplJobGetPrinter(job)));
}

// What a job needs before its first byte: settings, option text, header.
struct Prepared {
  const DriverModel* model = nullptr;
  JobRequest request;
  std::string options;
  cups_page_header2_t header{};
  std::string prompt;  // the model's manual-duplex prompt
};

bool prepare(pappl_job_t* job, const pappl_pr_options_t* options, Prepared* p, std::string* why) {
  p->model = model_of(job);
  if (p->model == nullptr) {
    *why = "The printer's driver is not one this application has.";
    return false;
  }
  if (!jobRequestFor(job, options, *p->model, &p->request, why)) return false;
  p->options = optionText(*p->model->info, p->request);
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Filter options: %s", p->options.c_str());
  return ppdPageHeader(ppdPathFor(*p->model->info), p->options, p->request.copies, &p->header, &p->prompt,
                       why);
}

void fail(pappl_job_t* job, const std::string& why) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
  papplJobSetMessage(job, "%s", why.c_str());
}

struct RasterRun {
  Prepared prepared;
  std::unique_ptr<PapplJobSink> sink;
  std::unique_ptr<FilterJob> filter;
  std::thread pump;
  JobOutcome outcome;
  cups_raster_t* raster = nullptr;
  bool inputFailed = false;
  unsigned lines = 0;        // of the page being sent
  std::string abortReason;   // a document fault found on the way
  std::unique_ptr<RasterPlacer> placer;  // PWG and Apple raster on the job's paper

  ~RasterRun() {
    if (raster) cupsRasterClose(raster);
    if (pump.joinable()) {
      filter->closeRasterInput();
      pump.join();
    }
  }
};

ssize_t write_input(void* ctx, unsigned char* buf, size_t len) {
  RasterRun* run = static_cast<RasterRun*>(ctx);
  if (writeAll(run->filter->rasterInput(), buf, len)) return static_cast<ssize_t>(len);
  // The filter has gone (cancelled or failed); its outcome says why.
  run->inputFailed = true;
  return -1;
}

// The page's header: the job's header from the PPD, with the size and
// layout of the data PAPPL delivers.  A page within a point of a paper the
// model knows is that paper, so that the filter finds it in its table.
cups_page_header2_t page_header(const RasterRun& run, const cups_page_header2_t& data) {
  cups_page_header2_t h = run.prepared.header;
  h.HWResolution[0] = data.HWResolution[0];
  h.HWResolution[1] = data.HWResolution[1];
  h.cupsWidth = data.cupsWidth;
  h.cupsHeight = data.cupsHeight;
  h.cupsBitsPerColor = data.cupsBitsPerColor;
  h.cupsBitsPerPixel = data.cupsBitsPerPixel;
  h.cupsBytesPerLine = data.cupsBytesPerLine;
  h.cupsColorOrder = data.cupsColorOrder;
  h.cupsColorSpace = data.cupsColorSpace;
  h.cupsNumColors = data.cupsNumColors;
  h.PageSize[0] = data.PageSize[0];
  h.PageSize[1] = data.PageSize[1];
  if (const MediaRow* r = rowNear(run.prepared.model->media, static_cast<int>(data.PageSize[0]),
                                  static_cast<int>(data.PageSize[1]))) {
    h.PageSize[0] = static_cast<unsigned>(r->widthPt);
    h.PageSize[1] = static_cast<unsigned>(r->heightPt);
    snprintf(h.cupsPageSizeName, sizeof h.cupsPageSizeName, "%s", r->ppdName.c_str());
  }
  h.cupsPageSize[0] = static_cast<float>(h.PageSize[0]);
  h.cupsPageSize[1] = static_cast<float>(h.PageSize[1]);
  return h;
}

// PWG and Apple raster reach the driver as the client sent them, pages and
// all; pictures are laid out by PAPPL.
bool pappl_streams(pappl_job_t* job) {
  const char* format = papplJobGetFormat(job);
  return format && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  auto run = std::make_unique<RasterRun>();
  std::string why;
  if (!prepare(job, options, &run->prepared, &why)) {
    fail(job, why);
    return false;
  }
  // PAPPL would send each copy of a JPEG or PNG picture again, after this
  // call, as a page of its own; the filter makes the copies instead, as for
  // every other job, each on sheets of its own when printing two-sided.
  if (!pappl_streams(job)) options->copies = 1;
  const DriverModel& model = *run->prepared.model;
  run->sink = std::make_unique<PapplJobSink>(job, device, run->prepared.prompt, true);
  run->filter = std::make_unique<FilterJob>(*run->sink);
  FilterCommand cmd = filterCommand(job, model, run->prepared.options, run->prepared.request.copies);
  if (!run->filter->start(cmd, nullptr, &why)) {
    fail(job, why);
    return false;
  }
  run->raster = cupsRasterOpenIO(write_input, run.get(), CUPS_RASTER_WRITE);
  if (pappl_streams(job)) {
    // The job's paper in points, and the printer's blank edges.
    const cups_page_header2_t& h = run->prepared.header;
    PageMargins m = imageMargins(model.info->paperTable);
    PaperArea paper{h.cupsPageSize[0], h.cupsPageSize[1], m.leftRight * 72.0 / 2540, m.bottomTop * 72.0 / 2540};
    run->placer = std::make_unique<RasterPlacer>(pageLayoutOf(job).scaling, paper);
  }
  RasterRun* r = run.get();
  run->pump = std::thread([r] { r->outcome = r->filter->run(); });
  papplJobSetData(job, run.release());
  return true;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
  RasterRun* run = static_cast<RasterRun*>(papplJobGetData(job));
  if (run == nullptr || run->inputFailed) return false;
  cups_page_header2_t h = page_header(*run, options->header);
  run->lines = 0;
  if (!run->placer) return cupsRasterWriteHeader2(run->raster, &h) != 0;
  // A page of another size is made the paper's, whole, at the job's
  // resolution, as Ghostscript renders a document's pages.
  cups_page_header2_t placed = run->prepared.header;
  placed.cupsWidth = static_cast<unsigned>(std::lround(placed.cupsPageSize[0] * placed.HWResolution[0] / 72));
  placed.cupsHeight = static_cast<unsigned>(std::lround(placed.cupsPageSize[1] * placed.HWResolution[1] / 72));
  return run->placer->startPage(job, page, options->header, h, &placed, run->raster, &run->inputFailed);
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                       const unsigned char* line) {
  RasterRun* run = static_cast<RasterRun*>(papplJobGetData(job));
  if (run == nullptr || run->inputFailed) return false;
  ++run->lines;
  if (run->placer && run->placer->placing()) return run->placer->push(line);
  cupsRasterWritePixels(run->raster, const_cast<unsigned char*>(line), options->header.cupsBytesPerLine);
  return !run->inputFailed;
}

// PAPPL pads a page whose raster has fewer lines than the paper, but ends
// a page whose data ran out with the lines it got and no error: such a
// document was cut short, and the job is not a success.
bool raster_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
  RasterRun* run = static_cast<RasterRun*>(papplJobGetData(job));
  if (run == nullptr || run->inputFailed) return false;
  if (run->lines < options->header.cupsHeight && !papplJobIsCanceled(job)) {
    run->abortReason = "The document ends in the middle of page " + std::to_string(page) + ".";
    return false;
  }
  return !(run->placer && run->placer->placing()) || run->placer->finish();
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  std::unique_ptr<RasterRun> run(static_cast<RasterRun*>(papplJobGetData(job)));
  papplJobSetData(job, nullptr);
  if (!run) return false;
  cupsRasterClose(run->raster);
  run->raster = nullptr;
  run->filter->closeRasterInput();  // end of input: the filter finishes the job
  run->pump.join();
  bool ok = run->sink->finish(run->outcome);
  if (run->abortReason.empty()) return ok;
  // PAPPL has marked the job aborted, so finish() gave it no message.
  fail(job, run->abortReason);
  return false;
}

// CUPS's page handling for a document: pdftopdf lays the pages out on the
// job's paper (scaling, orientation, several pages a sheet, page ranges,
// order), with gstopdf in front of it for PostScript, as CUPS chains them
// for a queue.  Copies stay with the filter: pdftopdf is given one.
bool start_page_handling(pappl_job_t* job, const Prepared& p, const char* file, PsPipeline* chain, int* pdf,
                         std::string* why) {
  const char* format = papplJobGetFormat(job);
  bool postscript = format && std::strcmp(format, "application/postscript") == 0;
  std::vector<std::string> stages;
  if (postscript) stages.push_back("gstopdf");
  stages.push_back("pdftopdf");
  std::string layout = pdftopdfOptions(pageLayoutOf(job), p.request.pageSize, imageMargins(p.model->info->paperTable));
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Page handling: %s", layout.c_str());
  const char* user = papplJobGetUsername(job);
  const char* title = papplJobGetName(job);
  std::vector<std::string> args = {papplPrinterGetName(papplJobGetPrinter(job)), std::to_string(papplJobGetID(job)),
                                   user ? user : "", title ? title : "", "1", layout};
  std::string dir = cupsFilterDir();
  std::vector<std::string> env = {"PPD=" + ppdPathFor(*p.model->info),
                                  std::string("CONTENT_TYPE=") + (format ? format : "application/pdf"),
                                  "FINAL_CONTENT_TYPE=application/vnd.cups-raster",
                                  "PATH=" + dir + ":/usr/bin:/bin",
                                  "CUPS_SERVERBIN=" + dir.substr(0, dir.rfind('/')),
                                  "CUPS_DATADIR=/usr/share/cups",
                                  "LANG=C.UTF-8",
                                  std::string("TMPDIR=") + papplGetTempDir()};
  return startCupsFilterChain(stages, args, file, env, chain, pdf, why);
}

// Whether CUPS's page handling read the document: a damaged PDF stops
// pdftopdf with an error, and Ghostscript then has nothing to render.
bool ended_well(PsPipeline& chain) {
  for (std::unique_ptr<Child>& c : chain.early) {
    int status = 0;
    if (c->reap(true, &status) && WIFEXITED(status) && WEXITSTATUS(status) != 0) return false;
  }
  return true;
}

bool document_filter_unguarded(pappl_job_t* job, pappl_device_t* device) {
  // A job cancelled before it started may have lost its file already.
  const char* file = papplJobGetFilename(job);
  if (file == nullptr) return papplJobIsCanceled(job);
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
  Prepared p;
  std::string why;
  bool ok = prepare(job, options, &p, &why);
  papplJobDeletePrintOptions(options);
  PsPipeline chain;
  int pdf = -1;
  if (!ok || !start_page_handling(job, p, file, &chain, &pdf, &why)) {
    fail(job, why);
    return false;
  }
  // Ghostscript renders pdftopdf's pages, each the size of the paper.
  ChildSpec gs;
  gs.argv = ghostscriptArgs(appPaths().ghostscript, p.header, "-");
  gs.env = {"PATH=/usr/bin:/bin", std::string("TMPDIR=") + papplGetTempDir()};
  gs.stdinFd = pdf;
  PapplJobSink sink(job, device, p.prompt);
  FilterJob filter(sink);
  bool started = filter.start(filterCommand(job, *p.model, p.options, p.request.copies), &gs, &why);
  chain.pipes.clear();  // the children hold their ends now
  if (!started) {
    fail(job, why);
    return false;
  }
  JobOutcome outcome = filter.run();
  if (!outcome.ok && !papplJobIsCanceled(job) && !ended_well(chain))
    outcome.reason = "The document could not be rendered: its pages could not be read.";
  return sink.finish(outcome);
}

// Whatever goes wrong in one job ends that job, never the server.
template <typename F>
bool guarded(pappl_job_t* job, F&& f) {
  try {
    return f();
  } catch (const std::exception& e) {
    fail(job, std::string("The job could not be printed: ") + e.what());
  } catch (...) {
    fail(job, "The job could not be printed.");
  }
  return false;
}

bool document_filter(pappl_job_t* job, pappl_device_t* device, void*) {
  return guarded(job, [&] { return document_filter_unguarded(job, device); });
}

bool start_job_cb(pappl_job_t* job, pappl_pr_options_t* o, pappl_device_t* d) {
  return guarded(job, [&] { return raster_start_job(job, o, d); });
}

bool start_page_cb(pappl_job_t* job, pappl_pr_options_t* o, pappl_device_t* d, unsigned page) {
  return guarded(job, [&] { return raster_start_page(job, o, d, page); });
}

bool end_job_cb(pappl_job_t* job, pappl_pr_options_t* o, pappl_device_t* d) {
  return guarded(job, [&] { return raster_end_job(job, o, d); });
}

}  // namespace

void setPrintCallbacks(pappl_pr_driver_data_t* data) {
  data->format = kPrinterFormat;
  data->rstartjob_cb = start_job_cb;
  data->rstartpage_cb = start_page_cb;
  data->rwriteline_cb = raster_write_line;  // writes only: nothing to throw
  data->rendpage_cb = raster_end_page;
  data->rendjob_cb = end_job_cb;
}

void addDocumentFilters(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, "application/pdf", kPrinterFormat, document_filter, nullptr);
  papplSystemAddMIMEFilter(system, "application/postscript", kPrinterFormat, document_filter, nullptr);
  papplSystemAddMIMEFilter(system, "image/jpeg", kPrinterFormat, jpegFilter, nullptr);
  addPsDocumentFilters(system);
}

}  // namespace tpa
