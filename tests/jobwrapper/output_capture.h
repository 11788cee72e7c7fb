// Sends the job output of in-process tests to a temporary file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "jw_test_support.h"
#include "wrapper_state.h"

namespace jwtest {

class OutputCapture {
 public:
  OutputCapture() {
    fd_ = open(dir_.file("out").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    jw::g_wrap.outFd = fd_;
  }
  ~OutputCapture() {
    jw::g_wrap.outFd = 1;
    close(fd_);
  }
  std::string text() const { return readFile(dir_.file("out")); }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  int fd_;
};

}  // namespace jwtest
