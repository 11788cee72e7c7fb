#include "fake_printer_mib.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace testing_support {

namespace {

const std::vector<int> kErrorState = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};

// BER: a tag, its length (short or long form) and the contents.
std::string tlv(uint8_t tag, const std::string& body) {
  std::string out(1, static_cast<char>(tag));
  size_t n = body.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else {
    out += '\x82';
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n & 0xff);
  }
  return out + body;
}

std::string ber_int(int v) {
  std::string b;
  for (int i = 3; i >= 0; --i) b += static_cast<char>((v >> (8 * i)) & 0xff);
  // Shortest two's complement form.
  while (b.size() > 1 && ((b[0] == 0 && !(b[1] & 0x80)) || (b[0] == '\xff' && (b[1] & 0x80)))) b.erase(0, 1);
  return tlv(0x02, b);
}

std::string ber_oid(const std::vector<int>& oid) {
  std::string b(1, static_cast<char>(oid[0] * 40 + oid[1]));
  for (size_t i = 2; i < oid.size(); ++i) {
    std::string part(1, static_cast<char>(oid[i] & 0x7f));
    for (unsigned v = static_cast<unsigned>(oid[i]) >> 7; v != 0; v >>= 7)
      part.insert(part.begin(), static_cast<char>(0x80 | (v & 0x7f)));
    b += part;
  }
  return tlv(0x06, b);
}

// Reads one TLV at `pos`: its tag and contents; false past the end.
bool read_tlv(const std::string& in, size_t* pos, uint8_t* tag, std::string* body) {
  if (*pos + 2 > in.size()) return false;
  *tag = static_cast<uint8_t>(in[*pos]);
  size_t len = static_cast<uint8_t>(in[*pos + 1]);
  *pos += 2;
  if (len & 0x80) {
    size_t bytes = len & 0x7f;
    if (bytes > 2 || *pos + bytes > in.size()) return false;
    len = 0;
    for (size_t i = 0; i < bytes; ++i) len = (len << 8) | static_cast<uint8_t>(in[(*pos)++]);
  }
  if (*pos + len > in.size()) return false;
  *body = in.substr(*pos, len);
  *pos += len;
  return true;
}

int int_value(const std::string& b) {
  int v = b.empty() || !(b[0] & 0x80) ? 0 : -1;
  for (unsigned char c : b) v = static_cast<int>((static_cast<unsigned>(v) << 8) | c);
  return v;
}

std::vector<int> oid_value(const std::string& b) {
  std::vector<int> oid;
  if (b.empty()) return oid;
  oid = {static_cast<uint8_t>(b[0]) / 40, static_cast<uint8_t>(b[0]) % 40};
  unsigned v = 0;
  for (size_t i = 1; i < b.size(); ++i) {
    v = (v << 7) | (static_cast<uint8_t>(b[i]) & 0x7f);
    if (!(b[i] & 0x80)) {
      oid.push_back(static_cast<int>(v));
      v = 0;
    }
  }
  return oid;
}

std::string get_response(int requestId, int errorStatus, const std::string& bindings) {
  std::string pdu = ber_int(requestId) + ber_int(errorStatus) + ber_int(errorStatus ? 1 : 0) + tlv(0x30, bindings);
  return tlv(0x30, ber_int(0) + tlv(0x04, "public") + tlv(0xA2, pdu));
}

// An address of the agent's own in 127/8 (all of it is loopback on
// Linux): each agent has port 161 to itself, so agents of tests running at
// once never wait for each other, nor for the monitor tests' agent on
// 127.0.0.1.
uint32_t own_address() {
  static std::atomic<unsigned> next{0};
  unsigned n = (static_cast<unsigned>(getpid()) << 4) + next++;
  return (127u << 24) | (161u << 16) | (((n / 250) & 0xffu) << 8) | (1 + n % 250);
}

int bound(int type, uint32_t address, int port) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(address);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace

FakePrinterMib::FakePrinterMib() : address_(own_address()) {
  udp_ = bound(SOCK_DGRAM, address_, 161);
  tcp_ = bound(SOCK_STREAM, address_, 0);
  // A printer holds little of a job: what it has not read waits with the sender.
  int small = 4096;
  if (tcp_ >= 0) setsockopt(tcp_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (tcp_ >= 0 && listen(tcp_, 16) == 0 && getsockname(tcp_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port_ = ntohs(a.sin_port);
  auto text = [](const std::string& s) { return Value{true, 0, s}; };
  auto number = [](int n) { return Value{false, n, ""}; };
  mib_[{1, 3, 6, 1, 2, 1, 43, 5, 1, 1, 2, 1}] = number(1);      // prtGeneralCurrentLocalization
  mib_[{1, 3, 6, 1, 2, 1, 43, 7, 1, 1, 4, 1, 1}] = number(106);  // its character set: UTF-8
  // prtMarkerSuppliesEntry, column c of supply 1 of device 1.
  auto column = [](int c) { return std::vector<int>{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, c, 1, 1}; };
  mib_[column(3)] = number(1);   // colorant 1
  mib_[column(4)] = number(3);   // supplyThatIsConsumed
  mib_[column(5)] = number(3);   // toner
  mib_[column(6)] = text("Black Toner");
  mib_[column(7)] = number(19);  // percent
  mib_[column(8)] = number(100);
  mib_[column(9)] = number(100);
  mib_[{1, 3, 6, 1, 2, 1, 43, 12, 1, 1, 4, 1, 1}] = text("black");  // prtMarkerColorantValue
  mib_[kErrorState] = text(std::string(2, '\0'));
  if (udp_ >= 0 && port_ > 0 && pipe2(wake_, O_CLOEXEC) == 0) thread_ = std::thread([this] { serve(); });
}

FakePrinterMib::~FakePrinterMib() {
  if (wake_[1] >= 0) {
    ssize_t w = write(wake_[1], "x", 1);
    (void)w;
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : fillers_) close(fd);
  for (int fd : {wake_[0], wake_[1], udp_, tcp_})
    if (fd >= 0) close(fd);
}

void FakePrinterMib::setErrorState(uint16_t bits) {
  std::lock_guard<std::mutex> lock(mutex_);
  mib_[kErrorState].bytes = {static_cast<char>(bits >> 8), static_cast<char>(bits & 0xff)};
}

void FakePrinterMib::setTonerLevel(int level) {
  std::lock_guard<std::mutex> lock(mutex_);
  mib_[{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 9, 1, 1}].number = level;
}

void FakePrinterMib::hang() {
  hung_ = true;
  // A backlog of 0 holds one connection; the ones after it wait for good.
  listen(tcp_, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port_));
  a.sin_addr.s_addr = htonl(address_);
  for (int i = 0; i < 3; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers_.push_back(fd);
  }
}

std::string FakePrinterMib::answer(const std::string& request) {
  size_t pos = 0;
  uint8_t tag;
  std::string message, version, community, pdu;
  if (!read_tlv(request, &pos, &tag, &message) || tag != 0x30) return "";
  pos = 0;
  if (!read_tlv(message, &pos, &tag, &version) || !read_tlv(message, &pos, &tag, &community) ||
      !read_tlv(message, &pos, &tag, &pdu))
    return "";
  bool next = tag == 0xA1;  // GetNextRequest; 0xA0 GetRequest
  if (tag != 0xA0 && !next) return "";
  std::string id, skip, bindings, binding, name;
  pos = 0;
  if (!read_tlv(pdu, &pos, &tag, &id) || !read_tlv(pdu, &pos, &tag, &skip) || !read_tlv(pdu, &pos, &tag, &skip) ||
      !read_tlv(pdu, &pos, &tag, &bindings))
    return "";
  pos = 0;
  if (!read_tlv(bindings, &pos, &tag, &binding)) return "";
  pos = 0;
  if (!read_tlv(binding, &pos, &tag, &name) || tag != 0x06) return "";
  Oid oid = oid_value(name);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = next ? mib_.upper_bound(oid) : mib_.find(oid);
  if (it == mib_.end())  // error-status 2: noSuchName, with the name and a NULL
    return get_response(int_value(id), 2, tlv(0x30, ber_oid(oid) + tlv(0x05, "")));
  const Value& v = it->second;
  std::string value = v.text ? tlv(0x04, v.bytes) : ber_int(v.number);
  return get_response(int_value(id), 0, tlv(0x30, ber_oid(it->first) + value));
}

std::chrono::steady_clock::time_point FakePrinterMib::ranOutAt() const {
  std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(mutex_));
  return ranOut_;
}

bool FakePrinterMib::out_of_paper() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string& bits = mib_[kErrorState].bytes;
  return !bits.empty() && (bits[0] & 0x40);
}

void FakePrinterMib::serve() {
  struct Connection {
    int fd;
    long bytes;
  };
  std::vector<Connection> data;  // the open print connections
  for (;;) {
    // Out of paper, the printer reads no more: the sender's writes wait.
    bool reading = !out_of_paper();
    std::vector<pollfd> p = {{udp_, POLLIN, 0}, {hung_ ? -1 : tcp_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    for (const Connection& c : data) p.push_back({reading ? c.fd : -1, POLLIN, 0});
    poll(p.data(), p.size(), reading ? -1 : 100);
    if (p[2].revents) break;
    for (size_t i = 3; i < p.size(); ++i) {
      if (!p[i].revents) continue;
      Connection& c = data[i - 3];
      char buf[4096];
      ssize_t n = read(c.fd, buf, sizeof buf);
      if (n > 0) {
        c.bytes += n;
        bytes_ += n;
        if (paperFor_ > 0 && bytes_ >= paperFor_) {
          paperFor_ = 0;
          std::lock_guard<std::mutex> lock(mutex_);
          mib_[kErrorState].bytes = std::string("\x40\x00", 2);
          ranOut_ = std::chrono::steady_clock::now();
        }
        continue;
      }
      if (c.bytes == 0) ++emptyConnections_;
      close(c.fd);
      c.fd = -1;
    }
    data.erase(std::remove_if(data.begin(), data.end(), [](const Connection& c) { return c.fd < 0; }), data.end());
    if (p[1].revents & POLLIN) {
      int c = accept4(tcp_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) {
        ++connections_;
        data.push_back({c, 0});
      }
    }
    if (p[0].revents & POLLIN) {
      char buf[1500];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      std::string reply = n > 0 && !hung_ ? answer(std::string(buf, static_cast<size_t>(n))) : "";
      if (!reply.empty()) sendto(udp_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }
  for (const Connection& c : data) close(c.fd);
}

}  // namespace testing_support

namespace testing_support {

std::string FakePrinterMib::uri() const {
  in_addr a{htonl(address_)};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return "socket://" + std::string(text) + ":" + std::to_string(port_);
}

}  // namespace testing_support
