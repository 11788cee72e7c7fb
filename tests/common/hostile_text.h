// Hostile job text: what a client could put in a title, a user name, an
// option or a file name to run a command or break the printer's job
// header, and the checks that it did neither.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

extern const char kUel[];  // the printer's Universal Exit Language sequence

// 40 payloads.  Each payload that a shell would run creates a marker file
// named "pwned<index>" in the working directory.
std::vector<std::string> hostilePayloads();

// What job text could break in a printer job: its PJL command lines (each
// up to its first '=' or '"', with the balance of its quotes) and its UELs.
std::vector<std::string> pjlShape(const std::string& job);

// The marker files anywhere below dir.
std::vector<std::string> markersIn(const std::string& dir);

}  // namespace testing_support
