// Helpers of the JBIG tests: running tesvel_compress into memory.
#pragma once

#include <cstdint>
#include <vector>

#include "jbig.h"
#include "test_images.h"

namespace jbigtest {

// Everything the encoder handed to its callback, call by call.
struct Capture {
  std::vector<std::vector<uint8_t>> calls;
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> all;
    for (const auto& c : calls) all.insert(all.end(), c.begin(), c.end());
    return all;
  }
};

inline void capture_callback(const uint8_t* bytes, size_t length, void* ctx) {
  static_cast<Capture*>(ctx)->calls.emplace_back(bytes, bytes + length);
}

inline bool encode_into(Capture& cap, int width, int height, int l0, const uint8_t* data) {
  return tesvel_compress(width, height, l0, data, &cap, capture_callback);
}

inline std::vector<uint8_t> encode(const Bitmap& b, int l0) {
  Capture cap;
  if (!encode_into(cap, b.width, b.height, l0, b.bits.data())) return {};
  return cap.bytes();
}

// Splits stripe data at each ESC SDNORM (every other 0xFF is followed by
// the stuffing 0x00, so the split is exact).
inline std::vector<std::vector<uint8_t>> split_stripes(const std::vector<uint8_t>& data) {
  std::vector<std::vector<uint8_t>> stripes(1);
  for (size_t i = 0; i < data.size(); ++i) {
    stripes.back().push_back(data[i]);
    if (data[i] == 0xFF && i + 1 < data.size()) {
      stripes.back().push_back(data[++i]);
      if (data[i] == 0x02 && i + 1 < data.size()) stripes.emplace_back();
    }
  }
  return stripes;
}

}  // namespace jbigtest
