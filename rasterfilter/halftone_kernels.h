// The inner loops of the built-in halftoning: one line of whole output
// bytes against one row of the screen, in plain C++ and in the vector
// instruction sets of the processors the driver runs on.  Every kernel
// gives exactly the bits of the plain one; halftone.cpp picks one table of
// kernels per process (see halftone.h for the choice and its override).
#pragma once

#include <cstddef>
#include <cstdint>

#include "halftone.h"

namespace rf {

constexpr unsigned kMaxTile = 96;   // the largest screen
constexpr unsigned kMaxStep = 32;   // pixels per step of the widest kernel

// The screen with every row repeated past the tile's end, so that the
// thresholds of any step, wherever it starts in the tile, lie side by side.
struct ExtendedScreen {
  uint8_t rows[kMaxTile][kMaxTile + kMaxStep];
  unsigned tile;
};

void extend_screen(const Screen& screen, ExtendedScreen* ext);

// One line of `width` pixels (a multiple of 8), one bit a pixel, most
// significant first: 1 where grey < threshold, every bit flipped when
// `flip` is 0xFF.  `thresholds` is a row of an ExtendedScreen of `tile`
// columns.  Returns the 1 bits written.
using BilevelLineFn = uint64_t (*)(const uint8_t* grey, const uint8_t* thresholds, unsigned tile,
                                   size_t width, uint8_t flip, uint8_t* out);
// One line of `width` pixels (a multiple of 4), two bits a pixel: the
// four-level rule of dither_four_level, both bits flipped when `flip` is 0xFF.
using FourLevelLineFn = void (*)(const uint8_t* grey, const uint8_t* thresholds, unsigned tile,
                                 size_t width, uint8_t flip, uint8_t* out);

struct HalftoneKernels {
  HalftoneIsa isa;
  BilevelLineFn bilevel;
  FourLevelLineFn fourLevel;
};

// The plain kernels, from pixel `start` (a multiple of 8, resp. 4) at
// screen column `column` to the end of the line: the vector kernels finish
// their lines with them.
uint64_t bilevel_tail(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                      uint8_t flip, uint8_t* out, size_t start, unsigned column);
void four_level_tail(const uint8_t* grey, const uint8_t* thresholds, unsigned tile, size_t width,
                     uint8_t flip, uint8_t* out, size_t start, unsigned column);

// The 1 bits of each byte value (a table: the baseline x86-64 processor
// has no population count instruction).
struct BitCounts {
  uint8_t of[256];
  constexpr BitCounts() : of() {
    for (unsigned b = 0; b < 256; ++b) of[b] = static_cast<uint8_t>((b & 1) + of[b / 2]);
  }
};
constexpr BitCounts kBitCounts;

// The screen column `step` pixels on from `column`.
inline unsigned advance_column(unsigned column, unsigned step, unsigned tile) {
  column += step % tile;
  return column >= tile ? column - tile : column;
}

// The kernel tables of each instruction set; null where this build or
// this processor has none.
const HalftoneKernels* portable_kernels();
const HalftoneKernels* sse2_kernels();
const HalftoneKernels* avx2_kernels();
const HalftoneKernels* neon_kernels();

// The table in use (see active_halftone_isa).
const HalftoneKernels& halftone_kernels();

}  // namespace rf
