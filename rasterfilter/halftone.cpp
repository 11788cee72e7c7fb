// Built-in halftoning.
//
// One pass over the page.  The tile position is carried as a row and a
// column counter that wrap at the tile size, so no pixel costs a division.
// Lines of whole output bytes (the normal case: page widths are multiples
// of 8) go through the line kernels of halftone_kernels.h, each output
// byte built from comparisons held in registers.  Other widths pack pixels
// as one stream across lines and go through a plain per-pixel loop.
#include "halftone.h"

#include <cstring>

#include "halftone_kernels.h"
#include "job_state.h"
#include "model_classes.h"
#include "output_channel.h"
#include "screen_tables.h"

namespace rf {
namespace {

const char kTxgScreenNote[] = "DEBUG: EXTERNAL IMPORT NEW_HALFTONE\n";
const char kBuiltInScreenNote[] = "DEBUG: NO NEED TO EXTERNAL IMPORT NEW_HALFTONE\n";

inline unsigned level_of(unsigned grey, unsigned threshold) {
  if (grey == 0) return LevelMap[255];
  const int excess = 255 - static_cast<int>(grey) - static_cast<int>(threshold);
  return LevelMap[excess > 0 ? excess : 0];
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
  const BilevelLineFn line = halftone_kernels().bilevel;
  const uint8_t flip = invert ? 0xFF : 0x00;
  uint64_t dots = 0;
  unsigned r = 0;
  for (size_t k = 0; k < lines; ++k) {
    dots += line(grey + k * width, ext.rows[r], ext.tile, width, flip, out + k * (width / 8));
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
  const FourLevelLineFn line = halftone_kernels().fourLevel;
  const uint8_t flip = invert ? 0xFF : 0x00;
  unsigned r = 0;
  for (size_t k = 0; k < lines; ++k) {
    line(grey + k * width, ext.rows[r], ext.tile, width, flip, out + k * (width / 4));
    if (++r == ext.tile) r = 0;
  }
}

LineDitherer::LineDitherer(Screen screen, bool fourLevel, bool invert, size_t width, size_t height,
                           uint8_t* page)
    : screen_(new ExtendedScreen),
      bits_(fourLevel ? 2 : 1),
      flip_(invert ? 0xFF : 0x00),
      width_(width),
      height_(height),
      page_(page) {
  extend_screen(screen, screen_.get());
}

LineDitherer::~LineDitherer() = default;

// One pixel's value into the zero-filled page, at its place in the stream
// of `bits_`-bit values (a value never straddles a byte).
void LineDitherer::put(size_t pixel, unsigned value) {
  const size_t bit = pixel * bits_;
  page_[bit / 8] = static_cast<uint8_t>(page_[bit / 8] | value << (8 - bits_ - bit % 8));
}

uint64_t LineDitherer::row(const uint8_t* grey, size_t row) {
  const ExtendedScreen& ext = *screen_;
  const uint8_t* thresholds = ext.rows[row % ext.tile];
  const size_t first = row * width_;
  if (bits_ == 1 && width_ % 8 == 0)
    return halftone_kernels().bilevel(grey, thresholds, ext.tile, width_, flip_, page_ + first / 8);
  if (bits_ == 2 && width_ % 4 == 0) {
    halftone_kernels().fourLevel(grey, thresholds, ext.tile, width_, flip_, page_ + first / 4);
    return 0;
  }
  const unsigned flip = flip_ & ((1u << bits_) - 1);
  uint64_t dots = 0;
  unsigned c = 0;
  for (size_t x = 0; x < width_; ++x) {
    const unsigned value = (bits_ == 1 ? grey[x] < thresholds[c] : level_of(grey[x], thresholds[c])) ^ flip;
    if (bits_ == 1) dots += value;
    put(first + x, value);
    if (++c == ext.tile) c = 0;
  }
  return dots;
}

uint64_t LineDitherer::column(const uint8_t* grey, size_t column) {
  const ExtendedScreen& ext = *screen_;
  const unsigned c = static_cast<unsigned>(column % ext.tile);
  const unsigned flip = flip_ & ((1u << bits_) - 1);
  uint64_t dots = 0;
  unsigned r = 0;
  for (size_t y = 0; y < height_; ++y) {
    const unsigned threshold = ext.rows[r][c];
    const unsigned value = (bits_ == 1 ? grey[y] < threshold : level_of(grey[y], threshold)) ^ flip;
    if (bits_ == 1) dots += value;
    put(y * width_ + column, value);
    if (++r == ext.tile) r = 0;
  }
  return dots;
}

void writeHalftoneNote(int modelClass) {
  writeDiag(uses_txg_screen(modelClass, g_job.modelName) ? kTxgScreenNote : kBuiltInScreenNote);
}

int HalftoneDither(const uint8_t* pGrayImgBuf, unsigned fwImgWPixel, int fwImgHPixel,
                   uint8_t* pMonoImgBuf, unsigned validColumns, int negative, int dpi1200,
                   int modelClass) {
  // The columns the raster filled are already in place, white beyond them;
  // every column is dithered alike.
  (void)validColumns;
  // The log line comes first, whatever the buffers hold.
  writeHalftoneNote(modelClass);
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
