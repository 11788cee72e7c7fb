// Threshold screens and level map of the built-in halftoning.
//
// A screen cell holds the grey level below which the pixel prints black:
// row = line position in the tile, column = pixel position, values 1..255,
// so grey 0 is always black and grey 255 always white.  The 16 x 16 and
// 28 x 28 screens are the printer's own; the 96 x 96 screens of the TXG
// model are completed from the printer's first cells by
// tools/screens/make_screens.py, which also writes screen_tables.cpp.
#pragma once

#include <cstdint>

namespace rf {

extern const uint8_t ScreenTable16A[16][16];  // PLATFORM_C/Z at 600 dpi, all PLATFORM_M pages
extern const uint8_t ScreenTable16B[16][16];  // PLATFORM_Z with DPI1200
extern const uint8_t ScreenTable28[28][28];   // PLATFORM_C with DPI1200
extern const uint8_t ScreenTable96A[96][96];  // PLATFORM_Z, TXG model
extern const uint8_t ScreenTable96B[96][96];  // PLATFORM_Z, TXG model, DPI1200

// Four-level mode: 2-bit level for max(0, 255 - grey - threshold);
// 0 for 0, 1 for 1..23, 2 for 24..63, 3 from 64 up.
extern const uint8_t LevelMap[256];

}  // namespace rf
