// The monitor threads' waits.  A pause, or a wait for a printer's reply,
// ends early when the job asks the thread to stop, so a thread never holds
// the end of the job back by more than one USB transfer.
#pragma once

#include <atomic>

namespace jw {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Before a thread starts: no stop requested, nothing pending.
  void reset();
  // Wakes every current and later wait of the thread.
  void request();
  bool requested() const { return stopped_.load(); }

  // Sleeps ms milliseconds; false when a stop cut the pause short.
  bool pause_ms(int ms) const;
  // Waits up to ms milliseconds for fd to become readable: 1 readable,
  // 0 time-out, -1 stop requested.
  int wait_readable(int fd, int ms) const;

 private:
  int wake_[2];  // a pipe: written once per stop request, polled by the waits
  std::atomic<bool> stopped_{false};
};

}  // namespace jw
