// Helpers of the stream tests: a captured descriptor, hex dumps of bytes,
// and write(2) stand-ins that fail or write short.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <initializer_list>
#include <string>

#include "stream_records.h"
#include <vector>

#include "fd_capture.h"
#include "job_state.h"
#include "job_stream.h"
#include "output_channel.h"

namespace rf::test {

using Bytes = std::vector<uint8_t>;

// "0B 05 15 00 DB": the form the expected bytes are written in.
inline std::string hex(const uint8_t* data, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
    s += b;
  }
  return s;
}
inline std::string hex(const Bytes& v) { return hex(v.data(), v.size()); }
inline std::string hex(const std::string& s) {
  return hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
// Joins hex strings with single spaces, skipping empty parts.
inline std::string join(std::initializer_list<std::string> parts) {
  std::string s;
  for (const auto& p : parts) {
    if (p.empty()) continue;
    if (!s.empty()) s += ' ';
    s += p;
  }
  return s;
}

// The shared capture file, read back as the hex the expected bytes are
// written in.
class Capture : public testing_support::FdCapture {
 public:
  std::string hexdump() const { return hex(bytes()); }
};

// write(2) that fails with ENOSPC on the n-th call for one descriptor.
struct FailingWrite {
  static inline int fd = -1;
  static inline int failOnCall = 0;
  static inline int calls = 0;
  static ssize_t write(int f, const void* data, size_t count) {
    if (f == fd && ++calls == failOnCall) {
      errno = ENOSPC;
      return -1;
    }
    return ::write(f, data, count);
  }
  static void arm(int f, int n) {
    fd = f;
    failOnCall = n;
    calls = 0;
    setOutputWriter(&FailingWrite::write);
  }
};

inline int fixed_host(char* name, size_t length) {
  std::snprintf(name, length, "%s", "printhost");
  return 0;
}

// 09:05 on 3 July 2026.
inline void fixed_time(std::tm* out) {
  *out = std::tm{};
  out->tm_min = 5;
  out->tm_hour = 9;
  out->tm_mday = 3;
  out->tm_mon = 6;
  out->tm_year = 126;
}

// Every test starts from a fresh job whose printer stream and CUPS log are
// captured.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetJobState();
    g_job.outputFd = out.fd();
    g_job.diagFd = diag.fd();
    setOutputWriter(nullptr);
    setJobStreamSources(fixed_host, fixed_time);
  }
  void TearDown() override {
    setOutputWriter(nullptr);
    setJobStreamSources(nullptr, nullptr);
    resetJobState();
  }
  void setModel(const char* name) {
    std::snprintf(g_job.modelName, sizeof g_job.modelName, "%s", name);
  }
  Capture out;
  Capture diag;
};

// An A4 page record with every field set, for the page start builders.
inline PageStartRecord a4_page() {
  PageStartRecord r{};
  r.paperCode = 1;
  r.xResolution = 600;
  r.yResolution = 600;
  r.inputTray = 1;
  r.specFlagsA = 0x01;
  r.specFlagsB = 0x40;
  r.specFlagsC = 0x100;  // only its low byte counts: none of it
  r.copies = 3;
  r.offsetX = 240;
  r.offsetY = 120;
  r.pageNumber = 2;
  r.paperWidthDots = 5000;
  r.paperHeightDots = 7000;
  r.imageWidth = 4736;
  r.imageHeight = 6780;
  return r;
}

}  // namespace rf::test
