// Printing a PAPPL job on a PostScript model the way a CUPS queue with the
// model's PPD prints it: CUPS's own filters make what the PPD asks for
// (PostScript with the PPD's job header, or PDF for the colour group),
// then jobwrapper runs as a child under the CUPS filter contract and its
// output is copied to the printer.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "child_process.h"
#include "filter_job.h"
#include "ps_drivers.h"

namespace tpa {

// The PDF, PostScript, JPEG and PNG filters of the PostScript drivers.
void addPsDocumentFilters(pappl_system_t* system);

// The message of a job cancelled on the printer's panel.
extern const char kCancelledOnPrinter[];

// The print callbacks of the PostScript drivers.
void setPsPrintCallbacks(pappl_pr_driver_data_t* data);

// The CUPS filters a document of `format` passes before jobwrapper, in
// order, for the model's family (what CUPS picks for the PPD); empty when
// the format is not one the PostScript models take.  PostScript that is
// to be laid out (`laidOut`) goes through pdftopdf, as PDF does: pstops
// knows neither print-scaling nor page-delivery, and finds no pages to
// choose or arrange in PostScript without DSC page comments.
std::vector<std::string> psPrefilters(PsFamily family, const std::string& format, bool laidOut = false);

// The option text for the filters: the PPD's choices for the job's media,
// sides, collation and feed edge, and the page layout asked for.  False (with the reason) when the model
// cannot print the job's media.
struct PsJobSettings {
  int width = 0, length = 0;   // media size, hundredths of millimetres
  std::string sides;           // IPP "sides" keyword
  bool collate = false;        // separate-documents-collated-copies
  std::string feedEdge;        // "short-edge", "long-edge" or empty
  std::string layout;          // the layout options asked for (askedLayoutOptions)
};
bool psOptionText(const PsModel& model, const PsJobSettings& settings, std::string* text,
                  std::string* why);

class PsJobSink;
class SideChannel;

// The CUPS filters before jobwrapper, chained the way cupsd chains them.
struct PsPipeline {
  std::vector<std::unique_ptr<Child>> early;  // all but the last prefilter
  std::vector<std::unique_ptr<Pipe>> pipes;
  ChildSpec last;                             // the prefilter that feeds jobwrapper
};

// Starts every one of `stages` (CUPS filters, by name), the first reading
// `file`, each given `args` and `env` as cupsd gives them; *output is the
// read end of the last one's output.
bool startCupsFilterChain(const std::vector<std::string>& stages, const std::vector<std::string>& args,
                          const std::string& file, const std::vector<std::string>& env, PsPipeline* p,
                          int* output, std::string* why);

// Where CUPS's filters are.
std::string cupsFilterDir();

// One job's children: CUPS's filters and jobwrapper, the side channel the
// wrapper asks for the device ID over, and the sink for its output.
class PsRun {
 public:
  PsRun(pappl_job_t* job, pappl_device_t* device);
  ~PsRun();  // children still running are killed
  PsRun(const PsRun&) = delete;
  PsRun& operator=(const PsRun&) = delete;

  // Starts the chain for a document of `format`: the first filter reads
  // `file`, or with an empty name what is written to input().
  bool start(const pappl_pr_options_t* options, const std::string& format, const std::string& file,
             std::string* why);
  int input() const { return input_.write; }
  void closeInput() { input_.closeWrite(); }
  // Copies the wrapper's output to the printer until it ends.
  JobOutcome run() { return filter_->run(); }
  // The job's end: cancelled on the printer, or as the outcome says.
  bool finish(const JobOutcome& outcome);

 private:
  pappl_job_t* job_;
  pappl_device_t* device_;
  Pipe input_;
  PsPipeline pipeline_;
  std::unique_ptr<SideChannel> side_;
  std::unique_ptr<PsJobSink> sink_;
  std::unique_ptr<FilterJob> filter_;
};

// Logs the reason a job cannot print and makes it the job's message.
void psJobFailed(pappl_job_t* job, const std::string& why);

// Runs one step of a job: whatever goes wrong in it ends that job, never
// the server.
bool psGuarded(pappl_job_t* job, const std::function<bool()>& step);

}  // namespace tpa
