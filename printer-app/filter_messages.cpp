#include "filter_messages.h"

#include <cstdio>

namespace tpa {

namespace {

bool starts(const std::string& s, const char* prefix, size_t* rest) {
  size_t n = std::char_traits<char>::length(prefix);
  if (s.compare(0, n, prefix) != 0) return false;
  while (n < s.size() && s[n] == ' ') ++n;
  *rest = n;
  return true;
}

}  // namespace

FilterMessage parseFilterLine(const std::string& line) {
  FilterMessage m;
  size_t rest = 0;
  if (starts(line, "PAGE:", &rest)) {
    int page = 0, copies = 0;
    char tail = 0;
    if (std::sscanf(line.c_str() + rest, "%d %d %c", &page, &copies, &tail) == 2 && page > 0 &&
        copies >= 0) {
      m.kind = FilterMessage::Page;
      m.page = page;
      m.copies = copies;
    }
    return m;
  }
  if (starts(line, "INFO:", &rest)) m.kind = FilterMessage::Info;
  else if (starts(line, "ERROR:", &rest)) m.kind = FilterMessage::Error;
  else if (starts(line, "DEBUG:", &rest)) m.kind = FilterMessage::Debug;
  else if (starts(line, "STATE:", &rest)) m.kind = FilterMessage::State;
  else if (starts(line, "ATTR:", &rest)) m.kind = FilterMessage::Attr;
  else rest = 0;
  m.text = line.substr(rest);
  return m;
}

std::string displayText(const std::string& text, size_t max) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) c = ' ';
    out += static_cast<char>(c);
  }
  if (out.size() > max) {
    size_t cut = max;
    // Never leave half a UTF-8 sequence at the end.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace tpa
