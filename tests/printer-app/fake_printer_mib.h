// A network printer as the status poll sees it: an SNMPv1 agent on UDP
// port 161 answering the Printer MIB (the detected error state, one marker
// supply, the localization the supply walk asks for) with values the test
// sets, and a raw data port that takes connections and reads whatever
// comes.  Each agent has a loopback address of its own, so agents of tests
// running at the same time each have their port 161.
#pragma once

#include <atomic>
#include <chrono>
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
  // It also stops answering SNMP.
  void hang();

  // The data port, as a printer's: connections taken, those that closed
  // without a byte (an empty print job), and the bytes read.  While the
  // error state says no paper, the printer stops reading, as one does.
  int dataConnections() const { return connections_; }
  int emptyDataConnections() const { return emptyConnections_; }
  long dataBytes() const { return bytes_; }
  // Paper runs out once the data port has read `bytes` (0: never): the
  // error state says no paper from then on.  When it happened.
  void runOutOfPaperAfter(long bytes) { paperFor_ = bytes; }
  std::chrono::steady_clock::time_point ranOutAt() const;

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
  bool out_of_paper();
  std::atomic<bool> hung_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> emptyConnections_{0};
  std::atomic<long> bytes_{0};
  std::atomic<long> paperFor_{0};
  std::chrono::steady_clock::time_point ranOut_;  // under mutex_
  std::vector<int> fillers_;  // the connections that fill the accept queue
  std::mutex mutex_;
  std::map<Oid, Value> mib_;
  std::thread thread_;
};

}  // namespace testing_support
