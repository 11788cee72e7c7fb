#include "monitor_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace jw {

namespace {
MonitorPace g_pace;
}  // namespace

void set_monitor_pace(const MonitorPace& pace) { g_pace = pace; }
const MonitorPace& monitor_pace() { return g_pace; }

StopSignal::StopSignal() {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

StopSignal::~StopSignal() {
  if (wake_[0] >= 0) close(wake_[0]);
  if (wake_[1] >= 0) close(wake_[1]);
}

void StopSignal::reset() {
  char drain[64];
  while (wake_[0] >= 0 && read(wake_[0], drain, sizeof drain) > 0) {
  }
  stopped_.store(false);
}

void StopSignal::request() {
  stopped_.store(true);
  if (wake_[1] >= 0) {
    ssize_t w = write(wake_[1], "x", 1);
    (void)w;  // a full pipe already wakes every wait
  }
}

namespace {

// Polls fd (may be -1) and the wake pipe until the deadline; restarts
// after signals with the time that is left.
int poll_until(int fd, int wakeFd, int ms) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) return 0;
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    int r = poll(fds, 2, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    if (fds[0].revents != 0) return -1;
    if (fds[1].revents != 0) return 1;
  }
}

}  // namespace

bool StopSignal::pause_ms(int ms) const {
  if (requested()) return false;
  return poll_until(-1, wake_[0], ms) >= 0 && !requested();
}

int StopSignal::wait_readable(int fd, int ms) const {
  if (requested()) return -1;
  int r = poll_until(fd, wake_[0], ms);
  return requested() ? -1 : r;
}

}  // namespace jw
