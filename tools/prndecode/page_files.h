// Page pictures for a person to look at: PBM (1-bit) or PGM (the four grey
// levels of the 2-bit PLATFORM_M pages) at full size, and a PNG scaled to
// about 1000 lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model.h"

namespace prndecode {

constexpr uint32_t kPreviewLines = 1000;

// Ink of pixel x of line y: 0 (white) to 1 (1-bit) or 3 (2-bit, level 3 is
// the darkest).
unsigned pixel_ink(const PageImage& page, uint32_t x, uint32_t y);

// The page reduced by whole factors to at most about kPreviewLines lines
// (widened pages also by two across), as 8-bit grey, 255 = white.
std::vector<uint8_t> page_preview(const PageImage& page, uint32_t* width, uint32_t* height);

// Writes an 8-bit grey PNG through libpng.  Returns "" or an error text.
std::string write_png(const std::string& path, const std::vector<uint8_t>& grey, uint32_t width, uint32_t height);

// Writes page-NNN.pbm or page-NNN.pgm (maxval 3, 3 = white) and, with
// `png`, page-NNN.png into `dir`, NNN being the page's index in the
// stream.  Returns "" or an error text.
std::string write_page_files(const std::string& dir, const PageImage& page, bool png = true);

// "page-007" for index 7.
std::string page_file_stem(int index);

}  // namespace prndecode
