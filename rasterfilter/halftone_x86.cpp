// Halftoning kernels for x86-64: SSE2 (every x86-64 processor has it) and
// AVX2, compiled for that instruction set alone and used only when the
// processor reports it.
#include "halftone_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <array>
#include <cstring>
#endif

namespace rf {

#if defined(__SSE2__)
namespace {

// Per mask byte (bit i = pixel i): the output byte with pixel 0 in the most
// significant bit.
constexpr std::array<uint8_t, 256> make_packed_bytes() {
  std::array<uint8_t, 256> table{};
  for (unsigned m = 0; m < 256; ++m)
    for (unsigned i = 0; i < 8; ++i)
      if (m & (1u << i)) table[m] = static_cast<uint8_t>(table[m] | (0x80u >> i));
  return table;
}
constexpr std::array<uint8_t, 256> kPackedBytes = make_packed_bytes();

uint64_t bilevel_sse2(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                      uint8_t flip, uint8_t* out) {
  uint64_t dots = 0;
  unsigned c = 0;
  size_t j = 0;
  // g >= t is max(g, t) == g; black is its complement unless negative.
  const __m128i to_black = _mm_set1_epi8(static_cast<char>(flip ^ 0xFF));
  for (; j + 16 <= width; j += 16) {
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + j));
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(thresholds + c));
    const __m128i ge = _mm_cmpeq_epi8(_mm_max_epu8(g, t), g);
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_xor_si128(ge, to_black)));
    out[j / 8] = kPackedBytes[mask & 0xFF];
    out[j / 8 + 1] = kPackedBytes[mask >> 8];
    dots += kBitCounts.of[mask & 0xFF] + kBitCounts.of[mask >> 8];
    c = advance_column(c, 16, tile);
  }
  return dots + bilevel_tail(grey, thresholds, tile, width, flip, out, j, c);
}

void four_level_sse2(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                     uint8_t flip, uint8_t* out) {
  unsigned c = 0;
  size_t j = 0;
  // With s = g + t saturated at 255, the level is [s <= 254] + [s <= 231]
  // + [s <= 191] (LevelMap's steps at 1, 24 and 64 of 255 - s), and 3 for
  // g == 0.  a <= b is min(a, b) == a, and a true compare is -1.
  const __m128i flipv = _mm_set1_epi8(static_cast<char>(flip & 3));
  const __m128i three = _mm_set1_epi8(3);
  const __m128i k254 = _mm_set1_epi8(static_cast<char>(254));
  const __m128i k231 = _mm_set1_epi8(static_cast<char>(231));
  const __m128i k191 = _mm_set1_epi8(static_cast<char>(191));
  const __m128i lowByte = _mm_set1_epi16(0x00FF);
  const __m128i lowWord = _mm_set1_epi32(0x0000FFFF);
  for (; j + 16 <= width; j += 16) {
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + j));
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(thresholds + c));
    const __m128i s = _mm_adds_epu8(g, t);
    const __m128i le254 = _mm_cmpeq_epi8(_mm_min_epu8(s, k254), s);
    const __m128i le231 = _mm_cmpeq_epi8(_mm_min_epu8(s, k231), s);
    const __m128i le191 = _mm_cmpeq_epi8(_mm_min_epu8(s, k191), s);
    const __m128i black = _mm_and_si128(_mm_cmpeq_epi8(g, _mm_setzero_si128()), three);
    __m128i level = _mm_sub_epi8(_mm_sub_epi8(_mm_sub_epi8(_mm_setzero_si128(), le254), le231), le191);
    level = _mm_xor_si128(_mm_or_si128(level, black), flipv);
    // Pack the bytes of each 32-bit lane, pixel 0 first: pairs into
    // nibbles (first << 2 | second), then nibble pairs into a byte, then
    // the four lane bytes side by side.
    const __m128i pairs = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(level, 2), lowByte),
                                       _mm_srli_epi16(level, 8));
    const __m128i quads = _mm_or_si128(_mm_and_si128(_mm_slli_epi32(pairs, 4), lowWord),
                                       _mm_srli_epi32(pairs, 16));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(quads, quads), _mm_setzero_si128());
    const uint32_t packed = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
    std::memcpy(out + j / 4, &packed, sizeof packed);
    c = advance_column(c, 16, tile);
  }
  four_level_tail(grey, thresholds, tile, width, flip, out, j, c);
}

// AVX2: 32 pixels a step.  Reversing the pixels of each group of 8 before
// the compare makes the sign mask come out in the printer's bit order
// (pixel 0 in the most significant bit of each byte), so the mask is the
// output.
#define TESVEL_AVX2 __attribute__((target("avx2,popcnt")))

TESVEL_AVX2 uint64_t bilevel_avx2(const uint8_t* grey, const uint8_t* thresholds, unsigned tile,
                                  size_t width, uint8_t flip, uint8_t* out) {
  uint64_t dots = 0;
  unsigned c = 0;
  size_t j = 0;
  const __m256i reverse8 = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6,
                                            5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  const __m256i to_black = _mm256_set1_epi8(static_cast<char>(flip ^ 0xFF));
  for (; j + 32 <= width; j += 32) {
    const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(grey + j));
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(thresholds + c));
    const __m256i ge = _mm256_cmpeq_epi8(_mm256_max_epu8(g, t), g);
    const __m256i bits = _mm256_shuffle_epi8(_mm256_xor_si256(ge, to_black), reverse8);
    const uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(bits));
    std::memcpy(out + j / 8, &mask, sizeof mask);  // little-endian: byte k is pixels 8k..8k+7
    dots += static_cast<unsigned>(_mm_popcnt_u32(mask));
    c = advance_column(c, 32, tile);
  }
  return dots + bilevel_tail(grey, thresholds, tile, width, flip, out, j, c);
}

TESVEL_AVX2 void four_level_avx2(const uint8_t* grey, const uint8_t* thresholds, unsigned tile,
                                 size_t width, uint8_t flip, uint8_t* out) {
  unsigned c = 0;
  size_t j = 0;
  // The levels as in four_level_sse2; then pixel pairs weighted 4:1 and
  // pair pairs 16:1 give each output byte in the low byte of a 32-bit word.
  const __m256i flipv = _mm256_set1_epi8(static_cast<char>(flip & 3));
  const __m256i three = _mm256_set1_epi8(3);
  const __m256i k254 = _mm256_set1_epi8(static_cast<char>(254));
  const __m256i k231 = _mm256_set1_epi8(static_cast<char>(231));
  const __m256i k191 = _mm256_set1_epi8(static_cast<char>(191));
  const __m256i pairWeights = _mm256_set1_epi16(0x0104);  // first pixel x4, second x1
  const __m256i quadWeights = _mm256_set1_epi32(0x00010010);  // first pair x16, second x1
  const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                            0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i zero = _mm256_setzero_si256();
  for (; j + 32 <= width; j += 32) {
    const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(grey + j));
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(thresholds + c));
    const __m256i s = _mm256_adds_epu8(g, t);
    const __m256i le254 = _mm256_cmpeq_epi8(_mm256_min_epu8(s, k254), s);
    const __m256i le231 = _mm256_cmpeq_epi8(_mm256_min_epu8(s, k231), s);
    const __m256i le191 = _mm256_cmpeq_epi8(_mm256_min_epu8(s, k191), s);
    const __m256i black = _mm256_and_si256(_mm256_cmpeq_epi8(g, zero), three);
    __m256i level = _mm256_sub_epi8(_mm256_sub_epi8(_mm256_sub_epi8(zero, le254), le231), le191);
    level = _mm256_xor_si256(_mm256_or_si256(level, black), flipv);
    const __m256i pairs = _mm256_maddubs_epi16(level, pairWeights);
    const __m256i quads = _mm256_madd_epi16(pairs, quadWeights);
    const __m256i bytes = _mm256_shuffle_epi8(quads, lowBytes);
    const uint32_t low = static_cast<uint32_t>(_mm256_cvtsi256_si32(bytes));
    const uint32_t high = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
    std::memcpy(out + j / 4, &low, sizeof low);
    std::memcpy(out + j / 4 + 4, &high, sizeof high);
    c = advance_column(c, 32, tile);
  }
  four_level_tail(grey, thresholds, tile, width, flip, out, j, c);
}

const HalftoneKernels kSse2{HalftoneIsa::kSse2, bilevel_sse2, four_level_sse2};
const HalftoneKernels kAvx2{HalftoneIsa::kAvx2, bilevel_avx2, four_level_avx2};

}  // namespace

const HalftoneKernels* sse2_kernels() { return &kSse2; }

const HalftoneKernels* avx2_kernels() {
  static const bool present = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  return present ? &kAvx2 : nullptr;
}

#else

const HalftoneKernels* sse2_kernels() { return nullptr; }
const HalftoneKernels* avx2_kernels() { return nullptr; }

#endif

}  // namespace rf
