// The filter on pipes: fed, signalled and drained by a test.  Several runs
// may go at once, so that their closing waits overlap.
#pragma once

#include <sys/types.h>

#include <string>

namespace stores_test {

class FilterRun {
 public:
  // Starts `program` as CUPS would (job 42, options as given) with PPD,
  // TMPDIR and, when not empty, TESVEL_CMS_LIBRARY in its environment.
  FilterRun(const std::string& program, const std::string& ppd, const std::string& options,
            const std::string& tmpdir, const std::string& cmsLibrary = "");
  ~FilterRun();
  FilterRun(const FilterRun&) = delete;
  FilterRun& operator=(const FilterRun&) = delete;

  bool started() const { return pid_ > 0; }
  void signal(int signo);
  // Writes the bytes while draining the filter's output, so neither side blocks.
  void feed(const std::string& data);
  void closeInput();
  // Drains until the CUPS log holds `text` or the time is up.
  bool waitFor(const std::string& text, int seconds);
  // Reads everything and returns the exit status (128 + signal when killed).
  int finish();

  std::string out, err;

 private:
  bool drain(short outEvents, short errEvents);
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool reaped_ = false;
};

}  // namespace stores_test
