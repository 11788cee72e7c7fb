// An anonymous temporary file standing in for standard output, standard
// error or a page store: written through its descriptor, read back whole.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

class FdCapture {
 public:
  FdCapture() {
    std::FILE* f = std::tmpfile();
    fd_ = dup(fileno(f));
    std::fclose(f);
  }
  ~FdCapture() { close(fd_); }
  FdCapture(const FdCapture&) = delete;
  FdCapture& operator=(const FdCapture&) = delete;
  int fd() const { return fd_; }
  std::vector<uint8_t> bytes() const {
    const off_t end = lseek(fd_, 0, SEEK_END);
    std::vector<uint8_t> v(static_cast<size_t>(end > 0 ? end : 0));
    if (end > 0 && pread(fd_, v.data(), v.size(), 0) != end) v.clear();
    return v;
  }
  std::string text() const {
    const std::vector<uint8_t> v = bytes();
    return std::string(v.begin(), v.end());
  }

 private:
  int fd_;
};

}  // namespace testing_support
