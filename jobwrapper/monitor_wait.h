// The monitor threads' waits.  A pause, or a wait for a printer's reply,
// ends early when the job asks the thread to stop, so a thread never holds
// the end of the job back by more than one USB transfer.
#pragma once

#include <atomic>

namespace jw {

// How long the monitor threads wait.  The defaults are the pace the
// printers expect and the one every print job gets; only tests set
// another (in-process, or through jobwrapper's test build).
struct MonitorPace {
  int turnMs = 500;         // one turn of the status thread's loop
  int keepAliveMs = 5000;   // pause after each keep-alive SetRequest
  int usbHoldMs = 700;      // keep-alive over USB: one turn of holding the device
  int replyWaitMs = 2000;   // the printer answers an SNMP request within this or not at all
};

// Set before a monitor thread starts; read by the threads.
void set_monitor_pace(const MonitorPace& pace);
const MonitorPace& monitor_pace();

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
