#include "fake_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "test_support.h"

namespace monitortest {

namespace {

// The two messages the printer accepts, written out byte by byte.
const std::string kGetRequest(
    "\x30\x2B\x02\x01\x00\x04\x06public\xA0\x1E\x02\x01\x00\x02\x01\x00\x02\x01\x00"
    "\x30\x13\x30\x11\x06\x0D\x2B\x06\x01\x04\x01\xBF\xFF\x7D\x01\x01\x03\x10\x02\x05\x00",
    45);
const std::string kSetRequest(
    "\x30\x2B\x02\x01\x00\x04\x06public\xA3\x1E\x02\x01\x00\x02\x01\x00\x02\x01\x00"
    "\x30\x13\x30\x11\x06\x0C\x2B\x06\x01\x04\x01\xBF\xFF\x7D\x01\x01\x04\x0D\x02\x01\x01",
    45);
// The printer's private enterprise arc 1.3.6.1.4.1.1048573.
const std::string kPrivateArc("\x2B\x06\x01\x04\x01\xBF\xFF\x7D", 8);

// An address of its own in 127/8 (all of it is loopback on Linux), for
// the printer and for a second host to forge answers from: each agent has
// port 161 to itself, so tests with agents run at the same time, in this
// build and any other, and none waits for another.
std::string own_address() {
  static std::atomic<unsigned> next{0};
  unsigned n = (static_cast<unsigned>(getpid()) << 4) + next++;
  return "127.162." + std::to_string((n / 250) & 0xffu) + "." + std::to_string(1 + n % 250);
}

// UDP sockets never share a port: with SO_REUSEADDR a second agent on
// 161 would silently take the first one's requests.
int bound_socket(int type, int port, int rcvbuf, const char* ip = "127.0.0.1") {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  int on = 1;
  if (type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, ip, &a.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Waits for fd or the wake pipe; false once the pipe is written.
bool wait_for(int fd, int wakeFd, int ms) {
  pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  poll(p, 2, ms);
  return p[1].revents == 0;
}

void stop_thread(int wake[2], std::thread* t) {
  if (wake[1] >= 0) {
    ssize_t w = write(wake[1], "x", 1);
    (void)w;
  }
  if (t->joinable()) t->join();
  for (int i = 0; i < 2; ++i)
    if (wake[i] >= 0) close(wake[i]);
}

}  // namespace

bool waitUntil(const std::function<bool()>& cond, double seconds) {
  auto deadline =
      Clock::now() + std::chrono::duration<double>(seconds * testing_support::kDeadlineScale);
  while (!cond()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string FakeSnmpAgent::reply(uint8_t state, const std::string& owner) {
  std::string block(64, '\0');
  block[4] = static_cast<char>(state);
  block.replace(8, std::min<size_t>(owner.size(), 55), owner, 0, 55);
  // GetResponse: lengths 0x6B (message), 0x5E (PDU), 0x53 (bindings), 0x51 (binding).
  return std::string("\x30\x6B\x02\x01\x00\x04\x06public\xA2\x5E\x02\x01\x00\x02\x01\x00"
                     "\x02\x01\x00\x30\x53\x30\x51\x06\x0D\x2B\x06\x01\x04\x01\xBF\xFF\x7D"
                     "\x01\x01\x03\x10\x02\x04\x40",
                     45) +
         block;
}

FakeSnmpAgent::FakeSnmpAgent() : host_(own_address()), otherHost_(own_address()) {
  fd_ = bound_socket(SOCK_DGRAM, 161, 0, host_.c_str());
  if (fd_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) return;
  otherAddressFd_ = bound_socket(SOCK_DGRAM, 161, 0, otherHost_.c_str());
  otherPortFd_ = bound_socket(SOCK_DGRAM, 0, 0, host_.c_str());
  thread_ = std::thread([this] { serve(); });
}

FakeSnmpAgent::~FakeSnmpAgent() {
  stop_thread(wake_, &thread_);
  for (int fd : {fd_, otherAddressFd_, otherPortFd_})
    if (fd >= 0) close(fd);
}

void FakeSnmpAgent::misbehave(Misbehaviour how, const std::string& owner) {
  std::string cancel = reply(0x86, owner);
  std::lock_guard<std::mutex> lock(mutex_);
  how_ = how;
  switch (how) {
    case Misbehaviour::kNone: bad_.clear(); break;
    case Misbehaviour::kOneByte: bad_ = "\x86"; break;
    case Misbehaviour::kTail59: bad_ = cancel.substr(cancel.size() - 59); break;
    case Misbehaviour::kGarbage1024: bad_.assign(1024, '\x86'); break;
    case Misbehaviour::kOtherAddress:
    case Misbehaviour::kOtherPort: bad_ = cancel; break;
  }
}

void FakeSnmpAgent::answer_get(const sockaddr_in& to) {
  auto send_from = [&](int fd, const std::string& data) {
    return fd >= 0 && sendto(fd, data.data(), data.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0;
  };
  int badFd = how_ == Misbehaviour::kOtherAddress ? otherAddressFd_
              : how_ == Misbehaviour::kOtherPort  ? otherPortFd_
                                                  : fd_;
  if (how_ != Misbehaviour::kNone && send_from(badFd, bad_)) ++misbehaved_;
  bool forged = how_ == Misbehaviour::kOtherAddress || how_ == Misbehaviour::kOtherPort;
  // A garbled reply comes in place of the answer; a forged one before it.
  if (answering_ && (how_ == Misbehaviour::kNone || forged)) send_from(fd_, reply_);
}

void FakeSnmpAgent::answer(uint8_t state, const std::string& owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  answering_ = true;
  reply_ = reply(state, owner);
}

void FakeSnmpAgent::silence() {
  std::lock_guard<std::mutex> lock(mutex_);
  answering_ = false;
}

std::vector<Clock::time_point> FakeSnmpAgent::setTimes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return setTimes_;
}

void FakeSnmpAgent::serve() {
  char buf[2048];
  while (wait_for(fd_, wake_[0], 1000)) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                         &len);
    if (n <= 0) continue;
    std::string packet(buf, static_cast<size_t>(n));
    std::lock_guard<std::mutex> lock(mutex_);
    if (packet == kGetRequest) {
      // Counted before the answer: whoever has the reply already sees the count.
      ++gets_;
      answer_get(from);
    } else if (packet == kSetRequest) {
      ++sets_;
      setTimes_.push_back(Clock::now());
      // The agent confirms a set with a GetResponse carrying the same binding.
      std::string confirm = packet;
      confirm[13] = '\xA2';
      sendto(fd_, confirm.data(), confirm.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    } else if (packet.find(kPrivateArc) != std::string::npos) {
      ++malformed_;
    }
  }
}

FakeDataPort::FakeDataPort(const std::string& host) {
  // A small receive buffer: a held port soon stops the sender.
  fd_ = bound_socket(SOCK_STREAM, 0, 4096, host.c_str());
  if (fd_ < 0 || listen(fd_, 4) != 0 || pipe2(wake_, O_CLOEXEC) != 0) return;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { serve(); });
}

FakeDataPort::~FakeDataPort() {
  stop_thread(wake_, &thread_);
  if (fd_ >= 0) close(fd_);
}

size_t FakeDataPort::bytesOfCurrentJob() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_.size();
}

bool FakeDataPort::waitForJobs(int count, double stallSeconds) const {
  size_t seen = 0;
  for (;;) {
    size_t now = 0;
    bool stalled = !waitUntil(
        [&] {
          now = bytesOfCurrentJob() + static_cast<size_t>(jobsDone());
          return jobsDone() >= count || now != seen;
        },
        stallSeconds);
    if (jobsDone() >= count) return true;
    if (stalled) return false;
    seen = now;
  }
}

std::string FakeDataPort::job(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < static_cast<int>(jobs_.size()) ? jobs_[index] : "";
}

Clock::time_point FakeDataPort::jobEnd(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < static_cast<int>(ends_.size()) ? ends_[index] : Clock::time_point{};
}

void FakeDataPort::serve() {
  while (wait_for(fd_, wake_[0], 1000)) {
    int conn = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (conn < 0) continue;
    char buf[65536];
    bool open = true, stopped = false, widened = false;
    while (open && !stopped) {
      // Held: nothing is read (a pause, not a spin).
      stopped = !wait_for(held_.load() ? -1 : conn, wake_[0], held_.load() ? 20 : 50);
      if (stopped || held_.load()) continue;
      if (!widened) {
        // Released: the small buffer that made the sender wait would now
        // cost a round trip per 4 KB, which a busy machine makes slow.
        int size = 1 << 20;
        setsockopt(conn, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        widened = true;
      }
      ssize_t n = recv(conn, buf, sizeof buf, 0);
      std::lock_guard<std::mutex> lock(mutex_);
      if (n > 0) {
        current_.append(buf, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        jobs_.push_back(current_);
        ends_.push_back(Clock::now());
        current_.clear();
        ++done_;
        open = false;
      }
    }
    close(conn);
    if (stopped) return;
  }
}

}  // namespace monitortest
