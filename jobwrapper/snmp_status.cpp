#include "snmp_status.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <cups/http.h>

#include "monitor_wait.h"

namespace jw {

// SNMPv1 GetRequest, community "public", request-id 0.
const uint8_t kSnmpGetRequest[kSnmpPacketSize] = {
    0x30, 0x2B,                                            // message SEQUENCE, 43 bytes
    0x02, 0x01, 0x00,                                      // version 0 (SNMPv1)
    0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',              // community
    0xA0, 0x1E,                                            // GetRequest-PDU, 30 bytes
    0x02, 0x01, 0x00,                                      // request-id 0
    0x02, 0x01, 0x00,                                      // error-status 0
    0x02, 0x01, 0x00,                                      // error-index 0
    0x30, 0x13,                                            // variable-bindings, 19 bytes
    0x30, 0x11,                                            // one binding, 17 bytes
    0x06, 0x0D, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xBF, 0xFF,  // OID 1.3.6.1.4.1.1048573
    0x7D, 0x01, 0x01, 0x03, 0x10, 0x02,                    //   .1.1.3.16.2: job status
    0x05, 0x00,                                            // value NULL
};

// SNMPv1 SetRequest, community "public", request-id 0.
const uint8_t kSnmpSetRequest[kSnmpPacketSize] = {
    0x30, 0x2B,                                            // message SEQUENCE, 43 bytes
    0x02, 0x01, 0x00,                                      // version 0 (SNMPv1)
    0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',              // community
    0xA3, 0x1E,                                            // SetRequest-PDU, 30 bytes
    0x02, 0x01, 0x00,                                      // request-id 0
    0x02, 0x01, 0x00,                                      // error-status 0
    0x02, 0x01, 0x00,                                      // error-index 0
    0x30, 0x13,                                            // variable-bindings, 19 bytes
    0x30, 0x11,                                            // one binding, 17 bytes
    0x06, 0x0C, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xBF, 0xFF,  // OID 1.3.6.1.4.1.1048573
    0x7D, 0x01, 0x01, 0x04, 0x0D,                          //   .1.1.4.13: keep alive
    0x02, 0x01, 0x01,                                      // value INTEGER 1
};

const char* const kCupsLibraryNames[2] = {"libcups.so", "libcups.so.2"};

namespace {

constexpr int kSendAttempts = 3;
constexpr size_t kUriPartSize = 1024;

class Library {
 public:
  explicit Library(void* handle) : handle_(handle) {}
  ~Library() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  void* get() const { return handle_; }

 private:
  void* handle_;
};

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct AddrInfoList {
  addrinfo* head = nullptr;
  ~AddrInfoList() {
    if (head != nullptr) freeaddrinfo(head);
  }
};

// The resolver's signature in the CUPS library (a private entry point).
using ResolveFn = const char* (*)(const char* uri, char* resolved, size_t resolvedSize,
                                  int options, int (*cb)(void*), void* context);
constexpr int kResolveOptions = 15;

void* open_cups_library(const char* const libraries[2], ResolveVariant variant) {
  for (int i = 0; i < 2; ++i) {
    void* handle = dlopen(libraries[i], RTLD_LAZY);
    if (handle != nullptr) return handle;
    if (variant == ResolveVariant::kSecond) fprintf(stderr, "%s open fail.\n", libraries[i]);
  }
  if (variant == ResolveVariant::kFirst) fprintf(stderr, "can't open libcups file!\n");
  return nullptr;
}

// Waits up to ms for a datagram on fd: 1 readable, 0 time-out, -1 the
// job has ended.  Without a stop signal only the time bounds the wait.
int wait_reply(int fd, int ms, const StopSignal* stop) {
  if (stop != nullptr) return stop->wait_readable(fd, ms);
  pollfd p{fd, POLLIN, 0};
  int r = poll(&p, 1, ms);
  return r > 0 ? 1 : 0;
}

void set_socket_options(int fd, bool* timeoutSet) {
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const int waitMs = monitor_pace().replyWaitMs;
  timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
  *timeoutSet = setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

}  // namespace

int resolve_uri_host_from(const char* const libraries[2], const char* uri, char* host,
                          size_t hostSize, int* port, ResolveVariant variant) {
  Library lib(open_cups_library(libraries, variant));
  if (lib.get() == nullptr) return 0;
  auto resolve = reinterpret_cast<ResolveFn>(dlsym(lib.get(), "_httpResolveURI"));
  if (resolve == nullptr) {
    fprintf(stderr, "_httpResolveURI addr get fail.\n");
    return 0;
  }
  char resolved[kUriPartSize] = "";
  if (uri == nullptr || resolve(uri, resolved, sizeof resolved, kResolveOptions, nullptr,
                                nullptr) == nullptr) {
    fprintf(stderr, "_httpResolveURI fail.\n");
    return 0;
  }
  fprintf(stderr, "<dnssd> resolvedURI : %s\n", resolved);
  char scheme[kUriPartSize], user[kUriPartSize], name[kUriPartSize], resource[kUriPartSize];
  int uriPort = 0;
  int status = httpSeparateURI(HTTP_URI_CODING_ALL, resolved, scheme, sizeof scheme, user,
                               sizeof user, name, sizeof name, &uriPort, resource,
                               sizeof resource);
  if (status < 0) {
    fprintf(stderr, "<dnssd> httpSeparateURI fail. cupsret=%d\n", status);
    return 0;
  }
  if (variant == ResolveVariant::kFirst)
    fprintf(stderr, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s\n", status, name);
  else
    fprintf(stderr, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s, port=%d\n", status,
            name, uriPort);
  if (port != nullptr) *port = uriPort;
  size_t used = strnlen(host, hostSize);
  if (used < hostSize) snprintf(host + used, hostSize - used, "%s", name);
  return 1;
}

int ResolveUriHost(const char* uri, char* host, size_t hostSize, int* port,
                   ResolveVariant variant) {
  return resolve_uri_host_from(kCupsLibraryNames, uri, host, hostSize, port, variant);
}

int HostToAddress(const char* name, char* address, size_t addressSize) {
  // getaddrinfo rather than gethostbyname, which is not safe on the
  // monitor thread; IPv4 only, as the status query speaks IPv4.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  AddrInfoList found;
  if (name == nullptr || getaddrinfo(name, nullptr, &hints, &found.head) != 0) {
    fprintf(stderr, " gethostbyname error for host:%s\n", name != nullptr ? name : "");
    return 1;
  }
  const sockaddr* sa = found.head->ai_addr;
  if (sa->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, address,
              static_cast<socklen_t>(addressSize));
  else if (sa->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, address,
              static_cast<socklen_t>(addressSize));
  else
    fprintf(stderr, "unknown address type\n");
  return 0;
}

namespace {

// The printer's IPv4 address: a text starting with a letter is a host
// name, anything else a dotted address.  False when the name does not
// resolve (the query is then given up at once).
bool snmp_destination(const char* address, sockaddr_in* dest) {
  *dest = sockaddr_in{};
  dest->sin_family = AF_INET;
  dest->sin_port = htons(kSnmpPort);
  if (!isalpha(static_cast<unsigned char>(address[0]))) {
    dest->sin_addr.s_addr = inet_addr(address);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  AddrInfoList found;
  if (getaddrinfo(address, nullptr, &hints, &found.head) != 0 || found.head == nullptr) {
    fprintf(stderr, " gethostbyname error for host:%s\n", address);
    return false;
  }
  dest->sin_addr = reinterpret_cast<const sockaddr_in*>(found.head->ai_addr)->sin_addr;
  return true;
}

// A datagram is the printer's answer only when it comes from the address
// and port the request went to: the socket listens on every local address,
// so anyone could otherwise hand the job a forged "cancelled" state.
bool from_printer(const sockaddr_in& from, socklen_t len, const sockaddr_in& printer) {
  return len >= sizeof from && from.sin_family == AF_INET &&
         from.sin_addr.s_addr == printer.sin_addr.s_addr && from.sin_port == printer.sin_port;
}

constexpr ssize_t kReplyStopped = -2;

// One receive of the reply budget: waits up to the reply wait for the
// printer's datagram, dropping (and wiping) any other on the way.  Returns
// the byte count, -1 on time-out or error, kReplyStopped when the job ended.
ssize_t receive_reply(int fd, const sockaddr_in& printer, uint8_t* reply, const StopSignal* stop) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(monitor_pace().replyWaitMs);
  bool told = false;  // one line per wait, however many strangers write
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    int ready = wait_reply(fd, left.count() > 0 ? static_cast<int>(left.count()) : 0, stop);
    if (ready < 0) return kReplyStopped;
    if (ready == 0) return -1;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd, reply, kSnmpReplySize, MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return -1;
    }
    if (from_printer(from, len, printer)) return n;
    memset(reply, 0, static_cast<size_t>(n));
    if (told) continue;
    told = true;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    fprintf(stderr, "<SNMP> datagram from %s:%d ignored, not the printer\n", text,
            ntohs(from.sin_port));
  }
}

}  // namespace

int SendSNMPCmd(const char* address, uint8_t* reply, int* count, const StopSignal* stop) {
  fprintf(stderr, "->SendSNMPCmd()\n");
  if (address == nullptr) {
    fprintf(stderr, "cancelthread::QueryStatusToNet::pIPaddr is null\n");
    return 0;
  }
  sockaddr_in dest;
  if (!snmp_destination(address, &dest)) return 0;
  Socket sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  bool timeoutSet = false;
  set_socket_options(sock.get(), &timeoutSet);
  if (!timeoutSet) fprintf(stderr, "setsockopt fail");
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  bind(sock.get(), reinterpret_cast<sockaddr*>(&local), sizeof local);

  // Two receives in all, spent after the first send that goes out: a
  // silent printer costs at most two reply waits per query.
  int receives = 2;
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    ssize_t sent = sendto(sock.get(), kSnmpGetRequest, kSnmpPacketSize, 0,
                          reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    if (sent != static_cast<ssize_t>(kSnmpPacketSize)) {
      fprintf(stderr, "<SNMP> socket sendto error. (dest_addr=%s)\n", address);
      continue;
    }
    fprintf(stderr, "<SNMP> socket sendto success. (dest_addr=%s)\n", address);
    for (; receives > 0; --receives) {
      ssize_t n = receive_reply(sock.get(), dest, reply, stop);
      if (n == kReplyStopped) return 0;  // the job has ended
      *count = static_cast<int>(n);
      fprintf(stderr, "nRecv = %d\n", *count);
      if (n > 0) return 1;
    }
  }
  fprintf(stderr, "<-SendSNMPCmd()\n");
  return 0;
}

void SendKeepAliveSnmp(const char* host, const StopSignal* stop) {
  if (host == nullptr) {
    fprintf(stderr, "hostname == NULL.\n");
    return;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  AddrInfoList found;
  int e = getaddrinfo(host, "161", &hints, &found.head);
  if (e != 0) {
    fprintf(stderr, "getaddrinfo fail return %d.\n", e);
    return;
  }
  const addrinfo* first = found.head;
  Socket sock(socket(first->ai_family, first->ai_socktype | SOCK_CLOEXEC, first->ai_protocol));
  if (sock.get() < 0) fprintf(stderr, "create socket fail\n");
  bool timeoutSet = false;
  set_socket_options(sock.get(), &timeoutSet);
  if (!timeoutSet) {
    fprintf(stderr, "setsockopt fail\n");
    return;
  }
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    ssize_t sent = sendto(sock.get(), kSnmpSetRequest, kSnmpPacketSize, 0, first->ai_addr,
                          first->ai_addrlen);
    if (sent != static_cast<ssize_t>(kSnmpPacketSize)) {
      fprintf(stderr, "<SNMP> socket sendto error. (dest_addr=%s)\n", host);
      continue;
    }
    char answer[512];
    if (wait_reply(sock.get(), monitor_pace().replyWaitMs, stop) > 0) {
      ssize_t n = recv(sock.get(), answer, sizeof answer, MSG_DONTWAIT);
      (void)n;  // the printer's answer is not examined
    }
    return;
  }
}

}  // namespace jw
