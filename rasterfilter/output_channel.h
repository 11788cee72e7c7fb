// The one way printer data leaves rasterfilter, and the driver's failure
// reports.
//
// SendDataToFile writes a block to the printer stream (g_job.outputFd,
// standard output in a job) and, when asked, into the page stores that keep
// the job for collated copies and manual duplex.  Failure reports go to the
// CUPS log (g_job.diagFd) as "ERROR:" lines, never into the printer stream.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace rf {

// The system call the channel writes with; tests swap in short or failing
// writes.  A null argument restores write(2).
using WriteFn = ssize_t (*)(int fd, const void* data, size_t count);
void setOutputWriter(WriteFn fn);

// Writes all of a block to fd, continuing after short writes and EINTR.
// A zero-length block is written successfully.
bool write_all(int fd, const void* data, size_t length);

// Sends a block to the printer (while stdoutEnabled is 1) and, with
// toPageStore 1, into every open page store that applies to pageCount.
// Result 1 when the block reached its destination: the printer when
// stdoutEnabled is 1, otherwise the page stores.  A failed store write only
// sets g_job.storeFailed; a failed printer write sets g_job.stdoutFailed and
// from then on nothing more is written.
int SendDataToFile(const void* data, int length, int toPageStore);

// Puts text in front of errorText; the result is cut to 1023 characters
// and always terminated.
void prependErrorText(const char* text);

// The driver's failure report: fixedText in front of errorText, then the
// whole text on the CUPS log, one "ERROR: " line per line.
void failureReport(const char* fixedText);

// Writes text on the CUPS log as it is.
void writeDiag(const char* text);

// Writes text on the CUPS log, one "ERROR: " line per line.
void writeErrorLines(const char* text);

// One step of a writer: the zero filler first when filler is true, then
// the block.  On failure "<op> :: send <name> Fail 0 ==  \n" goes in front
// of errorText and the result is false.
bool sendStep(const char* op, const char* name, bool filler, const void* data, size_t length,
              int toPageStore);

// The report that ends a job whose printer stream went away.
extern const char kOutputLostText[];
void reportOutputLost();

// The report that ends a job for a model the driver has no dialect for.
void reportUnsupportedModel(const char* modelName);

}  // namespace rf
