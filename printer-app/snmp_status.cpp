#include "snmp_status.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include <cups/cups.h>

namespace tpa {

namespace {

// BER tags of the packet.
constexpr unsigned char kInteger = 0x02, kOctets = 0x04, kNull = 0x05, kOid = 0x06, kSequence = 0x30,
                        kGetRequest = 0xa0, kGetResponse = 0xa2;

// 1.3.6.1.2.1.25.3.5.1.2.1: hrPrinterDetectedErrorState of printer 1, as
// BER writes an OID (the first two arcs make one octet, 40 * 1 + 3).
const std::string kErrorStateOid = {0x2b, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};

std::string tlv(unsigned char tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  size_t n = content.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else {  // our packets stay far below 64 KiB
    out += static_cast<char>(0x82);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n & 0xff);
  }
  return out + content;
}

// BER's shortest form: no leading octet that only repeats the sign.
std::string integer(uint32_t v) {
  std::string bytes = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  while (bytes.size() > 1 && bytes[0] == 0 && !(bytes[1] & 0x80)) bytes.erase(0, 1);
  return tlv(kInteger, bytes);
}

// A cursor over a packet: each next() reads one TLV and gives its content.
struct Reader {
  const std::string* p;
  size_t at = 0;
  size_t end;

  bool next(unsigned char tag, Reader* content) {
    if (at + 2 > end || static_cast<unsigned char>((*p)[at]) != tag) return false;
    size_t n = static_cast<unsigned char>((*p)[at + 1]);
    size_t head = 2;
    if (n & 0x80) {
      size_t octets = n & 0x7f;
      if (octets == 0 || octets > 2 || at + 2 + octets > end) return false;
      n = 0;
      for (size_t i = 0; i < octets; ++i) n = n << 8 | static_cast<unsigned char>((*p)[at + 2 + i]);
      head += octets;
    }
    if (at + head + n > end) return false;
    *content = Reader{p, at + head, at + head + n};
    at += head + n;
    return true;
  }
  bool integer(long* v) {
    Reader c{p, 0, 0};
    if (!next(kInteger, &c) || c.end - c.at < 1 || c.end - c.at > 4) return false;
    long value = static_cast<signed char>((*p)[c.at]);  // the sign is the first octet's
    for (size_t i = c.at + 1; i < c.end; ++i) value = value * 256 + static_cast<unsigned char>((*p)[i]);
    *v = value;
    return true;
  }
  std::string text() const { return p->substr(at, end - at); }
};

}  // namespace

std::string snmpErrorStateRequest(uint32_t requestId) {
  std::string varbind = tlv(kSequence, tlv(kOid, kErrorStateOid) + tlv(kNull, ""));
  std::string pdu = integer(requestId & 0x7fffffff) + integer(0) + integer(0) + tlv(kSequence, varbind);
  return tlv(kSequence, integer(0) + tlv(kOctets, "public") + tlv(kGetRequest, pdu));
}

bool snmpReadErrorState(const std::string& packet, uint32_t requestId, uint16_t* state) {
  Reader all{&packet, 0, packet.size()}, message{&packet, 0, 0}, pdu{&packet, 0, 0};
  Reader ignored{&packet, 0, 0}, list{&packet, 0, 0}, bind{&packet, 0, 0}, oid{&packet, 0, 0}, value{&packet, 0, 0};
  long version = -1, id = -1, error = -1, index = -1;
  if (!all.next(kSequence, &message) || !message.integer(&version) || version != 0 ||
      !message.next(kOctets, &ignored) || !message.next(kGetResponse, &pdu))
    return false;
  if (!pdu.integer(&id) || id != static_cast<long>(requestId & 0x7fffffff) || !pdu.integer(&error) ||
      error != 0 || !pdu.integer(&index) || !pdu.next(kSequence, &list) || !list.next(kSequence, &bind))
    return false;
  if (!bind.next(kOid, &oid) || oid.text() != kErrorStateOid || !bind.next(kOctets, &value)) return false;
  std::string bits = value.text();
  if (bits.empty()) return false;
  *state = static_cast<uint16_t>(static_cast<unsigned char>(bits[0]) << 8 |
                                 (bits.size() > 1 ? static_cast<unsigned char>(bits[1]) : 0));
  return true;
}

bool snmpErrorState(const std::string& host, int port, int timeoutMs, uint16_t* state) {
  static std::atomic<uint32_t> nextId{1};
  std::string service = std::to_string(port);
  http_addrlist_t* list = httpAddrGetList(host.c_str(), AF_UNSPEC, service.c_str());
  if (list == nullptr) return false;
  bool ok = false;
  for (http_addrlist_t* a = list; a != nullptr && !ok; a = a->next) {
    int fd = socket(httpAddrFamily(&a->addr), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    // Connected, so only the printer's answers come back, and a host with
    // nothing on the port says so at once (ECONNREFUSED) instead of a timeout.
    uint32_t id = nextId++;
    std::string request = snmpErrorStateRequest(id);
    if (connect(fd, &a->addr.addr, static_cast<socklen_t>(httpAddrLength(&a->addr))) == 0 &&
        send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p = {fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[1500];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0) break;  // refused: nothing listens there
        if (snmpReadErrorState(std::string(buf, static_cast<size_t>(n)), id, state)) {
          ok = true;
          break;
        }  // an answer to an earlier question: wait on
      }
    }
    close(fd);
  }
  httpAddrFreeList(list);
  return ok;
}

StatusRoute statusRouteOf(const std::string& deviceUri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  StatusRoute route;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri.c_str(), scheme, sizeof scheme, user, sizeof user, host,
                      sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK || host[0] == '\0')
    return route;
  std::string s = scheme;
  if (s == "socket" || s == "snmp") route.host = host;
  if (s == "snmp" || s == "dnssd") route.discoverUri = statusOnlyUri(deviceUri);
  return route;
}

std::string statusOnlyUri(const std::string& deviceUri) {
  if (deviceUri.find('?') != std::string::npos) return deviceUri + "&status-only";
  size_t authority = deviceUri.find("://");
  bool hasPath = authority != std::string::npos && deviceUri.find('/', authority + 3) != std::string::npos;
  return deviceUri + (hasPath ? "?status-only" : "/?status-only");
}

}  // namespace tpa
