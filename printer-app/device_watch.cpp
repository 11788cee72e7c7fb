#include "device_watch.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstring>

namespace tpa {

namespace {

long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

int peer_port(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
  return -1;
}

}  // namespace

int networkDeviceSocket(const char* deviceUri, pappl_device_t* device) {
  char scheme[32], userpass[256], host[256], resource[256];
  int port = 0;
  if (deviceUri == nullptr ||
      httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri, scheme, sizeof scheme, userpass, sizeof userpass, host,
                      sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return -1;
  bool direct = std::strcmp(scheme, "socket") == 0;
  if (!direct && std::strcmp(scheme, "dnssd") != 0 && std::strcmp(scheme, "snmp") != 0) return -1;
  // PAPPL's network devices keep their connection's descriptor first in
  // their data.  It is used only when it is a connected stream socket (to
  // the URI's port, where the URI gives one), so a different layout means
  // an unwatched device, never a wrong descriptor.
  const int* data = static_cast<const int*>(papplDeviceGetData(device));
  if (data == nullptr) return -1;
  int fd = data[0];
  struct stat st;
  int type = 0;
  socklen_t len = sizeof type;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode) ||
      getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_STREAM)
    return -1;
  int peer = peer_port(fd);
  if (peer < 0 || (direct && peer != (port > 0 ? port : 9100))) return -1;
  return fd;
}

DeviceWatch::DeviceWatch(pappl_job_t* job, pappl_device_t* device) : job_(job) {
  fd_ = networkDeviceSocket(papplPrinterGetDeviceURI(papplJobGetPrinter(job)), device);
  if (fd_ >= 0) thread_ = std::thread([this] { run(); });
}

DeviceWatch::~DeviceWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DeviceWatch::writeStarts() {
  std::lock_guard<std::mutex> lock(mutex_);
  writeSince_ = now_ms();
}

void DeviceWatch::writeEnds() {
  std::lock_guard<std::mutex> lock(mutex_);
  writeSince_ = -1;
}

bool DeviceWatch::gaveUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  return gaveUp_;
}

void DeviceWatch::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_ && !gaveUp_) {
    wake_.wait_for(lock, std::chrono::milliseconds(200));
    if (stop_) break;
    long now = now_ms();
    if (cancelSince_ < 0) {
      if (!papplJobIsCanceled(job_)) continue;
      cancelSince_ = now;
    }
    long since = writeSince_ > cancelSince_ ? writeSince_ : cancelSince_;
    if (writeSince_ >= 0 && now - since >= kStallMs) {
      // The write in progress fails at once; later ones too.
      shutdown(fd_, SHUT_RDWR);
      gaveUp_ = true;
      papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "The printer stopped taking data; the connection was closed.");
    }
  }
}

}  // namespace tpa
