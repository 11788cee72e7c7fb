// One job through the filter: the filter (and, for documents that need
// rendering first, Ghostscript in front of it) run as child processes;
// the filter's output is copied to the printer and its messages become
// the job's state.  Nothing of the job reaches a shell.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"
#include "filter_messages.h"

namespace tpa {

// Where the printer bytes and the filter's messages go: the PAPPL job and
// its device, or a test.
class JobSink {
 public:
  virtual ~JobSink() = default;
  virtual bool writeDevice(const void* data, size_t n) = 0;  // false: the device failed
  virtual void message(const FilterMessage& m) = 0;
  virtual bool canceled() = 0;
  virtual void renderLog(const std::string& line) = 0;       // Ghostscript's messages
};

struct FilterCommand {
  std::vector<std::string> argv;  // filter, job-id, user, title, copies, options
  std::vector<std::string> env;   // PPD=... among them
  std::string path;               // see ChildSpec
  int sideChannelFd = -1;
};

struct JobOutcome {
  bool ok = false;
  int pages = 0;
  std::string reason;  // why the job failed, for job-state-message
};

class FilterJob {
 public:
  explicit FilterJob(JobSink& sink) : sink_(sink) {}

  // Starts the filter.  With `render` (Ghostscript's command), the
  // renderer reads `documentFd` and its raster feeds the filter; without
  // it the caller writes CUPS raster to rasterInput() and then calls
  // closeRasterInput().
  bool start(const FilterCommand& filter, const ChildSpec* render, std::string* why);
  int rasterInput() const { return input_.write; }
  void closeRasterInput() { input_.closeWrite(); }

  // Copies the filter's output to the device and reads its messages until
  // it ends.  A cancelled job's children get SIGTERM (the filter then ends
  // its printer data on a whole page) and SIGKILL if they outlive
  // kKillGraceMs.
  JobOutcome run();

  static constexpr int kKillGraceMs = 5000;

 private:
  struct Stream;
  void read_stream(Stream& s);
  void handle_line(Stream& s, const std::string& line);
  void check_cancel(long now_ms);
  JobOutcome finish();

  JobSink& sink_;
  Child filter_, render_;
  Pipe input_, output_, errors_, renderErrors_;
  bool deviceFailed_ = false;
  long termSentMs_ = -1;
  bool killed_ = false;
  int pages_ = 0;
  std::string lastError_, lastRenderError_;
  std::string renderError_;  // the first error Ghostscript reported
};

}  // namespace tpa
