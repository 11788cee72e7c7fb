// The queue's PPD (environment variable PPD), closed on every path.
#pragma once

#include <cstdlib>

#include <cups/ppd.h>

namespace jw {

class PpdHandle {
 public:
  PpdHandle() {
    const char* path = std::getenv("PPD");
    ppd_ = path != nullptr ? ppdOpenFile(path) : nullptr;
  }
  ~PpdHandle() {
    if (ppd_ != nullptr) ppdClose(ppd_);
  }
  PpdHandle(const PpdHandle&) = delete;
  PpdHandle& operator=(const PpdHandle&) = delete;

  ppd_file_t* get() const { return ppd_; }
  explicit operator bool() const { return ppd_ != nullptr; }

  // The value of a main keyword such as "ShortNickName", null when absent.
  const char* attr(const char* name) const {
    if (ppd_ == nullptr) return nullptr;
    ppd_attr_t* a = ppdFindAttr(ppd_, name, nullptr);
    return a != nullptr ? a->value : nullptr;
  }

 private:
  ppd_file_t* ppd_;
};

}  // namespace jw
