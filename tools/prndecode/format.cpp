#include "format.h"

#include <cstdio>

#include "bytes.h"

namespace prndecode {

namespace {

std::string hex_text(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%02llx", static_cast<unsigned long long>(v));
  return buf;
}

// Bare words stay bare; anything else is quoted with C escapes.
std::string listing_value(const std::string& s) {
  bool bare = !s.empty();
  for (unsigned char c : s) {
    if (c <= ' ' || c == '"' || c == '\\' || c == '=' || c >= 0x7F) bare = false;
  }
  if (bare) return s;
  return "\"" + escape_bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()) + "\"";
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) {  // raw stream bytes: control bytes and Latin-1 as \u00XX
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string json_value(const Field& f) {
  if (f.kind == Field::Kind::Text) return json_string(f.text);
  return std::to_string(f.number);
}

}  // namespace

std::string listing_line(const Item& item) {
  std::string line = item.name;
  for (const Field& f : item.fields) {
    line += " " + f.key + "=";
    switch (f.kind) {
      case Field::Kind::Decimal: line += std::to_string(f.number); break;
      case Field::Kind::Hex: line += hex_text(f.number); break;
      case Field::Kind::Text: line += listing_value(f.text); break;
    }
  }
  return line;
}

std::string violation_text(const Violation& v) { return "offset " + std::to_string(v.offset) + ": " + v.message; }

void write_listing(std::ostream& out, const std::string& file, const Report& report) {
  out << "stream file=" << listing_value(file) << " size=" << report.size << " dialect=" << dialect_name(report.dialect)
      << "\n";
  for (const Item& item : report.items) out << listing_line(item) << "\n";
  if (report.fatal && !report.violations.empty()) {
    const Violation& v = report.violations.back();
    out << "error offset=" << v.offset << " message=" << listing_value(v.message) << "\n";
  }
  out << "summary pages=" << report.pages << " filler_pairs=" << report.filler_pairs
      << " violations=" << report.violations.size() << "\n";
}

void write_json(std::ostream& out, const std::string& file, const Report& report) {
  out << "{\"file\":" << json_string(file) << ",\"size\":" << report.size << ",\"dialect\":"
      << json_string(dialect_name(report.dialect)) << ",\"items\":[";
  for (size_t i = 0; i < report.items.size(); ++i) {
    const Item& item = report.items[i];
    out << (i ? ",\n" : "\n") << "{\"name\":" << json_string(item.name);
    for (const Field& f : item.fields) out << "," << json_string(f.key) << ":" << json_value(f);
    out << "}";
  }
  out << "],\n\"pages\":" << report.pages << ",\"filler_pairs\":" << report.filler_pairs << ",\"violations\":[";
  for (size_t i = 0; i < report.violations.size(); ++i) {
    const Violation& v = report.violations[i];
    out << (i ? "," : "") << "\n{\"offset\":" << v.offset << ",\"message\":" << json_string(v.message) << "}";
  }
  out << "],\n\"fatal\":" << (report.fatal ? "true" : "false")
      << ",\"ok\":" << (report.violations.empty() ? "true" : "false") << "}\n";
}

}  // namespace prndecode
