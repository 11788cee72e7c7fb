#include "record_tokens.h"

#include <cstring>

#include "bytes.h"

namespace prndecode {

namespace {

constexpr uint8_t kRecordStart = 0x0B;
constexpr char kUelC[] = "\x1b\xff-12345X";
constexpr size_t kUelLen = 9;
constexpr size_t kMaxText = 4096;

enum Only { Both, COnly, ZOnly };

struct KindRow {
  uint8_t id;
  uint8_t length;
  Only only;
  Rec rec;
  const char* name;
};

// Fixed and built records.  The id alone does not name a record:
// 0x11, 0x19, 0x1A, 0x1E and 0x1F come in two lengths.
const KindRow kKinds[] = {
    {0x16, 4, COnly, Rec::AbortCmd, "abortCmd"},
    {0x17, 4, Both, Rec::ResetCmd, "resetCmd"},
    {0x18, 4, Both, Rec::FormFeedCmd, "formFeedCmd"},
    {0x1B, 4, ZOnly, Rec::ManualDuplexCmd, "manualDuplexCmd"},
    {0x30, 4, COnly, Rec::ManualDuplexCmd, "manualDuplexCmd"},
    {0x31, 5, COnly, Rec::QueryStatusCmd, "queryStatusCmd"},
    {0x32, 4, COnly, Rec::HostUseCmd, "hostUseCmd"},
    {0x40, 4, COnly, Rec::MachineDuplexCmd, "machineDuplexCmd"},
    {0x0C, 18, Both, Rec::RasterImage, "cmdRasterImage"},
    {0x11, 6, COnly, Rec::JobSpec, "cmdJobSpec"},
    {0x11, 9, ZOnly, Rec::JobSpec, "cmdJobSpec"},
    {0x12, 18, Both, Rec::PageSpec, "cmdPageSpec"},
    {0x13, 12, Both, Rec::CustomPaper, "cmdCustomPaper"},
    {0x15, 5, Both, Rec::Density, "cmdDensity"},
    {0x19, 5, COnly, Rec::TonerSave, "cmdTonerSave"},
    {0x19, 7, ZOnly, Rec::Coverage, "cmdCoverage"},
    {0x1A, 6, COnly, Rec::ImageDataChenksum, "cmdImageDataChenksum"},
    {0x1A, 48, ZOnly, Rec::BandHeader, "cmdBandHeader"},
    {0x1E, 6, COnly, Rec::Coverage, "cmdCoverage"},
    {0x1E, 36, ZOnly, Rec::TonerParamTXD, "cmdTonerParamTXD"},
    {0x1E, 40, ZOnly, Rec::TonerParamTXD, "cmdTonerParamTXD"},
    {0x1F, 5, ZOnly, Rec::FineMode, "cmdFineMode"},
    {0x1F, 8, COnly, Rec::SysTime, "cmdSysTime"},
};

struct TextRow {
  Text text;
  const char* bytes;
  bool prefix;
};
const TextRow kTexts[] = {
    {Text::PjlHeader, "\x1b%-12345X@PJL\r\n", false},
    {Text::UelLine, "\x1b%-12345X\r\n", false},
    {Text::Eoj, "@PJL EOJ\r\n", false},
    {Text::EnterLanguage, "@PJL ENTER LANGUAGE=PL\r\n", false},
    {Text::LanguageVersion, "@PJL LANGUAGEVERSION=1.0\r\n", false},
    {Text::JobTime, "@PJL JOBTIME=", true},
    {Text::JobOwner, "@PJL JOBOWNER=", true},
    {Text::BlankSuppress, "@PJL SET BLANKSUPPRESS=", true},
    {Text::Version, "versions=3.1.2.1", false},
};

Text classify_text(const uint8_t* p, size_t len) {
  for (const TextRow& row : kTexts) {
    size_t n = std::strlen(row.bytes);
    if ((row.prefix ? len >= n : len == n) && std::memcmp(p, row.bytes, n) == 0) return row.text;
  }
  return Text::Other;
}

bool text_byte(uint8_t c) { return c == '\r' || c == '\t' || (c >= 0x20 && c != 0x7F); }

}  // namespace

RecordKind classify_record(uint8_t id, uint8_t length, Dialect dialect) {
  RecordKind other;
  for (const KindRow& row : kKinds) {
    if (row.id != id || row.length != length) continue;
    bool mine = row.only == Both || (row.only == COnly) == (dialect == Dialect::PlatformC) ||
                dialect == Dialect::Unknown;
    if (mine) return RecordKind{row.rec, row.name, false};
    other = RecordKind{row.rec, row.name, true};
  }
  return other;
}

Dialect record_dialect(uint8_t id, uint8_t length) {
  for (const KindRow& row : kKinds) {
    if (row.id == id && row.length == length && row.only != Both) {
      return row.only == COnly ? Dialect::PlatformC : Dialect::PlatformZ;
    }
  }
  return Dialect::Unknown;
}

void Tokenizer::problem(size_t pos, const std::string& message, bool stop) {
  if (quiet_) {
    if (stop) pos_ = w_.size;
    return;
  }
  if (stop) {
    w_.fatal(pos, message);
    pos_ = w_.size;
  } else {
    w_.violation(pos, message);
  }
}

size_t Tokenizer::text_length(size_t pos) const {
  // A line runs to its line feed; it starts with a printable byte or the
  // ESC of a universal exit, and stops early at a byte that cannot be text
  // (the version text "versions=3.1.2.1" has no line end of its own).
  size_t i = pos + 1;
  while (i < w_.size && i - pos < kMaxText) {
    uint8_t c = w_.data[i];
    if (c == '\n') return i + 1 - pos;
    if (!text_byte(c)) break;
    ++i;
  }
  return i - pos;
}

Token Tokenizer::next() {
  Token t;
  while (pos_ < w_.size && w_.data[pos_] == 0) {
    if (pos_ + 1 < w_.size && w_.data[pos_ + 1] == 0) {
      if (t.fillers == 0) t.fillers_offset = pos_;
      if (pairs_ == 0) first_filler_ = pos_;
      t.fillers += 1;
      pairs_ += 1;
      pos_ += 2;
    } else {
      problem(pos_, "lone zero byte: the zero filler comes in pairs", false);
      pos_ += 1;
    }
  }
  t.pos = pos_;
  if (pos_ >= w_.size) return t;
  const uint8_t* p = w_.data + pos_;
  size_t left = w_.size - pos_;
  if (p[0] == kRecordStart) {
    if (left < 2) {
      problem(pos_, "truncated record: the file ends after its 0x0B", true);
      return Token{};
    }
    uint8_t length = p[1];
    if (length < 4) {
      problem(pos_, "record length " + std::to_string(length) + " is shorter than the 4 bytes of the smallest record",
              true);
      return Token{};
    }
    if (length > left) {
      problem(pos_, "record length " + std::to_string(length) + " runs past the end of the file (" +
                        std::to_string(left) + " bytes left)", true);
      return Token{};
    }
    t.kind = Tok::Record;
    t.len = length;
    t.record = classify_record(p[2], length, dialect_);
  } else if (p[0] == 0x1B && left >= 2 && p[1] == 0xFF) {
    if (left < kUelLen || std::memcmp(p, kUelC, kUelLen) != 0) {
      problem(pos_, "broken UEL_CMD_C: " + escape_bytes(p, left < kUelLen ? left : kUelLen), true);
      return Token{};
    }
    t.kind = Tok::UelC;
    t.len = kUelLen;
  } else if (size_t n = w_.failure_report_at(pos_)) {
    t.kind = Tok::FailureReport;
    t.len = n;
  } else if ((p[0] == 0x1B && left >= 2 && p[1] == '%') || (p[0] != 0x1B && p[0] != '\n' && text_byte(p[0]))) {
    t.kind = Tok::Text;
    t.len = text_length(pos_);
    t.text = classify_text(p, t.len);
    t.cut = pos_ + t.len == w_.size && p[t.len - 1] != '\n';
  } else {
    problem(pos_, "unexpected byte " + hex_byte(p[0]) + " where a record (0x0B), a zero filler or a PJL line should start",
            true);
    return Token{};
  }
  pos_ += t.len;
  return t;
}

std::string token_text(const Walk& w, const Token& t) { return escape_bytes(w.data + t.pos, t.len); }

std::string token_name(const Walk& w, const Token& t) {
  switch (t.kind) {
    case Tok::End: return "the end of the file";
    case Tok::UelC: return "UEL_CMD_C";
    case Tok::FailureReport: return "a driver failure report";
    case Tok::Text: return "\"" + token_text(w, t) + "\"" + (t.cut ? " (cut off by the end of the file)" : "");
    case Tok::Record:
      if (t.record.name) return t.record.name;
      return "record id " + hex_byte(w.data[t.pos + 2]) + " length " + std::to_string(t.len);
  }
  return "?";
}

}  // namespace prndecode
