// Built-in halftoning.
//
// One pass over the page.  The tile position is carried as a row and a
// column counter that wrap at the tile size, so no pixel costs a division.
// Lines of whole output bytes (the normal case: page widths are multiples
// of 8) take the fast path: 16 pixels per step with SSE2, 8 (or 4 in the
// four-level mode) per step in plain code, each output byte built from
// comparisons held in registers.  Other widths pack pixels as one stream
// across lines and go through a plain per-pixel loop.
#include "halftone.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "job_state.h"
#include "model_classes.h"
#include "output_channel.h"
#include "screen_tables.h"

namespace rf {
namespace {

const char kTxgScreenNote[] = "DEBUG: EXTERNAL IMPORT NEW_HALFTONE\n";
const char kBuiltInScreenNote[] = "DEBUG: NO NEED TO EXTERNAL IMPORT NEW_HALFTONE\n";

constexpr unsigned kMaxTile = 96;
constexpr unsigned kStep = 16;  // pixels per SSE2 step

// The screen with every row repeated past the tile's end, so that the 16
// thresholds of any step, wherever it starts in the tile, lie side by side.
struct ExtendedScreen {
  uint8_t rows[kMaxTile][kMaxTile + kStep];
  unsigned tile;
};

void extend_screen(const Screen& screen, ExtendedScreen* ext) {
  ext->tile = screen.tile;
  for (unsigned r = 0; r < screen.tile; ++r) {
    const uint8_t* row = screen.cells + static_cast<size_t>(r) * screen.tile;
    for (unsigned c = 0; c < screen.tile + kStep; ++c) {
      ext->rows[r][c] = row[c < screen.tile ? c : c - screen.tile];
    }
  }
}

// Per mask byte (bit i = pixel i): the output byte with pixel 0 in the most
// significant bit, and its number of set bits.
struct MaskByte {
  uint8_t packed;
  uint8_t dots;
};

constexpr std::array<MaskByte, 256> make_mask_bytes() {
  std::array<MaskByte, 256> table{};
  for (unsigned m = 0; m < 256; ++m) {
    uint8_t packed = 0;
    uint8_t dots = 0;
    for (unsigned i = 0; i < 8; ++i) {
      if (m & (1u << i)) {
        packed = static_cast<uint8_t>(packed | (0x80u >> i));
        ++dots;
      }
    }
    table[m] = MaskByte{packed, dots};
  }
  return table;
}
constexpr std::array<MaskByte, 256> kMaskBytes = make_mask_bytes();

inline unsigned level_of(unsigned grey, unsigned threshold) {
  if (grey == 0) return LevelMap[255];
  const int excess = 255 - static_cast<int>(grey) - static_cast<int>(threshold);
  return LevelMap[excess > 0 ? excess : 0];
}

inline void advance(unsigned* counter, unsigned step, unsigned tile) {
  *counter += step;
  if (*counter >= tile) *counter -= tile;
}

// One line of whole bytes, one bit a pixel.  `flip` is 0xFF for a
// negative page.  Returns the 1 bits written.
uint64_t bilevel_line(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                      uint8_t flip, uint8_t* out) {
  uint64_t dots = 0;
  unsigned c = 0;
  size_t j = 0;
#if defined(__SSE2__)
  // g >= t is max(g, t) == g; black is its complement unless negative.
  const __m128i to_black = _mm_set1_epi8(static_cast<char>(flip ^ 0xFF));
  for (; j + kStep <= width; j += kStep) {
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grey + j));
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(thresholds + c));
    const __m128i ge = _mm_cmpeq_epi8(_mm_max_epu8(g, t), g);
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_xor_si128(ge, to_black)));
    const MaskByte first = kMaskBytes[mask & 0xFF];
    const MaskByte second = kMaskBytes[mask >> 8];
    out[j / 8] = first.packed;
    out[j / 8 + 1] = second.packed;
    dots += first.dots + second.dots;
    advance(&c, kStep, tile);
  }
#endif
  for (; j < width; j += 8) {
    const uint8_t* g = grey + j;
    const uint8_t* t = thresholds + c;
    const unsigned bits = (g[0] < t[0]) << 7 | (g[1] < t[1]) << 6 | (g[2] < t[2]) << 5 |
                          (g[3] < t[3]) << 4 | (g[4] < t[4]) << 3 | (g[5] < t[5]) << 2 |
                          (g[6] < t[6]) << 1 | (g[7] < t[7]);
    const uint8_t byte = static_cast<uint8_t>(bits ^ flip);
    out[j / 8] = byte;
    dots += kMaskBytes[byte].dots;  // a byte and its mirror image hold as many bits
    advance(&c, 8, tile);
  }
  return dots;
}

// One line of whole bytes, two bits a pixel.  `flip` is 0xFF for a
// negative page (3 - level is the level with both bits flipped).
void four_level_line(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                     uint8_t flip, uint8_t* out) {
  unsigned c = 0;
  size_t j = 0;
#if defined(__SSE2__)
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
  for (; j + kStep <= width; j += kStep) {
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
    advance(&c, kStep, tile);
  }
#endif
  for (; j < width; j += 4) {
    const uint8_t* g = grey + j;
    const uint8_t* t = thresholds + c;
    const unsigned byte = level_of(g[0], t[0]) << 6 | level_of(g[1], t[1]) << 4 |
                          level_of(g[2], t[2]) << 2 | level_of(g[3], t[3]);
    out[j / 4] = static_cast<uint8_t>(byte ^ flip);
    advance(&c, 4, tile);
  }
}

// Any width: the pixels form one stream of `bits`-bit values across lines,
// and a last partial byte is filled from its most significant bit.
uint64_t dither_stream(const uint8_t* grey, size_t width, size_t lines, const Screen& screen,
                       bool invert, unsigned bits, uint8_t* out) {
  const unsigned flip = invert ? (1u << bits) - 1 : 0;
  uint64_t dots = 0;
  unsigned acc = 0;
  unsigned filled = 0;
  unsigned r = 0;
  for (size_t k = 0; k < lines; ++k) {
    const uint8_t* row = screen.cells + static_cast<size_t>(r) * screen.tile;
    const uint8_t* g = grey + k * width;
    unsigned c = 0;
    for (size_t j = 0; j < width; ++j) {
      const unsigned value =
          (bits == 1 ? static_cast<unsigned>(g[j] < row[c]) : level_of(g[j], row[c])) ^ flip;
      if (bits == 1) dots += value;
      acc = (acc << bits) | value;
      filled += bits;
      if (filled == 8) {
        *out++ = static_cast<uint8_t>(acc);
        acc = 0;
        filled = 0;
      }
      if (++c == screen.tile) c = 0;
    }
    if (++r == screen.tile) r = 0;
  }
  if (filled != 0) *out = static_cast<uint8_t>(acc << (8 - filled));
  return dots;
}

}  // namespace

bool uses_txg_screen(int modelClass, const char* modelName) {
  return modelClass == PLATFORM_Z && modelName != nullptr &&
         std::strncmp(modelName, kModelTXGPrefix, std::strlen(kModelTXGPrefix)) == 0;
}

Screen select_screen(int modelClass, int dpi1200, const char* modelName) {
  if (uses_txg_screen(modelClass, modelName)) {
    return dpi1200 ? Screen{&ScreenTable96B[0][0], 96} : Screen{&ScreenTable96A[0][0], 96};
  }
  if (dpi1200 && modelClass == PLATFORM_C) return Screen{&ScreenTable28[0][0], 28};
  if (dpi1200 && modelClass == PLATFORM_Z) return Screen{&ScreenTable16B[0][0], 16};
  return Screen{&ScreenTable16A[0][0], 16};
}

bool is_four_level(int modelClass, int dpi1200) {
  return modelClass == PLATFORM_M && dpi1200 == 1;
}

size_t mono_page_bytes(unsigned width, int lines, bool fourLevel) {
  if (lines <= 0) return 0;
  const size_t bits = static_cast<size_t>(width) * static_cast<size_t>(lines) * (fourLevel ? 2 : 1);
  return (bits + 7) / 8;
}

uint64_t dither_bilevel(const uint8_t* grey, size_t width, size_t lines, Screen screen, bool invert,
                        uint8_t* out) {
  if (width % 8 != 0) return dither_stream(grey, width, lines, screen, invert, 1, out);
  ExtendedScreen ext;
  extend_screen(screen, &ext);
  const uint8_t flip = invert ? 0xFF : 0x00;
  uint64_t dots = 0;
  unsigned r = 0;
  for (size_t k = 0; k < lines; ++k) {
    dots += bilevel_line(grey + k * width, ext.rows[r], ext.tile, width, flip, out + k * (width / 8));
    if (++r == ext.tile) r = 0;
  }
  return dots;
}

void dither_four_level(const uint8_t* grey, size_t width, size_t lines, Screen screen, bool invert,
                       uint8_t* out) {
  if (width % 4 != 0) {
    dither_stream(grey, width, lines, screen, invert, 2, out);
    return;
  }
  ExtendedScreen ext;
  extend_screen(screen, &ext);
  const uint8_t flip = invert ? 0xFF : 0x00;
  unsigned r = 0;
  for (size_t k = 0; k < lines; ++k) {
    four_level_line(grey + k * width, ext.rows[r], ext.tile, width, flip, out + k * (width / 4));
    if (++r == ext.tile) r = 0;
  }
}

int HalftoneDither(const uint8_t* pGrayImgBuf, unsigned fwImgWPixel, int fwImgHPixel,
                   uint8_t* pMonoImgBuf, unsigned validColumns, int negative, int dpi1200,
                   int modelClass) {
  // The columns the raster filled are already in place, white beyond them;
  // every column is dithered alike.
  (void)validColumns;
  // The log line comes first, whatever the buffers hold.
  writeDiag(uses_txg_screen(modelClass, g_job.modelName) ? kTxgScreenNote : kBuiltInScreenNote);
  if (pGrayImgBuf == nullptr || pMonoImgBuf == nullptr) return 0;
  if (modelClass != PLATFORM_C && modelClass != PLATFORM_Z && modelClass != PLATFORM_M) return 0;
  if (fwImgHPixel <= 0 || fwImgWPixel == 0) return 1;

  const Screen screen = select_screen(modelClass, dpi1200, g_job.modelName);
  const size_t width = fwImgWPixel;
  const size_t lines = static_cast<size_t>(fwImgHPixel);
  if (is_four_level(modelClass, dpi1200)) {
    dither_four_level(pGrayImgBuf, width, lines, screen, negative != 0, pMonoImgBuf);
    return 1;
  }
  const uint64_t dots = dither_bilevel(pGrayImgBuf, width, lines, screen, negative != 0, pMonoImgBuf);
  // PLATFORM_M sends no coverage, so only the other two classes count.
  if (modelClass != PLATFORM_M) g_job.dotCount += dots;
  return 1;
}

}  // namespace rf
