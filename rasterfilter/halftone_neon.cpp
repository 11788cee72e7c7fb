// Halftoning kernels for arm64, where NEON is always there.
#include "halftone_kernels.h"

#if defined(__aarch64__)
#include <arm_neon.h>

#include <cstring>
#endif

namespace rf {

#if defined(__aarch64__)
namespace {

// 16 pixels a step.  Each black pixel keeps its bit of the output byte
// (pixel 0 weighs 128); the eight weights of a half add up to the byte.
uint64_t bilevel_neon(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                      uint8_t flip, uint8_t* out) {
  uint64_t dots = 0;
  unsigned c = 0;
  size_t j = 0;
  static const uint8_t kWeights[16] = {128, 64, 32, 16, 8, 4, 2, 1, 128, 64, 32, 16, 8, 4, 2, 1};
  const uint8x16_t weights = vld1q_u8(kWeights);
  for (; j + 16 <= width; j += 16) {
    const uint8x16_t g = vld1q_u8(grey + j);
    const uint8x16_t t = vld1q_u8(thresholds + c);
    const uint8x16_t bits = vandq_u8(vcltq_u8(g, t), weights);
    const uint8_t first = static_cast<uint8_t>(vaddv_u8(vget_low_u8(bits)) ^ flip);
    const uint8_t second = static_cast<uint8_t>(vaddv_u8(vget_high_u8(bits)) ^ flip);
    out[j / 8] = first;
    out[j / 8 + 1] = second;
    dots += kBitCounts.of[first] + kBitCounts.of[second];
    c = advance_column(c, 16, tile);
  }
  return dots + bilevel_tail(grey, thresholds, tile, width, flip, out, j, c);
}

// The levels as the x86 kernels find them (s = g + t saturated: [s <= 254]
// + [s <= 231] + [s <= 191], 3 for g == 0); weights 64, 16, 4, 1 and two
// pairwise additions give the four output bytes.
void four_level_neon(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                     uint8_t flip, uint8_t* out) {
  unsigned c = 0;
  size_t j = 0;
  static const uint8_t kWeights[16] = {64, 16, 4, 1, 64, 16, 4, 1, 64, 16, 4, 1, 64, 16, 4, 1};
  const uint8x16_t weights = vld1q_u8(kWeights);
  const uint8x16_t flipv = vdupq_n_u8(static_cast<uint8_t>(flip & 3));
  const uint8x16_t three = vdupq_n_u8(3);
  for (; j + 16 <= width; j += 16) {
    const uint8x16_t g = vld1q_u8(grey + j);
    const uint8x16_t t = vld1q_u8(thresholds + c);
    const uint8x16_t s = vqaddq_u8(g, t);
    uint8x16_t level = vsubq_u8(vdupq_n_u8(0), vcleq_u8(s, vdupq_n_u8(254)));
    level = vsubq_u8(level, vcleq_u8(s, vdupq_n_u8(231)));
    level = vsubq_u8(level, vcleq_u8(s, vdupq_n_u8(191)));
    level = vorrq_u8(level, vandq_u8(vceqq_u8(g, vdupq_n_u8(0)), three));
    level = vmulq_u8(veorq_u8(level, flipv), weights);
    const uint8x16_t pairs = vpaddq_u8(level, level);
    const uint8x16_t quads = vpaddq_u8(pairs, pairs);
    const uint32_t packed = vgetq_lane_u32(vreinterpretq_u32_u8(quads), 0);
    std::memcpy(out + j / 4, &packed, sizeof packed);
    c = advance_column(c, 16, tile);
  }
  four_level_tail(grey, thresholds, tile, width, flip, out, j, c);
}

const HalftoneKernels kNeon{HalftoneIsa::kNeon, bilevel_neon, four_level_neon};

}  // namespace

const HalftoneKernels* neon_kernels() { return &kNeon; }

#else

const HalftoneKernels* neon_kernels() { return nullptr; }

#endif

}  // namespace rf
