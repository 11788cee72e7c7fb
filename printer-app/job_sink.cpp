#include "job_sink.h"

namespace tpa {

PapplJobSink::PapplJobSink(pappl_job_t* job, pappl_device_t* device, std::string prompt)
    : job_(job), device_(device), prompt_(std::move(prompt)), watch_(job, device) {}

PapplJobSink::~PapplJobSink() {
  if (waitingForUser_)
    papplPrinterSetReasons(papplJobGetPrinter(job_), PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_NEEDED);
}

// PAPPL 1.3 answers Get-Job-Attributes without taking the job's lock, and
// papplJobSetMessage frees the message it replaces: a client asking about
// the job while its message changes reads freed memory, and the server
// dies.  So a job's message is set once, at its end, or when the printer
// waits for the user (whose prompt then stays), never for page progress;
// only a job that fails after its prompt replaces a message.
void PapplJobSink::set_message(const std::string& text) {
  papplJobSetMessage(job_, "%s", text.c_str());
}

bool PapplJobSink::writeDevice(const void* data, size_t n) {
  // Straight on to the printer: the filter may pause between blocks (the
  // manual-duplex wait), and what it sent must not wait in a buffer.
  watch_.writeStarts();
  bool ok = papplDeviceWrite(device_, data, n) >= 0;
  if (ok) papplDeviceFlush(device_);
  watch_.writeEnds();
  if (!ok || watch_.gaveUp()) {
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "The printer stopped taking data.");
    return false;
  }
  return true;
}

void PapplJobSink::message(const FilterMessage& m) {
  switch (m.kind) {
    case FilterMessage::Page:
      papplJobSetImpressionsCompleted(job_, m.copies > 0 ? m.copies : 1);
      break;
    case FilterMessage::Info: {
      std::string text = displayText(m.text);
      if (text.empty()) break;
      // PAPPL keeps printer-state-message to its own texts; the prompt to
      // turn the stack shows as the job's message and media-needed.
      if (!prompt_.empty() && text == displayText(prompt_)) {
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%s", text.c_str());
        if (!waitingForUser_) {
          papplPrinterSetReasons(papplJobGetPrinter(job_), PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
          set_message(text);
        }
        waitingForUser_ = true;
      } else {
        papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s", text.c_str());  // page progress
      }
      break;
    }
    case FilterMessage::Error:
      // The job's message comes at its end, from the outcome.
      papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", displayText(m.text).c_str());
      break;
    case FilterMessage::Debug:
    case FilterMessage::Other:
      papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s", displayText(m.text, 1024).c_str());
      break;
  }
}

bool PapplJobSink::canceled() { return papplJobIsCanceled(job_); }

void PapplJobSink::renderLog(const std::string& line) {
  papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "Ghostscript: %s", displayText(line, 1024).c_str());
}

bool PapplJobSink::finish(const JobOutcome& outcome) {
  papplDeviceFlush(device_);
  if (papplJobIsCanceled(job_)) {
    // PAPPL keeps a running job's attributes in the spool for a restart and
    // drops them only with its next state save, up to a minute later: a
    // cancelled job has nothing to come back for.
    char name[1024];
    papplJobOpenFile(job_, name, sizeof name, nullptr, "ipp", "x");
    return true;
  }
  if (!outcome.ok) {
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", outcome.reason.c_str());
    // After the prompt this replaces a message: the one race left.
    set_message(outcome.reason);
    return false;
  }
  // After a manual-duplex job the printer still waits for the stack to be
  // turned: the prompt, set when it came, stays the job's last word.
  if (!waitingForUser_)
    set_message("Printed " + std::to_string(outcome.pages) + " page" + (outcome.pages == 1 ? "" : "s") + ".");
  return true;
}

}  // namespace tpa
