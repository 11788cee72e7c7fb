// The PAPPL side of a job run through the filter: printer bytes to the
// job's device, the filter's messages to the job and printer state.
#pragma once

#include <string>

#include <pappl/pappl.h>

#include "filter_job.h"
#include "status_watch.h"

namespace tpa {

class PapplJobSink : public JobSink {
 public:
  // `prompt` is the model's manual-duplex prompt: when the filter shows it,
  // the printer waits for the user to turn the stack.  `papplCountsPages`
  // for raster and pictures, whose pages PAPPL hands over one by one and
  // counts itself: the sink then adds only the filter's further copies.
  PapplJobSink(pappl_job_t* job, pappl_device_t* device, std::string prompt, bool papplCountsPages = false);
  ~PapplJobSink() override;

  bool writeDevice(const void* data, size_t n) override;
  void message(const FilterMessage& m) override;
  bool canceled() override;
  void renderLog(const std::string& line) override;

  // The job's end: its state message from the outcome.
  bool finish(const JobOutcome& outcome);

 private:
  void set_message(const std::string& text);
  void state_line(const std::string& text);

  pappl_job_t* job_;
  pappl_device_t* device_;
  std::string prompt_;
  bool papplCountsPages_;
  bool waitingForUser_ = false;
  unsigned filterReasons_ = 0;  // what the filters' STATE: lines set, cleared at the job's end
  JobDeviceClaim claim_;  // the status watch asks the printer through the job's device
};

}  // namespace tpa
