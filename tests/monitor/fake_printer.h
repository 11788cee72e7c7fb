// The network side of a printer, for tests: its SNMP agent on UDP port 161
// of a loopback address of its own (the port is fixed, so the tests run as
// root; the address makes it the agent's alone) and its raw data port on
// TCP.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include <netinet/in.h>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace monitortest {

using Clock = std::chrono::steady_clock;

// Polls cond every 20 ms until it holds or the time is up (longer in
// sanitizer builds: testing_support::deadlineSeconds).
bool waitUntil(const std::function<bool()>& cond, double seconds);

// Answers the monitor's GetRequest with a GetResponse whose value is the
// printer's 64-byte job-status block: the state byte at block offset 4 and
// the job owner's text from offset 8, i.e. 60 and 56 bytes before the end
// of the reply.  Counts the keep-alive SetRequests and confirms each.  A packet that names
// the printer's private objects but is not exactly one of the two 45-byte
// messages is counted as malformed; other SNMP traffic (the CUPS backends'
// own queries) is ignored.
class FakeSnmpAgent {
 public:
  // Ways a broken or hostile agent answers a GetRequest.  The three short
  // or garbled replies come from the agent's port 161 in place of the answer; the
  // forged ones carry a well-formed "cancelled" reply for the owner from
  // another source, followed by the answer (if any) from the right one.
  enum class Misbehaviour {
    kNone,
    kOneByte,       // the cancel state byte alone
    kTail59,        // the last 59 bytes of a cancel reply: no state byte
    kGarbage1024,   // 1024 bytes of the cancel state, no owner, no NUL
    kOtherAddress,  // forged from another address's port 161
    kOtherPort,     // forged from the agent's address, another port
  };

  FakeSnmpAgent();
  ~FakeSnmpAgent();
  FakeSnmpAgent(const FakeSnmpAgent&) = delete;
  FakeSnmpAgent& operator=(const FakeSnmpAgent&) = delete;

  bool listening() const { return fd_ >= 0; }
  // The printer's address ("127.162.x.y"): its URI names it, and the data
  // port listens on it too.
  const std::string& host() const { return host_; }
  const std::string& otherHost() const { return otherHost_; }  // where kOtherAddress forges from
  void answer(uint8_t state, const std::string& owner);  // from now on
  void silence();                                        // no more answers
  void misbehave(Misbehaviour how, const std::string& owner);

  int getRequests() const { return gets_.load(); }
  int setRequests() const { return sets_.load(); }
  int malformed() const { return malformed_.load(); }
  int misbehaved() const { return misbehaved_.load(); }  // bad replies sent
  std::vector<Clock::time_point> setTimes() const;

  // The reply the agent sends for a state and owner (for direct checks).
  static std::string reply(uint8_t state, const std::string& owner);

 private:
  void serve();
  void answer_get(const sockaddr_in& to);  // with mutex_ held

  std::string host_, otherHost_;
  int fd_ = -1;
  int otherAddressFd_ = -1;  // a second address of its own, port 161
  int otherPortFd_ = -1;     // host_:<any>
  int wake_[2] = {-1, -1};
  std::atomic<int> gets_{0}, sets_{0}, malformed_{0}, misbehaved_{0};
  Misbehaviour how_ = Misbehaviour::kNone;
  std::string bad_;
  mutable std::mutex mutex_;
  bool answering_ = false;
  std::string reply_;
  std::vector<Clock::time_point> setTimes_;
  std::thread thread_;
};

// The printer's raw data port: accepts connections one after another and
// keeps what each sent.  While held, it stops reading, so the sender's
// buffers fill and the job waits.
class FakeDataPort {
 public:
  explicit FakeDataPort(const std::string& host = "127.0.0.1");
  ~FakeDataPort();
  FakeDataPort(const FakeDataPort&) = delete;
  FakeDataPort& operator=(const FakeDataPort&) = delete;

  int port() const { return port_; }
  void hold(bool held) { held_.store(held); }
  int jobsDone() const { return done_.load(); }
  size_t bytesOfCurrentJob() const;
  // Waits until `count` connections have ended, as long as data keeps
  // coming: false only when none arrived for stallSeconds (scaled as
  // waitUntil's).
  bool waitForJobs(int count, double stallSeconds) const;
  std::string job(int index) const;  // the data of a finished connection
  Clock::time_point jobEnd(int index) const;

 private:
  void serve();

  int fd_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> held_{false};
  std::atomic<int> done_{0};
  mutable std::mutex mutex_;
  std::string current_;
  std::vector<std::string> jobs_;
  std::vector<Clock::time_point> ends_;
  std::thread thread_;
};

}  // namespace monitortest
