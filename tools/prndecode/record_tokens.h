// PLATFORM_C and PLATFORM_Z: cutting the stream into tokens.
//
// Outside the image data the stream is a sequence of PJL text lines,
// UEL_CMD_C markers (1B FF "-12345X"), zero filler pairs (00 00) and
// command records (0x0B, total length, id, payload, checksum).
// The tokenizer returns one token at a time and counts the filler pairs in
// front of each; the image data after cmdRasterImage is read by the walker
// (record_stream.cpp), which then moves the tokenizer on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model.h"
#include "walk.h"

namespace prndecode {

enum class Rec {
  Unknown,
  AbortCmd,
  ResetCmd,
  FormFeedCmd,
  ManualDuplexCmd,
  QueryStatusCmd,
  HostUseCmd,
  MachineDuplexCmd,
  RasterImage,
  JobSpec,
  PageSpec,
  CustomPaper,
  Density,
  TonerSave,
  Coverage,
  ImageDataChenksum,
  BandHeader,
  TonerParamTXD,
  FineMode,
  SysTime,
};

// What the (id, length) pair of a record names.
struct RecordKind {
  Rec rec = Rec::Unknown;
  const char* name = nullptr;  // the record's name, or nullptr when unknown
  bool other_dialect = false;  // the pair exists only in the other record dialect
};
RecordKind classify_record(uint8_t id, uint8_t length, Dialect dialect);
// The record dialect an (id, length) pair belongs to; Unknown when both
// dialects (or neither) have it.
Dialect record_dialect(uint8_t id, uint8_t length);

// Known PJL and marker texts.
enum class Text {
  Other,
  PjlHeader,     // "\x1b%-12345X@PJL\r\n"
  UelLine,       // "\x1b%-12345X\r\n" (end of endOfJobCmd)
  Eoj,           // "@PJL EOJ\r\n"
  EnterLanguage, // "@PJL ENTER LANGUAGE=PL\r\n"
  LanguageVersion,
  JobTime,       // "@PJL JOBTIME=..."
  JobOwner,      // "@PJL JOBOWNER=..."
  BlankSuppress, // "@PJL SET BLANKSUPPRESS=..."
  Version,       // "versions=3.1.2.1"
};

enum class Tok { End, Record, Text, UelC, FailureReport };

struct Token {
  Tok kind = Tok::End;
  size_t pos = 0;
  size_t len = 0;
  uint64_t fillers = 0;        // filler pairs right before the token
  size_t fillers_offset = 0;   // where they start
  RecordKind record;           // Tok::Record
  Text text = Text::Other;     // Tok::Text
  bool cut = false;            // Tok::Text reaching the end of the file without a line end
};

class Tokenizer {
 public:
  // With `quiet` set, problems end the walk without any report.
  Tokenizer(Walk& walk, Dialect dialect, bool quiet) : w_(walk), dialect_(dialect), quiet_(quiet) {}

  Token next();
  size_t pos() const { return pos_; }
  void skip_to(size_t pos) { pos_ = pos; }
  uint64_t filler_pairs() const { return pairs_; }
  uint64_t first_filler() const { return first_filler_; }

 private:
  Walk& w_;
  Dialect dialect_;
  bool quiet_;
  size_t pos_ = 0;
  uint64_t pairs_ = 0;
  uint64_t first_filler_ = 0;

  void problem(size_t pos, const std::string& message, bool stop);
  size_t text_length(size_t pos) const;
};

// Description of a record for the listing (fields by their names), and
// the checks that concern the record alone (fixed bytes, checksum, ranges).
void describe_record(Walk& w, const Token& t, Item& it);

// The text of a token, escaped for messages and listings.
std::string token_text(const Walk& w, const Token& t);
// A short description of a token for "expected X, found Y" messages.
std::string token_name(const Walk& w, const Token& t);

}  // namespace prndecode
