// Stand-in for the colour-management library: renders the 8-bit grey page
// (0 black, 255 white) into the printer's 1-bit page (1 = black, most
// significant bit first, every line starting on a byte of its own) by
// Floyd-Steinberg error diffusion.  With OutputBitMode 1 (1200 dpi across)
// every grey pixel becomes two dots side by side, so a line has twice the
// width of the grey page, as those printers take it.
//
// Error numbers: 0 done; 1 a null record or buffer; 2 a record of the
// wrong size; 3 impossible page dimensions or too little grey input;
// 4 an output buffer too small for the page.  The output is only written
// when the result is 0.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cms_records.h"

namespace {

constexpr int kStandinVersion = 0x100;

enum : int { kOk = 0, kNullArgument = 1, kWrongRecordSize = 2, kBadInput = 3, kOutputTooSmall = 4 };

// Floyd-Steinberg over an output grid of `factor` dots per grey pixel
// across: 1 (black) where the grey value plus the diffused error is below
// the middle.  Errors are kept in sixteenths.
void render(const uint8_t* grey, int width, int height, int lineByte, int factor, uint8_t* out,
            int outLineByte) {
  const int dots = width * factor;
  // Errors for this line and the next, with a guard cell at each end.
  std::vector<int> here(static_cast<size_t>(dots) + 2, 0), next(here.size(), 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = grey + static_cast<size_t>(y) * lineByte;
    uint8_t* dst = out + static_cast<size_t>(y) * outLineByte;
    std::fill(next.begin(), next.end(), 0);
    for (int x = 0; x < dots; ++x) {
      const int value = row[x / factor] + here[x + 1] / 16;
      const bool black = value < 128;
      const int error = value - (black ? 0 : 255);
      here[x + 2] += error * 7;
      next[x] += error * 3;
      next[x + 1] += error * 5;
      next[x + 2] += error;
      if (black) dst[x / 8] = static_cast<uint8_t>(dst[x / 8] | (0x80 >> (x % 8)));
    }
    here.swap(next);
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int GetQuorvaVersion() { return kStandinVersion; }

extern "C" __attribute__((visibility("default"))) int QuorvaCMSmain(rf::CmsSrcData* src,
                                                                    rf::CmsSettings* settings,
                                                                    rf::CmsDstData* dst) {
  if (!src || !settings || !dst || !src->inputData || !dst->outputData) return kNullArgument;
  if (src->cbStructSize != rf::kCmsSrcDataSize || settings->cbStructSize != rf::kCmsSettingsSize ||
      dst->cbStructSize != rf::kCmsDstDataSize)
    return kWrongRecordSize;
  const int width = src->InputDataWidth, height = src->InputDataHeight;
  const int lineByte = src->InputDataLineByte;
  if (width <= 0 || height <= 0 || lineByte < width) return kBadInput;
  const int64_t greyNeeded = int64_t{lineByte} * (height - 1) + width;
  if (src->cbSize < greyNeeded) return kBadInput;

  const int factor = dst->OutputBitMode == 1 ? 2 : 1;
  const int outLineByte = (width * factor + 7) / 8;
  if (outLineByte > INT16_MAX) return kBadInput;
  if (dst->cbSize < int64_t{outLineByte} * height) return kOutputTooSmall;

  std::memset(dst->outputData, 0, static_cast<size_t>(outLineByte) * height);
  render(src->inputData, width, height, lineByte, factor, dst->outputData, outLineByte);
  dst->OutputDataLineByte = static_cast<int16_t>(outLineByte);
  return kOk;
}
