// Built-in halftoning: the 8-bit grey page of the page pipeline (one byte
// per pixel, 0 black, 255 white) becomes the bit-packed page the printer
// prints, by ordered dithering against a threshold screen.
//
// The dithering itself is pure (dither_bilevel, dither_four_level, and
// LineDitherer for a page that arrives line by line); HalftoneDither adds
// the screen choice, its debug line and the job-wide dot count.
//
// The inner loops use the processor's vector instructions (SSE2 or AVX2
// on x86-64, chosen when the process first dithers; NEON on arm64), all
// giving the same bits as the plain code.  The environment variable
// TESVEL_HALFTONE_ISA=portable, read once, makes the process use the plain
// code instead ("sse2", "avx2" and "neon" pick that set when the processor
// has it), so that whole jobs can be compared across the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rf {

enum class HalftoneIsa { kPortable, kSse2, kAvx2, kNeon };

// The kernels this process uses, and their name ("portable", "sse2"...).
HalftoneIsa active_halftone_isa();
const char* halftone_isa_name(HalftoneIsa isa);
// Switches the process to another set of kernels (tests); false, with
// nothing changed, when this build or processor has no such set.
bool use_halftone_isa(HalftoneIsa isa);

// A threshold screen: tile x tile cells, row-major.
struct Screen {
  const uint8_t* cells;
  unsigned tile;
};

// True for the TXG model's pages on PLATFORM_Z, which use the 96 x 96 screens.
bool uses_txg_screen(int modelClass, const char* modelName);

// The screen of a page: see the table in screen_tables.h.
Screen select_screen(int modelClass, int dpi1200, const char* modelName);

// PLATFORM_M with DPI1200 exactly 1 prints four levels, two bits a pixel.
bool is_four_level(int modelClass, int dpi1200);

// Bytes of the page HalftoneDither writes: width x lines pixels at one
// bit (two in the four-level mode), rounded up to a whole byte.
size_t mono_page_bytes(unsigned width, int lines, bool fourLevel);

// One bit per pixel, most significant bit first, eight pixels a byte,
// continuing from line to line with no gap: 1 (black) where
// grey < threshold, or where grey >= threshold with `invert`.  Writes
// mono_page_bytes(width, lines, false) bytes (unused bits of a last
// partial byte are 0) and returns the number of 1 bits written.
uint64_t dither_bilevel(const uint8_t* grey, size_t width, size_t lines, Screen screen, bool invert,
                        uint8_t* out);

// Two bits per pixel, most significant first, four pixels a byte: the
// level is LevelMap[max(0, 255 - grey - threshold)], 3 for grey 0, and
// 3 - level with `invert`.  Writes mono_page_bytes(width, lines, true) bytes.
void dither_four_level(const uint8_t* grey, size_t width, size_t lines, Screen screen, bool invert,
                       uint8_t* out);

struct ExtendedScreen;

// Dithers a page whose grey lines arrive one at a time, in any order, into
// the bit-packed page of dither_bilevel (or dither_four_level): page pixel
// (x, y) goes to bit (y * width + x) * bits of `page`, which must start
// zero-filled and hold mono_page_bytes(width, height, fourLevel) bytes.
// The screen is taken at the page position, so a page built from turned
// lines is the page the whole-page functions make of the turned page.
class LineDitherer {
 public:
  LineDitherer(Screen screen, bool fourLevel, bool invert, size_t width, size_t height, uint8_t* page);
  ~LineDitherer();
  LineDitherer(const LineDitherer&) = delete;
  LineDitherer& operator=(const LineDitherer&) = delete;

  // Page row `row` from `width` grey pixels.  Returns the 1 bits written
  // (bilevel pages; 0 for four levels).
  uint64_t row(const uint8_t* grey, size_t row);
  // Page column `column` from `height` grey pixels, top row first.
  uint64_t column(const uint8_t* grey, size_t column);

 private:
  void put(size_t pixel, unsigned value);

  std::unique_ptr<ExtendedScreen> screen_;
  unsigned bits_;
  uint8_t flip_;
  size_t width_, height_;
  uint8_t* page_;
};

// The screen's debug line on the CUPS log, as HalftoneDither writes it.
void writeHalftoneNote(int modelClass);

// Dithers a page of fwImgWPixel x fwImgHPixel grey pixels into pMonoImgBuf
// (at least mono_page_bytes() bytes).  First writes the screen's debug
// line on the CUPS log.  For PLATFORM_C and PLATFORM_Z the page's black
// dots are added to g_job.dotCount.  validColumns (the columns that came
// from the raster) does not change the result.  Result 1 when the page
// was converted; 0, with nothing converted, for a null buffer or a
// modelClass other than PLATFORM_C, PLATFORM_Z and PLATFORM_M.
int HalftoneDither(const uint8_t* pGrayImgBuf, unsigned fwImgWPixel, int fwImgHPixel,
                   uint8_t* pMonoImgBuf, unsigned validColumns, int negative, int dpi1200,
                   int modelClass);

}  // namespace rf
