#include "ps_job.h"

#include <strings.h>

#include <cstring>
#include <exception>
#include <memory>

#include "app_paths.h"
#include "job_sink.h"
#include "page_layout.h"
#include "side_channel.h"

namespace tpa {

const char kCancelledOnPrinter[] = "The job was cancelled on the printer.";

namespace {

// What CUPS runs for each document format before jobwrapper, as its
// conversion rules pick them for these PPDs (cupsfilter --list-filters).
struct Chain {
  bool colour;
  const char* format;
  const char* stages[3];
};
constexpr Chain kChains[] = {
    {false, "application/pdf", {"pdftopdf", "pdftops"}},
    {false, "application/postscript", {"pstops"}},
    {false, "image/jpeg", {"imagetopdf", "pdftops"}},
    {false, "image/png", {"imagetopdf", "pdftops"}},
    {true, "application/pdf", {"pdftopdf"}},
    {true, "application/postscript", {"gstopdf", "pdftopdf"}},
    {true, "image/jpeg", {"imagetopdf"}},
    {true, "image/png", {"imagetopdf"}},
    // Raster from a client, as PAPPL hands it on (ps_raster.cpp).
    {false, "image/pwg-raster", {"rastertopdf", "pdftopdf", "pdftops"}},
    {true, "image/pwg-raster", {"rastertopdf", "pdftopdf"}},
};

std::string dir_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// CUPS's filters live beside where the installed rasterfilter goes;
// jobwrapper beside the rasterfilter this application runs.
std::string cups_filter_dir() { return dir_of(TESVEL_INSTALLED_FILTER); }
std::string jobwrapper_path() { return dir_of(appPaths().filter) + "/jobwrapper"; }

// The printer's device ID as a CUPS backend would give it: what the
// device reports, else the ID the printer was added with.  The ID PAPPL
// makes up from the driver's name when it has none says nothing about the
// device, and a CUPS backend without an ID answers with nothing too.
std::string backend_device_id(pappl_printer_t* printer, pappl_device_t* device, const PsModel& model) {
  char buf[1024];
  if (papplDeviceGetID(device, buf, sizeof buf) && buf[0]) return buf;
  const char* id = papplPrinterGetDeviceID(printer);
  if (id == nullptr) return "";
  std::string made = "MDL:" + model.description.substr(model.description.find(' ') + 1) + ";";
  return std::strstr(id, made.c_str()) ? "" : id;
}

// The environment CUPS gives every filter of a job.
std::vector<std::string> cups_env(const PsModel& m, pappl_printer_t* printer, const char* format) {
  const char* name = papplPrinterGetName(printer);
  std::string serverBin = dir_of(cups_filter_dir());
  return {"PPD=" + m.ppdPath,
          std::string("DEVICE_URI=") + papplPrinterGetDeviceURI(printer),
          std::string("CONTENT_TYPE=") + format,
          // What the PPD's cupsFilter2 line says jobwrapper writes, as
          // cupsd and cupsfilter tell the filters.
          "FINAL_CONTENT_TYPE=application/vnd.cups-postscript",
          std::string("PRINTER=") + name,
          "CHARSET=utf-8",
          "LANG=C.UTF-8",
          "PATH=" + cups_filter_dir() + ":/usr/bin:/bin",
          "CUPS_SERVERBIN=" + serverBin,
          "CUPS_DATADIR=/usr/share/cups",
          "CUPS_SERVERROOT=/etc/cups",
          // The printer is not a CUPS queue: the wrapper's look-up of the
          // queue among CUPS's destinations must not find a CUPS queue
          // that happens to share the name, so it asks no server at all.
          std::string("CUPS_SERVER=") + papplGetTempDir() + "/no-cups-server",
          std::string("TMPDIR=") + papplGetTempDir()};
}

// The job's settings from its IPP attributes and the printer's defaults.
PsJobSettings settings_of(pappl_job_t* job, const pappl_pr_options_t* o) {
  PsJobSettings s;
  s.width = o->media.size_width;
  s.length = o->media.size_length;
  s.sides = o->sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? "two-sided-long-edge"
            : o->sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? "two-sided-short-edge"
                                                           : "one-sided";
  const char* mdh = ippGetString(papplJobGetAttribute(job, "multiple-document-handling"), 0, nullptr);
  s.collate = mdh && std::strcmp(mdh, "separate-documents-collated-copies") == 0;
  if (const char* fe = cupsGetOption("feed-edge", o->num_vendor, o->vendor)) s.feedEdge = fe;
  PageLayout l = pageLayoutOf(job);
  const char* format = papplJobGetFormat(job);
  if (format && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0)) {
    // Raster pages are placed on the paper before the filters (ps_raster.cpp),
    // and, as on the host-based models, take no other layout but their range.
    PageLayout ranges;
    ranges.ranges = l.ranges;
    l = ranges;
  }
  s.layout = askedLayoutOptions(l);
  return s;
}

// jobwrapper's note that it ended the output with the cancel trailer: its
// monitor saw the job cancelled on the printer's panel, unless the
// application had cancelled the job itself (SIGTERM ends it the same way).
constexpr char kTrailerNote[] = "data_buf = %%Trailer";

}  // namespace

class PsJobSink : public PapplJobSink {
 public:
  PsJobSink(pappl_job_t* job, pappl_device_t* device) : PapplJobSink(job, device, ""), job_(job) {}
  void message(const FilterMessage& m) override {
    if (m.text.compare(0, sizeof kTrailerNote - 1, kTrailerNote) == 0 && !papplJobIsCanceled(job_))
      cancelledOnPrinter_ = true;
    PapplJobSink::message(m);
  }
  bool cancelledOnPrinter() const { return cancelledOnPrinter_; }

 private:
  pappl_job_t* job_;
  bool cancelledOnPrinter_ = false;
};

namespace {

bool build_pipeline(const std::vector<std::string>& stages, const std::vector<std::string>& args,
                    const std::string& file, int input, const std::vector<std::string>& env,
                    PsPipeline* p, std::string* why) {
  for (size_t i = 0; i < stages.size(); ++i) {
    ChildSpec c;
    c.path = cups_filter_dir() + "/" + stages[i];
    c.argv = args;
    if (i == 0 && !file.empty()) c.argv.push_back(file);
    c.env = env;
    c.stdinFd = input;
    if (i + 1 == stages.size()) {
      p->last = c;
      return true;
    }
    p->pipes.push_back(std::make_unique<Pipe>());
    if (!p->pipes.back()->open()) {
      *why = "cannot make the pipes for the printer driver";
      return false;
    }
    c.stdoutFd = p->pipes.back()->write;
    p->early.push_back(std::make_unique<Child>());
    if (!p->early.back()->start(c, why)) return false;
    p->pipes.back()->closeWrite();
    input = p->pipes.back()->read;
  }
  *why = "The printer cannot print this kind of document.";
  return false;
}

}  // namespace

bool startCupsFilterChain(const std::vector<std::string>& stages, const std::vector<std::string>& args,
                          const std::string& file, const std::vector<std::string>& env, PsPipeline* p,
                          int* output, std::string* why) {
  if (!build_pipeline(stages, args, file, -1, env, p, why)) return false;
  p->pipes.push_back(std::make_unique<Pipe>());
  if (!p->pipes.back()->open()) {
    *why = "cannot make the pipes for the printer driver";
    return false;
  }
  p->last.stdoutFd = p->pipes.back()->write;
  p->early.push_back(std::make_unique<Child>());
  if (!p->early.back()->start(p->last, why)) return false;
  p->pipes.back()->closeWrite();
  *output = p->pipes.back()->read;
  return true;
}

std::string cupsFilterDir() { return cups_filter_dir(); }

namespace {

bool ps_document_filter_unguarded(pappl_job_t* job, pappl_device_t* device) {
  const char* file = papplJobGetFilename(job);
  if (file == nullptr) return papplJobIsCanceled(job);
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
  PsRun run(job, device);
  std::string why;
  bool started = run.start(options, papplJobGetFormat(job), file, &why);
  papplJobDeletePrintOptions(options);
  if (!started) {
    psJobFailed(job, why);
    return false;
  }
  return run.finish(run.run());
}

bool ps_document_filter(pappl_job_t* job, pappl_device_t* device, void*) {
  return psGuarded(job, [&] { return ps_document_filter_unguarded(job, device); });
}

}  // namespace

void psJobFailed(pappl_job_t* job, const std::string& why) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
  papplJobSetMessage(job, "%s", why.c_str());
}

bool psGuarded(pappl_job_t* job, const std::function<bool()>& step) {
  try {
    return step();
  } catch (const std::exception& e) {
    psJobFailed(job, std::string("The job could not be printed: ") + e.what());
  } catch (...) {
    psJobFailed(job, "The job could not be printed.");
  }
  return false;
}

PsRun::PsRun(pappl_job_t* job, pappl_device_t* device) : job_(job), device_(device) {}
PsRun::~PsRun() = default;

bool PsRun::start(const pappl_pr_options_t* options, const std::string& format, const std::string& file,
                  std::string* why) {
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  const PsModel* model = findPsModel(papplPrinterGetDriverName(printer));
  if (model == nullptr) {
    *why = "The printer's driver is not one this application has.";
    return false;
  }
  std::string text;
  PsJobSettings settings = settings_of(job_, options);
  if (!psOptionText(*model, settings, &text, why)) return false;
  papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "Filter options: %s", text.c_str());
  // Job text goes to every filter as separate arguments, as cupsd passes it.
  const char* user = papplJobGetUsername(job_);
  const char* title = papplJobGetName(job_);
  int copies = options->copies > 0 ? options->copies : 1;
  std::vector<std::string> args = {papplPrinterGetName(printer), std::to_string(papplJobGetID(job_)),
                                   user ? user : "", title ? title : "", std::to_string(copies), text};
  std::vector<std::string> env = cups_env(*model, printer, format.c_str());
  if (file.empty() && !input_.open()) {
    *why = "cannot make the pipes for the printer driver";
    return false;
  }
  std::vector<std::string> stages = psPrefilters(model->family, format, !settings.layout.empty());
  if (!build_pipeline(stages, args, file, input_.read, env, &pipeline_, why)) return false;
  pappl_device_t* device = device_;
  side_ = std::make_unique<SideChannel>([printer, device, model] { return backend_device_id(printer, device, *model); });
  if (!side_->start()) {
    *why = "cannot make the printer's side channel";
    return false;
  }
  sink_ = std::make_unique<PsJobSink>(job_, device_);
  filter_ = std::make_unique<FilterJob>(*sink_);
  FilterCommand wrapper{args, env, jobwrapper_path(), side_->filterEnd()};
  bool started = filter_->start(wrapper, &pipeline_.last, why);
  side_->closeFilterEnd();
  pipeline_.pipes.clear();  // the children hold their ends now
  input_.closeRead();
  return started;
}

bool PsRun::finish(const JobOutcome& outcome) {
  if (sink_->cancelledOnPrinter()) {
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%s", kCancelledOnPrinter);
    papplJobSetMessage(job_, "%s", kCancelledOnPrinter);
    papplJobCancel(job_);
  }
  return sink_->finish(outcome);
}


std::vector<std::string> psPrefilters(PsFamily family, const std::string& format, bool laidOut) {
  if (laidOut && family != PsFamily::Colour && format == "application/postscript")
    return {"gstopdf", "pdftopdf", "pdftops"};
  for (const Chain& c : kChains)
    if (c.colour == (family == PsFamily::Colour) && format == c.format) {
      std::vector<std::string> out;
      for (const char* s : c.stages)
        if (s) out.push_back(s);
      return out;
    }
  return {};
}

bool psOptionText(const PsModel& m, const PsJobSettings& s, std::string* text, std::string* why) {
  std::string size = pageSizeForMedia(m.media, m.sizes, s.width, s.length);
  if (size.empty()) {
    *why = "The printer cannot print on paper of this size.";
    return false;
  }
  std::string t = "PageSize=" + size;
  if (m.duplex) {
    t += s.sides == "two-sided-long-edge"    ? " Duplex=DuplexNoTumble"
         : s.sides == "two-sided-short-edge" ? " Duplex=DuplexTumble"
                                             : " Duplex=None";
  }
  t += s.collate ? " Collate=True" : " Collate=False";
  if (m.family == PsFamily::JobControl) t += s.feedEdge == "long-edge" ? " FeedEdge=LongEdge" : " FeedEdge=ShortEdge";
  *text = t + s.layout;
  return true;
}

void addPsDocumentFilters(pappl_system_t* system) {
  for (const char* format : {"application/pdf", "application/postscript", "image/jpeg", "image/png"})
    papplSystemAddMIMEFilter(system, format, kPsPrinterFormat, ps_document_filter, nullptr);
}

}  // namespace tpa
