// The PJL lines the wrapper adds behind the job's "@PJL JOB NAME" line,
// and its two job-end texts.
#pragma once

#include <cstddef>

namespace jw {

// The lines added behind "@PJL JOB NAME", built once per job.
struct PjlAdditions {
  char ownerLine[256];  // "@PJL SET JOBOWNER=\"<host>\"\r\n"
  char jobIdLine[256];  // "@PJL SET JOBID=<argv[1]>\r\n"
};

// Paper line for A5 fed long edge first.
extern const char kPjlPaperA5L[];  // "@PJL SET PAPER=A5L\r\n"

// Appended to spooled input that does not end with a UEL: the twenty
// printable characters "<04><1B>%-12345X<0A>", as the printers expect
// them (not the control bytes they name).
extern const char kSpoolUelText[];

// Closes a cancelled job at a page boundary.  The page count and bounding
// box are fixed values, not the job's.
constexpr size_t kCancelTrailerLength = 69;
extern const char kCancelTrailer[kCancelTrailerLength + 1];

// Builds the owner and job-id lines.  The owner is the host name (the
// printer's job log shows the machine, not the CUPS user); a host name
// too long for the line is cut.
void build_pjl_additions(const char* owner, const char* jobId, PjlAdditions* out);

// The text to write behind a line holding "@PJL JOB NAME" (exact case):
// owner line, job-id line and, for A5 long edge, the paper line; empty for
// any other line.  The caller writes it after the line itself, so a long
// job-name line can never overrun the line buffer.  Returns the length.
size_t pjl_addition_for_line(const char* line, size_t len, const PjlAdditions& add,
                             bool a5LongEdge, char* out, size_t outSize);

// Only while cancel_job is set.  When the buffer holds a page comment
// "%%Page:" (and not "%%EndSetup\n%%Page:", which is never cut), writes
// the bytes before it and the 69-byte trailer to the job output, leaves
// the trailer in the buffer (capacity must be at least 70 bytes) and
// returns 1 with *trailerLength = 69.  Else returns 0, *trailerLength = 0.
int WriteCancelTrailer(char* buffer, size_t capacity, size_t length, int* trailerLength);

// The cancel check of every copy loop: once cancel_job is set, cuts the
// job at the buffer's page comment and reports the trailer.  True when the
// job output has ended and the copy must stop.
bool end_job_if_cancelled(char* buffer, size_t capacity, size_t length);

}  // namespace jw
