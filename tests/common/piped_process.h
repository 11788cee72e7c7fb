// A child on pipes that a test feeds, signals and drains while it runs:
// raster arriving in parts, a stall between pages, a signal mid-job, an
// output held up so that the child's pipe fills.  Several may run at once.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

class PipedProcess {
 public:
  // `opts.stdinData` is ignored: feed() writes the input.  With `errFile`
  // standard error goes to that file, so a test that holds the output up
  // never holds up a child's log (threads blocked on a full log pipe would
  // mix their lines).
  PipedProcess(const std::vector<std::string>& argv, const ProcessOptions& opts,
               const std::string& errFile = "");
  ~PipedProcess();  // kills and reaps the child if it still runs
  PipedProcess(const PipedProcess&) = delete;
  PipedProcess& operator=(const PipedProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void signal(int signo);
  // Writes the bytes while draining the child's output, so neither side blocks.
  void feed(const std::string& data);
  void closeInput();
  // Drains for that long.
  void pause(int seconds);
  // Drains until standard error holds `text` or the time is up.
  bool waitFor(const std::string& text, int seconds);
  // Reads up to n more bytes of standard output and returns them (fewer at
  // its end or after the time-out); standard error is drained meanwhile.
  std::string read(size_t n, int seconds = 10);
  // Standard error so far, standard output left unread.
  const std::string& errSoFar();
  // Closes the input, reads everything and returns the exit status (128 +
  // signal when killed, -2 when still running after `seconds`: then killed).
  int finish(int seconds = 120);

  std::string out, err;  // everything read so far

 private:
  // One poll of the output pipes; false once both have ended.
  bool drain(int timeoutMs, size_t outLimit = ~size_t{0});
  // Reads what the poll found on each pipe; false once both have ended.
  bool take(short outEvents, short errEvents, size_t outLimit);
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string errFile_;
};

}  // namespace testing_support
