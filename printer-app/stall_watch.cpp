#include "stall_watch.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tpa {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<Clock::rep> last_tick{0};
std::atomic<bool> watching{false};

void watch(pappl_system_t* system, int seconds) {
  const auto limit = std::chrono::seconds(seconds);
  for (;;) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    auto since = Clock::now() - Clock::time_point(Clock::duration(last_tick.load()));
    if (since < limit) continue;
    // The log has its own lock, never one the main loop can hold.
    papplLog(system, PAPPL_LOGLEVEL_FATAL,
             "The server has not run its main loop for %d seconds and answers no client: it stops "
             "here, to be started again (the printers and queued jobs come back from the saved state).",
             seconds);
    _exit(EXIT_FAILURE);  // not exit(): the deadlocked threads hold what exit handlers would need
  }
}

}  // namespace

void stallWatchTick(pappl_system_t* system, int seconds) {
  last_tick.store(Clock::now().time_since_epoch().count());
  if (seconds <= 0 || watching.exchange(true)) return;
  std::thread(watch, system, seconds).detach();
}

}  // namespace tpa
