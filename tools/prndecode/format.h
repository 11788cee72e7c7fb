// The listing of a report: one line per item ("name key=value ..."), or
// one JSON document.
#pragma once

#include <ostream>
#include <string>

#include "model.h"

namespace prndecode {

// "stream ..." line, the items, "error ..." for a walk that had to stop,
// and a closing "summary ..." line.
void write_listing(std::ostream& out, const std::string& file, const Report& report);

// The same as one JSON object, with every violation.
void write_json(std::ostream& out, const std::string& file, const Report& report);

// One item as a listing line, without the line end.
std::string listing_line(const Item& item);

// "offset N: message".
std::string violation_text(const Violation& violation);

}  // namespace prndecode
