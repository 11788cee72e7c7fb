// The plain halftoning kernels and the choice of kernels for the process.
#include "halftone_kernels.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "screen_tables.h"

namespace rf {

void extend_screen(const Screen& screen, ExtendedScreen* ext) {
  ext->tile = screen.tile;
  for (unsigned r = 0; r < screen.tile; ++r) {
    const uint8_t* row = screen.cells + static_cast<size_t>(r) * screen.tile;
    for (unsigned c = 0; c < screen.tile + kMaxStep; ++c) ext->rows[r][c] = row[c % screen.tile];
  }
}

namespace {

inline unsigned level_of(unsigned grey, unsigned threshold) {
  if (grey == 0) return LevelMap[255];
  const int excess = 255 - static_cast<int>(grey) - static_cast<int>(threshold);
  return LevelMap[excess > 0 ? excess : 0];
}

uint64_t bilevel_plain(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                       uint8_t flip, uint8_t* out) {
  return bilevel_tail(grey, thresholds, tile, width, flip, out, 0, 0);
}

void four_level_plain(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                      uint8_t flip, uint8_t* out) {
  four_level_tail(grey, thresholds, tile, width, flip, out, 0, 0);
}

const HalftoneKernels kPortable{HalftoneIsa::kPortable, bilevel_plain, four_level_plain};

// TESVEL_HALFTONE_ISA names a kernel set to use instead of the best one:
// "portable" (the plain code, on any processor), "sse2", "avx2" or "neon"
// when the processor has it.  Anything else is ignored.
const HalftoneKernels* requested_kernels() {
  const char* name = std::getenv("TESVEL_HALFTONE_ISA");
  if (name == nullptr) return nullptr;
  if (std::strcmp(name, "portable") == 0) return portable_kernels();
  if (std::strcmp(name, "sse2") == 0) return sse2_kernels();
  if (std::strcmp(name, "avx2") == 0) return avx2_kernels();
  if (std::strcmp(name, "neon") == 0) return neon_kernels();
  return nullptr;
}

const HalftoneKernels& best_kernels() {
  if (const HalftoneKernels* k = requested_kernels()) return *k;
  for (const HalftoneKernels* k : {avx2_kernels(), neon_kernels(), sse2_kernels()})
    if (k) return *k;
  return kPortable;
}

const HalftoneKernels*& chosen() {
  static const HalftoneKernels* kernels = &best_kernels();
  return kernels;
}

}  // namespace

uint64_t bilevel_tail(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                      uint8_t flip, uint8_t* out, size_t start, unsigned column) {
  uint64_t dots = 0;
  for (size_t j = start; j < width; j += 8) {
    const uint8_t* g = grey + j;
    const uint8_t* t = thresholds + column;
    const unsigned bits = (g[0] < t[0]) << 7 | (g[1] < t[1]) << 6 | (g[2] < t[2]) << 5 |
                          (g[3] < t[3]) << 4 | (g[4] < t[4]) << 3 | (g[5] < t[5]) << 2 |
                          (g[6] < t[6]) << 1 | (g[7] < t[7]);
    const uint8_t byte = static_cast<uint8_t>(bits ^ flip);
    out[j / 8] = byte;
    dots += kBitCounts.of[byte];
    column = advance_column(column, 8, tile);
  }
  return dots;
}

void four_level_tail(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                     uint8_t flip, uint8_t* out, size_t start, unsigned column) {
  for (size_t j = start; j < width; j += 4) {
    const uint8_t* g = grey + j;
    const uint8_t* t = thresholds + column;
    const unsigned byte = level_of(g[0], t[0]) << 6 | level_of(g[1], t[1]) << 4 |
                          level_of(g[2], t[2]) << 2 | level_of(g[3], t[3]);
    out[j / 4] = static_cast<uint8_t>(byte ^ flip);
    column = advance_column(column, 4, tile);
  }
}

const HalftoneKernels* portable_kernels() { return &kPortable; }

const HalftoneKernels& halftone_kernels() { return *chosen(); }

HalftoneIsa active_halftone_isa() { return halftone_kernels().isa; }

bool use_halftone_isa(HalftoneIsa isa) {
  for (const HalftoneKernels* k : {portable_kernels(), sse2_kernels(), avx2_kernels(), neon_kernels()}) {
    if (k && k->isa == isa) {
      chosen() = k;
      return true;
    }
  }
  return false;
}

const char* halftone_isa_name(HalftoneIsa isa) {
  switch (isa) {
    case HalftoneIsa::kSse2: return "sse2";
    case HalftoneIsa::kAvx2: return "avx2";
    case HalftoneIsa::kNeon: return "neon";
    case HalftoneIsa::kPortable: break;
  }
  return "portable";
}

}  // namespace rf
