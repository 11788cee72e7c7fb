// Bi-level test images for the JBIG encoder tests and the benchmark, all
// generated in code: plain and random images, and 600-dpi pages (dense
// text, mixed, halftoned photo) made as grey pages and halftoned with the
// driver's 16 x 16 clustered-dot screen (ScreenTable16A).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jbigtest {

struct Bitmap {
  int width = 0;   // pixels, a multiple of 8
  int height = 0;  // lines
  std::vector<uint8_t> bits;  // height lines of width / 8 bytes, MSB first, 1 = black
  size_t bytes_per_line() const { return static_cast<size_t>(width) / 8; }
  uint8_t* line(int y) { return bits.data() + static_cast<size_t>(y) * bytes_per_line(); }
  const uint8_t* line(int y) const { return bits.data() + static_cast<size_t>(y) * bytes_per_line(); }
};

// 600-dpi A4 printable area used by the benchmark and the page tests.
constexpr int kPageWidth = 4736;
constexpr int kPageHeight = 6784;

Bitmap blank_bitmap(int width, int height);                   // all white (0)
Bitmap solid_bitmap(int width, int height);                   // all black (1)
// Each pixel black with probability `density` (xorshift generator, seeded).
Bitmap random_bitmap(int width, int height, double density, uint32_t seed);
// Runs of `repeat` identical non-blank lines.
Bitmap repeated_lines_bitmap(int width, int height, int repeat, uint32_t seed);

// Grey pages (one byte per pixel, 0 black, 255 white) and their halftoning.
struct GreyPage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> grey;
};
Bitmap halftone(const GreyPage& page);  // g < ScreenTable16A[y % 16][x % 16] is black

// Dense text: lines of 10-point words of anti-aliased glyphs, halftoned.
Bitmap text_page(int width, int height, uint32_t seed);
// Text columns, a photo block, grey boxes and rules, halftoned.
Bitmap mixed_page(int width, int height, uint32_t seed);
// A full-page continuous-tone picture, halftoned.
Bitmap photo_page(int width, int height, uint32_t seed);

// Pixels on lines that typical prediction does not skip (a line equal to
// the line above, or an all-white first line, is skipped).
uint64_t coded_pixels(const Bitmap& b);

}  // namespace jbigtest
