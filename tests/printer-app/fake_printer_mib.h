// A network printer as the status poll sees it: an SNMPv1 agent on UDP
// port 161 answering the Printer MIB (the detected error state, one marker
// supply, the localization the supply walk asks for) with values the test
// sets, and a raw data port that takes connections and reads whatever
// comes.  Each agent has a loopback address of its own, so agents of tests
// running at the same time each have their port 161.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class FakePrinterMib {
 public:
  FakePrinterMib();
  ~FakePrinterMib();
  FakePrinterMib(const FakePrinterMib&) = delete;
  FakePrinterMib& operator=(const FakePrinterMib&) = delete;

  bool listening() const { return udp_ >= 0 && tcp_ >= 0; }
  std::string uri() const;  // socket://ADDRESS:PORT

  // hrPrinterDetectedErrorState, its two octets (0x4000 no paper, 0x0400
  // jammed, 0x2000 low toner, ...).
  void setErrorState(uint16_t bits);
  // The one supply, "Black Toner": its level against a capacity of 100
  // (-2: the printer does not know it).
  void setTonerLevel(int level);
  // The printer stops answering, as one switched off behind a router: a
  // connection to its data port is never completed (its accept queue is
  // full, so the kernel drops further SYNs and the connect waits).
  void hang();

 private:
  struct Value {
    bool text = false;
    int number = 0;
    std::string bytes;
  };
  using Oid = std::vector<int>;
  void serve();
  std::string answer(const std::string& request);  // "" when not understood

  uint32_t address_;  // host order, in 127/8
  int udp_ = -1;
  int tcp_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> hung_{false};
  std::vector<int> fillers_;  // the connections that fill the accept queue
  std::mutex mutex_;
  std::map<Oid, Value> mib_;
  std::thread thread_;
};

}  // namespace testing_support
