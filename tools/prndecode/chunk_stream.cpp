// PLATFORM_M: the chunk stream.
//
//   "\x1b%-12345X" "JZJZ" TONER_PARAM START_DOC_CMD
//   { START_PAGE_CMD JBIG_PARAM_CMD JBIG_DATA_CMD* JBIG_END_CMD END_PAGE_CMD
//     | MANUAL_DUPLEX_CMD }
//   END_DOC_CMD "\x1b%-12345X"
//
// Every chunk starts with a 16-byte big-endian header: length (header
// included), type, item count, item bytes, and the mark 0x5A 0x5A.
#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "chunk_walker.h"
#include "jbig_page.h"
#include "walkers.h"

namespace prndecode {
namespace chunks {

bool ChunkWalker::prologue() {
  size_t pos = 0;
  if (!has_at(w_.data, w_.size, 0, kUel, kUelLen)) {
    if (w_.options.force == Dialect::PlatformM) {
      fragment_ = true;  // a stored page sequence: chunks only
      state_ = State::Idle;
      return true;
    }
    w_.fatal(0, "stream does not start with the universal exit \\x1b%-12345X");
    return false;
  }
  w_.add(w_.item(0, "UEL_CMD"));
  pos = kUelLen;
  if (!has_at(w_.data, w_.size, pos, "JZJZ", 4)) {
    w_.fatal(pos, "missing the magic JZJZ after the universal exit");
    return false;
  }
  w_.add(w_.item(pos, "JZJZ"));
  return true;
}

void ChunkWalker::run() {
  if (!prologue()) return;
  size_t pos = fragment_ ? 0 : kUelLen + 4;
  while (pos < w_.size && !w_.report.fatal) {
    if (has_at(w_.data, w_.size, pos, kUel, kUelLen)) {
      w_.add(w_.item(pos, "UEL_CMD"));
      if (state_ == State::DocEnded) state_ = State::Closed;
      else w_.violation(pos, "universal exit inside the job, before END_DOC_CMD");
      pos += kUelLen;
      continue;
    }
    if (size_t len = w_.failure_report_at(pos)) {
      std::string text = escape_bytes(w_.data + pos, len);
      Item it = w_.item(pos, "failure_report");
      it.num("length", len).str("text", std::string(reinterpret_cast<const char*>(w_.data + pos), len));
      w_.add(std::move(it));
      w_.violation(pos, "driver failure report in the stream: \"" + text + "\"");
      pos += len;
      continue;
    }
    if (state_ == State::DocEnded && w_.left(pos) < kUelLen &&
        std::memcmp(w_.data + pos, kUel, w_.left(pos)) == 0) {
      w_.fatal(pos, "the closing universal exit is cut off (" + std::to_string(w_.left(pos)) + " of 9 bytes)");
      break;
    }
    if (state_ == State::Closed) {
      w_.fatal(pos, std::to_string(w_.left(pos)) + " bytes after the closing universal exit");
      break;
    }
    if (w_.left(pos) < kHeader) {
      w_.fatal(pos, "truncated chunk header: " + std::to_string(w_.left(pos)) + " of 16 bytes before the end of the file");
      break;
    }
    const uint8_t* h = w_.data + pos;
    if (h[14] != 0x5A || h[15] != 0x5A) {
      std::string before;
      if (prev_length_) {
        before = "; the chunk before, at offset " + std::to_string(prev_offset_) + ", has length " +
                 std::to_string(prev_length_);
      }
      w_.fatal(pos, "missing 0x5A 0x5A mark at the end of the chunk header (found " + hex_byte(h[14]) + " " +
                        hex_byte(h[15]) + before + ")");
      break;
    }
    uint32_t length = be32(h);
    if (length < kHeader) {
      w_.fatal(pos, "chunk length " + std::to_string(length) + " is shorter than its 16-byte header");
      break;
    }
    if (length > w_.left(pos)) {
      w_.fatal(pos, "chunk length " + std::to_string(length) + " runs past the end of the file (" +
                        std::to_string(w_.left(pos)) + " bytes left)");
      break;
    }
    chunk(pos, length, be32(h + 4), be32(h + 8), be16(h + 12));
    prev_offset_ = pos;
    prev_length_ = length;
    pos += length;
  }
  if (!w_.report.fatal) finish();
}

bool ChunkWalker::check_shape(size_t pos, const char* name, uint32_t type, uint32_t length, uint32_t count,
                              uint32_t bytes) {
  std::string n = name;
  bool ok = true;
  if (uint64_t(count) * kItem != bytes) {
    w_.violation(pos, n + " item bytes " + std::to_string(bytes) + " differ from its item count " +
                          std::to_string(count) + " x 12");
    ok = false;
  }
  uint32_t want_count = 0, want_length = kHeader;
  switch (type) {
    case START_DOC_CMD: want_count = 3; want_length = 52; break;
    case START_PAGE_CMD: {
      bool custom = count == 17 || length == 220;
      want_count = custom ? 17 : 14;
      want_length = custom ? 220 : 184;
      break;
    }
    case JBIG_PARAM_CMD: want_length = 36; break;
    case TONER_PARAM: want_length = 88; break;
    case JBIG_DATA_CMD: want_length = length; break;  // checked with the piece
    default: break;
  }
  if (count != want_count) {
    w_.violation(pos, n + " carries " + std::to_string(count) + " items, expected " + std::to_string(want_count));
    ok = false;
  }
  if (length != want_length) {
    w_.violation(pos, n + " chunk length " + std::to_string(length) + ", expected " + std::to_string(want_length));
    ok = false;
  }
  // Items are read only where the chunk really holds them: the readers
  // take the expected number of items, so the count must be that too.
  return ok || (count == want_count && kHeader + uint64_t(count) * kItem <= length);
}

void ChunkWalker::chunk(size_t pos, uint32_t length, uint32_t type, uint32_t count, uint32_t item_bytes) {
  const char* name = chunk_name(type);
  Item it = w_.item(pos, name ? name : "chunk");
  it.num("length", length);
  if (!name) {
    it.num("type", type);
    w_.add(std::move(it));
    w_.violation(pos, "unknown chunk type " + std::to_string(type));
    return;
  }
  if (count || item_bytes) it.num("items", count).num("item_bytes", item_bytes);
  bool readable = check_shape(pos, name, type, length, count, item_bytes);
  order(pos, name, type);
  const uint8_t* body = w_.data + pos + kHeader;
  switch (type) {
    case TONER_PARAM: {
      std::string values;
      for (size_t k = 0; k < 36 && kHeader + 2 * k + 2 <= length; ++k) {
        uint32_t v = be16(body + 2 * k);
        values += (k ? "," : "") + std::to_string(v);
        if (v != kToner[k]) {
          w_.violation(pos, "TONER_PARAM value " + std::to_string(k) + " is " + std::to_string(v) + ", expected " +
                                std::to_string(kToner[k]));
        }
      }
      it.str("values", values);
      break;
    }
    case START_DOC_CMD:
      if (readable) start_doc(pos, it);
      break;
    case START_PAGE_CMD:
      if (readable) start_page(pos, count, it);
      break;
    case JBIG_PARAM_CMD:
      if (length >= kHeader + 20) jbig_param(pos, it);
      break;
    case JBIG_DATA_CMD:
      jbig_data(pos, length, it);
      break;
    default:
      break;
  }
  w_.add(std::move(it));
  if (type == JBIG_END_CMD) decode_page(pos);
  if (type == END_PAGE_CMD) w_.close_page();
}

void ChunkWalker::order(size_t pos, const char* name, uint32_t type) {
  std::string n = name;
  auto bad = [&](const std::string& why) { w_.violation(pos, n + " " + why); };
  std::string page_no = std::to_string(w_.report.pages + 1);
  switch (type) {
    case TONER_PARAM:
      if (state_ != State::Toner) bad("outside the job start");
      else state_ = State::StartDoc;
      break;
    case START_DOC_CMD:
      if (state_ == State::Toner) bad("without TONER_PARAM before it");
      else if (state_ != State::StartDoc) bad("after the job start");
      state_ = State::Idle;
      break;
    case START_PAGE_CMD:
      if (state_ == State::Toner || state_ == State::StartDoc) bad("before START_DOC_CMD");
      else if (state_ == State::DocEnded) bad("after END_DOC_CMD");
      else if (w_.page.open) {
        w_.violation(w_.page.offset, "page " + page_no + " has no END_PAGE_CMD (the next START_PAGE_CMD is at offset " +
                                         std::to_string(pos) + ")");
        w_.close_page();
      }
      w_.open_page(pos, 0);
      have_params_ = false;
      spans_.clear();
      state_ = State::PageItems;
      break;
    case JBIG_PARAM_CMD:
      if (state_ != State::PageItems) bad(w_.page.open ? "twice in page " + page_no : "outside a page");
      state_ = State::PageData;
      break;
    case JBIG_DATA_CMD:
      if (state_ != State::PageData) bad(w_.page.open ? "outside the image of page " + page_no : "outside a page");
      break;
    case JBIG_END_CMD:
      if (state_ != State::PageData) bad(w_.page.open ? "without JBIG_PARAM_CMD in page " + page_no : "outside a page");
      state_ = State::PageImageDone;
      break;
    case END_PAGE_CMD:
      if (!w_.page.open) bad("without START_PAGE_CMD");
      else if (state_ == State::PageItems) bad("of page " + page_no + " without its image");
      else if (state_ == State::PageData) bad("of page " + page_no + " before JBIG_END_CMD");
      state_ = State::Idle;
      break;
    case MANUAL_DUPLEX_CMD:
      if (state_ != State::Idle) bad(w_.page.open ? "inside page " + page_no : "outside the pages of the job");
      else if (manual_duplex_seen_) bad("a second time");
      manual_duplex_seen_ = true;
      break;
    case END_DOC_CMD:
      if (w_.page.open) {
        bad("inside page " + page_no + " (before its END_PAGE_CMD)");
        w_.close_page();
      } else if (state_ != State::Idle) {
        bad(state_ == State::DocEnded ? "a second time" : "before the job start is complete");
      } else if (w_.report.pages == 0) {
        bad("ends a job without pages");
      }
      state_ = State::DocEnded;
      break;
    default:
      break;
  }
}

void ChunkWalker::finish() {
  uint64_t end = w_.size;
  if (w_.page.open) {
    w_.violation(w_.page.offset, "page " + std::to_string(w_.report.pages + 1) + " has no END_PAGE_CMD (the file ends)");
    if (state_ == State::PageImageDone || state_ == State::PageData) decode_page(end);
    w_.close_page();
  }
  if (fragment_) return;
  if (state_ == State::DocEnded) w_.violation(end, "the file ends without the universal exit after END_DOC_CMD");
  else if (state_ != State::Closed) w_.violation(end, "the file ends before END_DOC_CMD: the job has no end");
}

}  // namespace chunks

void walk_chunk_stream(Walk& w) { chunks::ChunkWalker(w).run(); }

}  // namespace prndecode
