// The backend's half of the CUPS side channel: a filter asks for the
// printer's IEEE 1284 device ID (and the like) over a socket on its
// descriptor 4, and the application answers as a CUPS backend would.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace tpa {

// The answer to one request (its 4-byte header and data, as the filter
// wrote them): the device ID for CUPS_SC_CMD_GET_DEVICE_ID, what a
// one-way connection to a printer that is online says for the state,
// bidi and connected questions, and "not implemented" for the rest.
std::string sideChannelReply(const std::string& request, const std::string& deviceId);

class SideChannel {
 public:
  // `deviceId` is asked the first time the filter wants the ID, on the
  // channel's own thread: a printer that is slow to tell (SNMP) holds up
  // the filter no longer than the filter is willing to wait.
  explicit SideChannel(std::function<std::string()> deviceId) : deviceIdOf_(std::move(deviceId)) {}
  ~SideChannel();  // stops answering
  SideChannel(const SideChannel&) = delete;
  SideChannel& operator=(const SideChannel&) = delete;

  // Makes the socket pair and starts answering; false when it cannot.
  bool start();
  // The end the filter gets as its descriptor 4.
  int filterEnd() const { return filterEnd_; }
  // Once the filter has its copy, ours goes.
  void closeFilterEnd();

 private:
  void serve();

  std::function<std::string()> deviceIdOf_;
  int ourEnd_ = -1;
  int filterEnd_ = -1;
  std::thread thread_;
};

}  // namespace tpa
