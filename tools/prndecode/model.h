// prndecode: what an inspection of a printer stream produces.
//
// The inspector walks a printer file the way the printer would and describes it as a list of items, one per
// PJL line, chunk, item group or record, plus the violations it found and
// the decoded page images.  Nothing here knows about files or output
// formats; main.cpp and format.cpp do.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace prndecode {

enum class Dialect { Unknown, PlatformC, PlatformZ, PlatformM };

// "PLATFORM_C", "PLATFORM_Z", "PLATFORM_M" or "unknown".
const char* dialect_name(Dialect dialect);

// One decoded field of an item: a number (shown in decimal or hex) or a text.
struct Field {
  enum class Kind { Decimal, Hex, Text };
  std::string key;
  Kind kind = Kind::Decimal;
  uint64_t number = 0;
  std::string text;
};

// One line of the listing.
struct Item {
  uint64_t offset = 0;
  std::string name;
  std::vector<Field> fields;

  Item& num(const std::string& key, uint64_t value);
  Item& hex(const std::string& key, uint64_t value);
  Item& str(const std::string& key, const std::string& value);
};

// A departure from the printer's format, at the offset of the chunk, record, line or
// data byte it concerns.
struct Violation {
  uint64_t offset = 0;
  std::string message;
};

// A decoded page, handed to the caller's sink as soon as its page ends.
struct PageImage {
  int index = 0;         // 1-based position of the page in the stream
  int number = 0;        // page number carried by the stream (0: none, PLATFORM_M)
  uint32_t width = 0;    // pixels per line
  uint32_t height = 0;   // lines
  int depth = 1;         // bits per pixel: 1, or 2 for the four-level PLATFORM_M pages
  bool widened = false;  // 1200-dpi lines coded at twice the width (horizontal pixels are half as wide)
  size_t row_bytes = 0;  // bytes per line of `bits`
  std::vector<uint8_t> bits;  // lines of row_bytes, most significant bit first, 1 = black
  bool complete = false;      // every line decoded; otherwise the missing part is white
};

using PageSink = std::function<void(const PageImage&)>;

struct Options {
  Dialect force = Dialect::Unknown;  // skip the detection (for fragments)
  bool decode_images = true;
};

struct Report {
  Dialect dialect = Dialect::Unknown;
  uint64_t size = 0;
  std::vector<Item> items;
  std::vector<Violation> violations;  // in the order found; the first one decides --check
  bool fatal = false;                 // the walk stopped at the last violation
  int pages = 0;
  uint64_t filler_pairs = 0;
};

// Walks `size` bytes of a printer stream.  Never reads outside the buffer and
// never allocates more than the stream can justify (see jbig_page.h).
Report inspect(const uint8_t* data, size_t size, const Options& options, const PageSink& sink);

// The dialect of a stream from its first bytes and its job-start records
// (or, for a page sequence, its page records); Unknown when neither fits.
Dialect detect_dialect(const uint8_t* data, size_t size);

}  // namespace prndecode
