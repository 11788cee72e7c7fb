#include "side_channel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <cups/sidechannel.h>

namespace tpa {

namespace {

constexpr size_t kHeaderSize = 4;  // command, status, data length (16 bits, big-endian)
constexpr size_t kMaxData = 65535;

std::string message(int command, cups_sc_status_t status, const std::string& data) {
  std::string out(kHeaderSize, '\0');
  size_t n = data.size() > kMaxData ? kMaxData : data.size();
  out[0] = static_cast<char>(command);
  out[1] = static_cast<char>(status);
  out[2] = static_cast<char>(n >> 8);
  out[3] = static_cast<char>(n & 0xff);
  return out + data.substr(0, n);
}

bool read_all(int fd, char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = read(fd, buf + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool write_all(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t r = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace

std::string sideChannelReply(const std::string& request, const std::string& deviceId) {
  if (request.size() < kHeaderSize) return "";
  int command = static_cast<unsigned char>(request[0]);
  switch (command) {
    case CUPS_SC_CMD_GET_DEVICE_ID:
      return message(command, CUPS_SC_STATUS_OK, deviceId);
    case CUPS_SC_CMD_GET_STATE:
      return message(command, CUPS_SC_STATUS_OK, std::string(1, static_cast<char>(CUPS_SC_STATE_ONLINE)));
    case CUPS_SC_CMD_GET_BIDI:
      // The application only writes to the printer; no filter reads back.
      return message(command, CUPS_SC_STATUS_OK, std::string(1, static_cast<char>(CUPS_SC_BIDI_NOT_SUPPORTED)));
    case CUPS_SC_CMD_GET_CONNECTED:
      return message(command, CUPS_SC_STATUS_OK, std::string(1, '\1'));
    case CUPS_SC_CMD_DRAIN_OUTPUT:
      // Every block goes on to the device as it comes.
      return message(command, CUPS_SC_STATUS_OK, "");
    default:
      return message(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, "");
  }
}

bool SideChannel::start() {
  int fds[2];
  if (socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  ourEnd_ = fds[0];
  filterEnd_ = fds[1];
  thread_ = std::thread([this] { serve(); });
  return true;
}

void SideChannel::closeFilterEnd() {
  if (filterEnd_ >= 0) close(filterEnd_);
  filterEnd_ = -1;
}

void SideChannel::serve() {
  for (;;) {
    std::string request(kHeaderSize, '\0');
    if (!read_all(ourEnd_, &request[0], kHeaderSize)) return;
    size_t n = (static_cast<size_t>(static_cast<unsigned char>(request[2])) << 8) |
               static_cast<unsigned char>(request[3]);
    std::string data(n, '\0');
    if (n > 0 && !read_all(ourEnd_, &data[0], n)) return;
    std::string id;
    if (static_cast<unsigned char>(request[0]) == CUPS_SC_CMD_GET_DEVICE_ID) {
      if (deviceIdOf_) id = deviceIdOf_();
      deviceIdOf_ = [id] { return id; };  // asked once
    }
    if (!write_all(ourEnd_, sideChannelReply(request + data, id))) return;
  }
}

SideChannel::~SideChannel() {
  closeFilterEnd();
  if (ourEnd_ >= 0) shutdown(ourEnd_, SHUT_RDWR);  // wakes the reader
  if (thread_.joinable()) thread_.join();
  if (ourEnd_ >= 0) close(ourEnd_);
}

}  // namespace tpa
