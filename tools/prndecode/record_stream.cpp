#include <cstring>
#include <string>

#include "bytes.h"
#include "jbig_page.h"
#include "record_walker.h"
#include "walkers.h"

namespace prndecode {

namespace {

using T = Tok;

Step rec(const char* what, Rec r, Gap gap, bool optional = false) {
  return Step{what, T::Record, r, Text::Other, gap, optional};
}
Step text(const char* what, Text t, Gap gap, bool optional = false) {
  return Step{what, T::Text, Rec::Unknown, t, gap, optional};
}
Step uel_c(Gap gap) { return Step{"UEL_CMD_C", T::UelC, Rec::Unknown, Text::Other, gap, false}; }

// Prnt_StartDoc for PLATFORM_C: clear the printer (abort, end of
// job), the version text, then the PJL job and its records.
const std::vector<Step> kPrologueC = {
    uel_c(Gap::None),
    rec("abortCmd", Rec::AbortCmd, Gap::None),
    text("\"\\x1b%-12345X@PJL\\r\\n\" (endOfJobCmd)", Text::PjlHeader, Gap::None),
    text("\"@PJL EOJ\\r\\n\" (endOfJobCmd)", Text::Eoj, Gap::None),
    text("\"\\x1b%-12345X\\r\\n\" (endOfJobCmd)", Text::UelLine, Gap::None),
    text("the version text \"versions=3.1.2.1\"", Text::Version, Gap::None),
    text("the PJL header \"\\x1b%-12345X@PJL\\r\\n\"", Text::PjlHeader, Gap::One),
    text("\"@PJL ENTER LANGUAGE=PL\\r\\n\"", Text::EnterLanguage, Gap::None),
    rec("cmdJobSpec", Rec::JobSpec, Gap::One),
    rec("cmdTonerSave", Rec::TonerSave, Gap::One),
    rec("cmdDensity", Rec::Density, Gap::One),
    rec("cmdSysTime", Rec::SysTime, Gap::None),
};

// Prnt_StartDoc for PLATFORM_Z.
const std::vector<Step> kPrologueZ = {
    text("the PJL header \"\\x1b%-12345X@PJL\\r\\n\"", Text::PjlHeader, Gap::None),
    text("\"@PJL LANGUAGEVERSION=1.0\\r\\n\"", Text::LanguageVersion, Gap::None, true),
    text("\"@PJL JOBTIME=...\"", Text::JobTime, Gap::None),
    text("\"@PJL JOBOWNER=...\"", Text::JobOwner, Gap::None),
    text("\"@PJL SET BLANKSUPPRESS=...\"", Text::BlankSuppress, Gap::None, true),
    text("\"@PJL ENTER LANGUAGE=PL\\r\\n\"", Text::EnterLanguage, Gap::None),
    rec("cmdFineMode", Rec::FineMode, Gap::One),
    rec("cmdJobSpec", Rec::JobSpec, Gap::One),
    rec("cmdDensity", Rec::Density, Gap::One),
    rec("cmdTonerParamTXD", Rec::TonerParamTXD, Gap::One, true),
};

// Parts 3.4 and 3.6: one page.  The timer may fire while the driver
// converts raster, that is before the page and between page start and
// image.
const std::vector<Step> kPageC = {
    rec("cmdPageSpec", Rec::PageSpec, Gap::AtLeastOne),
    rec("cmdCustomPaper", Rec::CustomPaper, Gap::One),
    rec("hostUseCmd", Rec::HostUseCmd, Gap::One),
    rec("cmdRasterImage", Rec::RasterImage, Gap::AtLeastOne),
    uel_c(Gap::None),
    rec("cmdImageDataChenksum", Rec::ImageDataChenksum, Gap::One),
    rec("cmdCoverage", Rec::Coverage, Gap::One),
    rec("formFeedCmd", Rec::FormFeedCmd, Gap::One),
    rec("machineDuplexCmd", Rec::MachineDuplexCmd, Gap::One, true),
};

const std::vector<Step> kPageZ = {
    rec("cmdPageSpec", Rec::PageSpec, Gap::AtLeastOne),
    rec("cmdCustomPaper", Rec::CustomPaper, Gap::One),
    rec("cmdCoverage", Rec::Coverage, Gap::AtLeastOne),
    rec("cmdRasterImage", Rec::RasterImage, Gap::One),
    rec("formFeedCmd", Rec::FormFeedCmd, Gap::One),
};

// Prnt_EndDoc.
const std::vector<Step> kEndC = {
    rec("machineDuplexCmd", Rec::MachineDuplexCmd, Gap::AtLeastOne, true),
    rec("queryStatusCmd", Rec::QueryStatusCmd, Gap::AtLeastOne),
    rec("resetCmd", Rec::ResetCmd, Gap::One),
    text("\"\\x1b%-12345X@PJL\\r\\n\" (endOfJobCmd)", Text::PjlHeader, Gap::None),
    text("\"@PJL EOJ\\r\\n\" (endOfJobCmd)", Text::Eoj, Gap::None),
    text("\"\\x1b%-12345X\\r\\n\" (endOfJobCmd)", Text::UelLine, Gap::None),
};

const std::vector<Step> kEndZ = {
    rec("resetCmd", Rec::ResetCmd, Gap::Any),
    text("\"\\x1b%-12345X@PJL\\r\\n\" (endOfJobCmd)", Text::PjlHeader, Gap::None),
    text("\"@PJL EOJ\\r\\n\" (endOfJobCmd)", Text::Eoj, Gap::None),
    text("\"\\x1b%-12345X\\r\\n\" (endOfJobCmd)", Text::UelLine, Gap::None),
};

bool is_record(const Token& t, Rec r) { return t.kind == Tok::Record && t.record.rec == r; }


}  // namespace

RecordWalker::RecordWalker(Walk& w, Dialect d)
    : w_(w),
      d_(d),
      tok_(w, d, false),
      prologue_(d == Dialect::PlatformC ? &kPrologueC : &kPrologueZ),
      page_(d == Dialect::PlatformC ? &kPageC : &kPageZ),
      end_(d == Dialect::PlatformC ? &kEndC : &kEndZ),
      seq_(prologue_) {}

void RecordWalker::run() {
  for (;;) {
    Token t = tok_.next();
    if (w_.report.fatal) return;
    if (t.kind == Tok::End) break;
    list(t);
    if (t.kind == Tok::FailureReport) {
      w_.violation(t.pos, "driver failure report in the stream: \"" + token_text(w_, t) + "\"");
    } else {
      on_token(t);
    }
    if (is_record(t, Rec::RasterImage)) read_image(t);
    if (w_.report.fatal) return;
  }
  finish();
}

void RecordWalker::list(const Token& t) {
  switch (t.kind) {
    case Tok::Record: {
      Item it = w_.item(t.pos, t.record.name ? t.record.name : "record");
      describe_record(w_, t, it);
      w_.add(std::move(it));
      break;
    }
    case Tok::UelC:
      w_.add(w_.item(t.pos, "UEL_CMD_C"));
      break;
    case Tok::Text:
    case Tok::FailureReport: {
      bool pjl = w_.data[t.pos] == 0x1B || has_at(w_.data, w_.size, t.pos, "@PJL", 4);
      const char* name = t.kind == Tok::FailureReport ? "failure_report" : pjl ? "pjl" : "text";
      Item it = w_.item(t.pos, name);
      it.num("length", t.len).str("text", std::string(reinterpret_cast<const char*>(w_.data + t.pos), t.len));
      w_.add(std::move(it));
      break;
    }
    case Tok::End:
      break;
  }
}

void RecordWalker::on_token(const Token& t) {
  if (!started_) {
    started_ = true;
    // A stored page sequence (a page store, a cut-out) has no job start:
    // accepted silently when the dialect was given on the command line.
    bool any = false;
    for (const Step& s : *prologue_) any = any || matches(s, t);
    if (!any && w_.options.force != Dialect::Unknown) {
      fragment_ = true;
      enter(Phase::Idle);
    }
  }
  switch (phase_) {
    case Phase::Done:
      w_.violation(t.pos, token_name(w_, t) + " after the end of the job");
      return;
    case Phase::Idle:
      idle(t);
      return;
    default:
      step(t);
      return;
  }
}

bool RecordWalker::matches(const Step& s, const Token& t) const {
  if (s.kind != t.kind) return false;
  // machineDuplexCmd ends odd pages only; after an even page it belongs to
  // the job end.
  if (phase_ == Phase::Page && s.rec == Rec::MachineDuplexCmd && last_page_ % 2 == 0) return false;
  if (t.kind == Tok::Record) return t.record.rec == s.rec;
  if (t.kind == Tok::Text) return t.text == s.text;
  return true;
}

void RecordWalker::step(const Token& t) {
  while (idx_ < seq_->size()) {
    const Step& s = (*seq_)[idx_];
    if (matches(s, t)) {
      check_gap(s, t);
      ++idx_;
      accept(s, t);
      if (idx_ == seq_->size()) complete_phase();
      return;
    }
    if (!s.optional) {
      mismatch(s, t);
      return;
    }
    ++idx_;
  }
  complete_phase();
  on_token(t);
}

void RecordWalker::enter(Phase phase) {
  phase_ = phase;
  idx_ = 0;
  seq_ = phase == Phase::Prologue ? prologue_ : phase == Phase::Page ? page_ : end_;
}

void RecordWalker::complete_phase() {
  if (phase_ == Phase::Page && w_.page.open) w_.close_page();
  enter(phase_ == Phase::End ? Phase::Done : Phase::Idle);
}

void RecordWalker::idle(const Token& t) {
  bool job_end = d_ == Dialect::PlatformC
                     ? is_record(t, Rec::QueryStatusCmd) || is_record(t, Rec::MachineDuplexCmd)
                     : is_record(t, Rec::ResetCmd);
  if (is_record(t, Rec::PageSpec)) {
    enter(Phase::Page);
    step(t);
  } else if (job_end) {
    if (w_.report.pages == 0 && !fragment_) w_.violation(t.pos, "job end without any page");
    enter(Phase::End);
    step(t);
  } else if (is_record(t, Rec::ManualDuplexCmd)) {
    if (manual_duplex_) w_.violation(t.pos, "manualDuplexCmd a second time in the job");
    manual_duplex_ = true;
  } else {
    const char* end = d_ == Dialect::PlatformC ? "queryStatusCmd" : "resetCmd";
    w_.violation(t.pos, token_name(w_, t) + " outside a page: expected cmdPageSpec, manualDuplexCmd or the job end (" +
                            end + ")");
  }
}

std::string RecordWalker::context() const {
  switch (phase_) {
    case Phase::Prologue: return "in the job start";
    case Phase::Page: return "in page " + std::to_string(w_.report.pages + 1);
    case Phase::End: return "in the job end";
    default: return "";
  }
}

void RecordWalker::mismatch(const Step& s, const Token& t) {
  w_.violation(t.pos, "expected " + std::string(s.what) + " " + context() + ", found " + token_name(w_, t));
  // Resynchronise: a later step of the same sequence (the expected ones are
  // missing), or a new page or the job end; anything else is skipped.
  for (size_t j = idx_ + 1; j < seq_->size(); ++j) {
    if (matches((*seq_)[j], t)) {
      idx_ = j + 1;
      accept((*seq_)[j], t);
      if (idx_ == seq_->size()) complete_phase();
      return;
    }
  }
  bool restart = is_record(t, Rec::PageSpec) || (phase_ != Phase::End &&
                 (d_ == Dialect::PlatformC ? is_record(t, Rec::QueryStatusCmd) : is_record(t, Rec::ResetCmd)));
  if (restart) {
    if (phase_ == Phase::Page && w_.page.open) w_.close_page();
    enter(Phase::Idle);
    idle(t);
  }
}

void RecordWalker::check_gap(const Step& s, const Token& t) {
  uint64_t n = t.fillers;
  std::string where = " before " + std::string(s.what) + " " + context();
  switch (s.gap) {
    case Gap::None:
      if (n) w_.violation(t.fillers_offset, "zero filler" + where + ", where the driver sends none");
      break;
    case Gap::One:
      if (filler_mode_ && n > 1) {
        w_.violation(t.fillers_offset, std::to_string(n) + " zero filler pairs" + where + ", expected one");
        break;
      }
      [[fallthrough]];
    case Gap::AtLeastOne:
      if (filler_mode_ && n == 0) {
        w_.violation(t.pos, "missing zero filler pair" + where + " (the stream has filler pairs, the first at offset " +
                                std::to_string(first_filler_) +
                                ", so it comes from a model outside ModelListA, which sends one here)");
      }
      break;
    case Gap::Any:
      break;
  }
}

void RecordWalker::accept(const Step& s, const Token& t) {
  (void)s;
  if (t.kind == Tok::Text) {
    if (t.text == Text::JobTime) job_time(t);
    else if (t.text == Text::JobOwner) job_owner(t);
    else if (t.text == Text::LanguageVersion) language_version_ = true;
    else if (t.text == Text::BlankSuppress) blank_suppress(t);
    return;
  }
  if (t.kind != Tok::Record) return;
  switch (t.record.rec) {
    case Rec::TonerParamTXD:
      if ((t.len == 36) != language_version_) {
        w_.violation(t.pos, t.len == 36 ? "cmdTonerParamTXD of 36 bytes (TXD model) without \"@PJL LANGUAGEVERSION=1.0\""
                                        : "cmdTonerParamTXD of 40 bytes after \"@PJL LANGUAGEVERSION=1.0\" (TXD model, which sends the 36-byte form)");
      }
      break;
    case Rec::PageSpec: page_spec(t); break;
    case Rec::CustomPaper: custom_paper(t); break;
    case Rec::Coverage:
      if (d_ == Dialect::PlatformZ) {
        pf_.have_coverage = true;
        pf_.coverage_offset = t.pos;
        std::memcpy(pf_.coverage, w_.data + t.pos + 3, 3);
      }
      break;
    case Rec::RasterImage: raster_image(t); break;
    case Rec::ImageDataChenksum:
      if (pf_.have_sum && (w_.data[t.pos + 3] != pf_.image_sum || w_.data[t.pos + 4] != 0)) {
        w_.violation(t.pos, "cmdImageDataChenksum " + std::to_string(le16(w_.data + t.pos + 3)) +
                                " disagrees with the image bytes plus UEL_CMD_C, which sum to " +
                                std::to_string(pf_.image_sum) + " (mod 256)");
      }
      break;
    case Rec::FormFeedCmd: end_of_page(t); break;
    case Rec::MachineDuplexCmd: machine_duplex(t); break;
    default: break;
  }
}

void RecordWalker::finish() {
  uint64_t end = w_.size;
  // A sequence whose remaining steps are all optional is complete.
  while (phase_ == Phase::Prologue || phase_ == Phase::Page || phase_ == Phase::End) {
    bool required = false;
    for (size_t j = idx_; j < seq_->size(); ++j) required = required || !(*seq_)[j].optional;
    if (required) break;
    complete_phase();
  }
  // Steps left in the current sequence that are not optional.
  std::string missing;
  if (phase_ == Phase::Prologue || phase_ == Phase::Page || phase_ == Phase::End) {
    for (size_t j = idx_; j < seq_->size(); ++j) {
      if (!(*seq_)[j].optional) {
        missing = (*seq_)[j].what;
        break;
      }
    }
  }
  if (!missing.empty()) {
    w_.violation(end, "the file ends " + context() + ": expected " + missing);
  } else if (phase_ == Phase::Idle && !fragment_) {
    w_.violation(end, std::string("the file ends without the job end: expected ") +
                          (d_ == Dialect::PlatformC ? "queryStatusCmd" : "resetCmd"));
  }
  if (w_.page.open) w_.close_page();
}

void walk_record_stream(Walk& w, Dialect dialect) {
  // A first quiet pass counts the filler pairs, which tell whether the
  // model sends Insert00 at all.
  Report scratch;
  scratch.dialect = dialect;
  Options quiet = w.options;
  quiet.decode_images = false;
  PageSink none;
  Walk scan(w.data, w.size, scratch, quiet, none);
  RecordWalker first(scan, dialect);
  first.run();
  RecordWalker walker(w, dialect);
  walker.set_fillers(first.filler_pairs(), first.first_filler());
  walker.run();
  w.report.filler_pairs = walker.filler_pairs();
}

}  // namespace prndecode
