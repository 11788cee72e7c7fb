// Starting the helper programs of the colour road (qpdf, the CUPS pdftops
// filter).  Job text (titles, user names, options) reaches them only as
// separate arguments: no shell ever sees it.
//
// A cancelled job must not wait for a helper that hangs: CUPS sends the
// filter SIGTERM and, much later, SIGKILL, which would leave the helper
// running on its own.  So each helper runs in a process group of its own,
// the SIGTERM handler passes the signal on to that group, and a group that
// is still there after a short grace is killed.
#pragma once

#include <string>

namespace jw {

// Exit status of a child that ran; kNotStarted when it could not be
// started at all (no pipe, no process, program missing, job cancelled).
constexpr int kNotStarted = -1;

// Runs argv[0] with the argument vector (null-ended) and waits for it.  A
// name without "/" is searched on PATH.  The child reads /dev/null and
// writes its standard output to outFd; its standard error is ours.
// Returns its exit code, 128 + the signal that ended it, or kNotStarted
// (errno tells why; ECANCELED once terminate_running_child has run).
int run_program(const char* const* argv, int outFd);

// As run_program, with the child's standard output collected in *out.
// Only the first kCaptureLimit bytes are kept: a child that goes on
// writing then loses its pipe (SIGPIPE) instead of filling our memory.
constexpr size_t kCaptureLimit = 64 * 1024;
int run_program_capture(const char* const* argv, std::string* out);

// For the SIGTERM handler (async-signal-safe): sends SIGTERM to the
// running child's process group and refuses every later start.  The
// waiting side reaps the child, and kills the group when it outlives
// kTerminateGraceMs.
constexpr int kTerminateGraceMs = 2000;
void terminate_running_child();

}  // namespace jw
