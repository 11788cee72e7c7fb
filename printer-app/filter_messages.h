// The lines the filter writes to its standard error, as CUPS reads them.
#pragma once

#include <string>

namespace tpa {

struct FilterMessage {
  enum Kind { Page, Info, Error, Debug, State, Attr, Other } kind = Other;
  int page = 0;       // Page: page number
  int copies = 0;     // Page: impressions the printer makes of it
  std::string text;   // Info, Error, State, Attr: the line without its prefix
};

// One line, without its newline.  "PAGE: n c" lines that do not hold two
// numbers are Other, so a malformed line never counts a page.
FilterMessage parseFilterLine(const std::string& line);

// Text that is safe to show as a state message: printable, one line, at
// most `max` bytes, cut on a UTF-8 character boundary.
std::string displayText(const std::string& text, size_t max = 255);

}  // namespace tpa
