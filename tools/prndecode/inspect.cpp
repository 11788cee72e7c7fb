// Entry point of the inspection: dialect detection and dispatch.
#include <string>

#include "bytes.h"
#include "record_tokens.h"
#include "walk.h"
#include "walkers.h"

namespace prndecode {

namespace {
constexpr char kUel[] = "\x1b%-12345X";
constexpr char kUelC[] = "\x1b\xff-12345X";
constexpr size_t kUelLen = 9;
constexpr int kDetectTokens = 256;
}  // namespace

Dialect detect_dialect(const uint8_t* data, size_t size) {
  if (has_at(data, size, 0, kUel, kUelLen) && has_at(data, size, kUelLen, "JZJZ", 4)) return Dialect::PlatformM;
  // The two record dialects share their framing; their job-start records
  // differ (cmdJobSpec of 6 or 9 bytes, cmdFineMode, cmdTonerSave, ...).
  Report scratch;
  Options options;
  options.decode_images = false;
  PageSink none;
  Walk walk(data, size, scratch, options, none);
  Tokenizer tokens(walk, Dialect::Unknown, true);
  for (int n = 0; n < kDetectTokens; ++n) {
    Token t = tokens.next();
    if (t.kind == Tok::End) break;
    if (t.kind != Tok::Record) continue;
    Dialect d = record_dialect(data[t.pos + 2], uint8_t(t.len));
    if (d != Dialect::Unknown) return d;
    if (t.record.rec == Rec::RasterImage) break;  // image data follows: no more tokens to trust
  }
  if (has_at(data, size, 0, kUelC, kUelLen)) return Dialect::PlatformC;
  if (has_at(data, size, 0, kUel, kUelLen)) return Dialect::PlatformZ;
  return Dialect::Unknown;
}

Report inspect(const uint8_t* data, size_t size, const Options& options, const PageSink& sink) {
  Report report;
  report.size = size;
  Walk walk(data, size, report, options, sink);
  if (size == 0) {
    walk.fatal(0, "empty file");
    return report;
  }
  report.dialect = options.force != Dialect::Unknown ? options.force : detect_dialect(data, size);
  switch (report.dialect) {
    case Dialect::PlatformM:
      walk_chunk_stream(walk);
      break;
    case Dialect::PlatformC:
    case Dialect::PlatformZ:
      walk_record_stream(walk, report.dialect);
      break;
    default:
      walk.fatal(0, "not a printer stream of a known dialect: it starts with \"" +
                        escape_bytes(data, size < 16 ? size : 16) + "\"");
      break;
  }
  return report;
}

}  // namespace prndecode
