// Starting the helper programs of the colour road (qpdf, the CUPS pdftops
// filter).  Job text (titles, user names, options) reaches them only as
// separate arguments: no shell ever sees it.
#pragma once

#include <string>

namespace jw {

// Exit status of a child that ran; kNotStarted when it could not be
// started at all (no pipe, no process, program missing).
constexpr int kNotStarted = -1;

// Runs argv[0] with the argument vector (null-ended) and waits for it.  A
// name without "/" is searched on PATH.  The child reads /dev/null and
// writes its standard output to outFd; its standard error is ours.
// Returns its exit code, 128 + the signal that ended it, or kNotStarted
// (errno tells why).
int run_program(const char* const* argv, int outFd);

// As run_program, with the child's standard output collected in *out.
int run_program_capture(const char* const* argv, std::string* out);

}  // namespace jw
