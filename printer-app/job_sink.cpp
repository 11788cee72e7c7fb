#include "job_sink.h"

#include "printer_status.h"

namespace tpa {

PapplJobSink::PapplJobSink(pappl_job_t* job, pappl_device_t* device, std::string prompt, bool papplCountsPages)
    : job_(job), device_(device), prompt_(std::move(prompt)), papplCountsPages_(papplCountsPages),
      claim_(job, device) {}

PapplJobSink::~PapplJobSink() {
  if (filterReasons_ != 0) {
    pappl_printer_t* printer = papplJobGetPrinter(job_);
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, static_cast<pappl_preason_t>(filterReasons_));
    papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
  }
  if (waitingForUser_) {
    pappl_printer_t* printer = papplJobGetPrinter(job_);
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_NEEDED);
    papplPrinterSetStateMessage(printer, nullptr);
  }
}

void PapplJobSink::set_message(const std::string& text) {
  papplJobSetMessage(job_, "%s", text.c_str());
}

bool PapplJobSink::writeDevice(const void* data, size_t n) {
  // Straight on to the printer: the filter may pause between blocks (the
  // manual-duplex wait), and what it sent must not wait in a buffer.  A
  // failed write ends the job; PAPPL says how far the printer got.  A
  // network printer that stops reading holds the write until it reads again
  // or, once the job is cancelled, PAPPL gives up on it.
  return papplDeviceWrite(device_, data, n) >= 0 && papplDeviceFlush(device_);
}

void PapplJobSink::message(const FilterMessage& m) {
  switch (m.kind) {
    case FilterMessage::Page: {
      int copies = m.copies > 0 ? m.copies : 1;
      papplJobSetImpressionsCompleted(job_, papplCountsPages_ ? copies - 1 : copies);
      break;
    }
    case FilterMessage::Info: {
      std::string text = displayText(m.text);
      if (text.empty()) break;
      // The prompt to turn the stack is what the printer waits for: it
      // shows as the printer's message and media-needed, and as the job's.
      if (!prompt_.empty() && text == displayText(prompt_)) {
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%s", text.c_str());
        if (!waitingForUser_) {
          pappl_printer_t* printer = papplJobGetPrinter(job_);
          papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
          papplPrinterSetStateMessage(printer, text.c_str());
        }
        waitingForUser_ = true;
      } else {
        papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s", text.c_str());  // page progress
      }
      set_message(text);
      break;
    }
    case FilterMessage::Error: {
      std::string text = displayText(m.text);
      papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
      set_message(text);
      break;
    }
    case FilterMessage::State:
      papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "STATE: %s", displayText(m.text).c_str());
      state_line(m.text);
      break;
    case FilterMessage::Attr:  // the printer's marker levels: its supplies come from the status watch
    case FilterMessage::Debug:
    case FilterMessage::Other:
      papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s", displayText(m.text, 1024).c_str());
      break;
  }
}

// A filter's word on the printer (the PostScript models' own monitor), as
// cupsd takes it: the printer's reasons change, and a job whose printer
// stopped says why.
void PapplJobSink::state_line(const std::string& text) {
  StateLine s = parseStateLine(text);
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  papplPrinterSetReasons(printer, s.add, s.remove);
  filterReasons_ = (filterReasons_ & ~s.remove) | s.add;
  pappl_preason_t now = static_cast<pappl_preason_t>(filterReasons_);
  if (filterReasons_ & kStoppingReasons) {
    papplJobSetReasons(job_, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
    set_message(reasonMessage(now));
  } else {
    papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
  }
}

bool PapplJobSink::canceled() { return papplJobIsCanceled(job_); }

void PapplJobSink::renderLog(const std::string& line) {
  papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "Ghostscript: %s", displayText(line, 1024).c_str());
}

bool PapplJobSink::finish(const JobOutcome& outcome) {
  bool sent = papplDeviceFlush(device_);
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
    set_message(outcome.reason);
    return false;
  }
  // PAPPL counts the impressions of raster it reads itself; those of a
  // document only the filter knows, and job-impressions would stay 0.
  if (!papplCountsPages_) papplJobSetImpressions(job_, papplJobGetImpressionsCompleted(job_));
  // A printer that did not take every byte: PAPPL aborts the job with a
  // message that says how far it got.  When it did, PAPPL waits for it to
  // finish and leaves this message.  The manual-duplex prompt was the
  // printer's while it waited; the job's last word is what it printed.
  if (sent)
    set_message("Printed " + std::to_string(outcome.pages) + " page" + (outcome.pages == 1 ? "" : "s") + ".");
  return sent;
}

}  // namespace tpa
