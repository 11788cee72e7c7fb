#include "walk.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "bytes.h"
#include "jbig_page.h"

namespace prndecode {

std::string escape_bytes(const uint8_t* p, size_t len) {
  std::string out;
  for (size_t i = 0; i < len; ++i) {
    uint8_t c = p[i];
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string hex_byte(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02x", value);
  return buf;
}

void Walk::violation(uint64_t offset, const std::string& message) {
  report.violations.push_back({offset, message});
}

void Walk::fatal(uint64_t offset, const std::string& message) {
  violation(offset, message);
  report.fatal = true;
}

Item Walk::item(uint64_t offset, const std::string& name) const {
  Item it;
  it.offset = offset;
  it.name = name;
  it.num("offset", offset);
  return it;
}

void Walk::add(Item item) { report.items.push_back(std::move(item)); }

void Walk::open_page(uint64_t offset, int number) {
  page = PageState{};
  page.open = true;
  page.offset = offset;
  page.number = number;
}

void Walk::close_page() {
  if (!page.open) return;
  report.pages += 1;
  PageImage& img = page.image;
  img.index = report.pages;
  img.number = page.number;
  Item it = item(page.offset, "page");
  it.num("index", uint64_t(img.index));
  if (page.number) it.num("number", uint64_t(page.number));
  it.num("width", img.width).num("height", img.height).num("depth", uint64_t(img.depth));
  if (img.widened) it.num("widened", 1);
  if (img.complete) {
    it.num("black", count_black(img.bits)).str("image", "decoded");
  } else {
    it.str("image", !options.decode_images ? "skipped" : page.have_image ? "failed" : "missing");
  }
  add(std::move(it));
  if (img.complete && sink) sink(img);
  page = PageState{};
}

size_t Walk::failure_report_at(size_t pos) const {
  // The reports start with an operation name and " :: ", as in
  // "Prnt_StartPage() :: send cmdPageSpec Fail 0 ==  \n"; the name part is
  // at most about 40 letters, and the line ends with a line feed.
  static const char kMark[] = "() :: ";
  size_t limit = pos + 64 < size ? pos + 64 : size;
  size_t i = pos;
  while (i < limit && (std::isalnum(data[i]) || data[i] == '_')) ++i;
  if (i == pos || !has_at(data, size, i, kMark, sizeof kMark - 1)) return 0;
  size_t end = i;
  while (end < size && end - pos < 4096 && data[end] != '\n') ++end;
  return end < size && data[end] == '\n' ? end + 1 - pos : size - pos;
}

}  // namespace prndecode
