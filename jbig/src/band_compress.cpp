// Band compression adapter: one band in, its JBIG stripe data appended to
// the band output buffer.
#include "band_compress.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jbig.h"

uint8_t* bandOutputBuffer = nullptr;
uint32_t bandOutputLength = 0;
size_t bandOutputCapacity = 0;
bool bandWideLines = false;

namespace {

// Set by the callback when the buffer could not grow; the band then fails.
bool g_bandOutputOverflow = false;

// Grows the buffer to hold at least `needed` bytes (doubling), zero-filling
// the new part.  False when the memory cannot be had.
bool grow_band_output(size_t needed) {
  size_t capacity = bandOutputCapacity < 4096 ? 4096 : bandOutputCapacity;
  while (capacity < needed) capacity *= 2;
  void* p = std::realloc(bandOutputBuffer, capacity);
  if (p == nullptr) return false;
  bandOutputBuffer = static_cast<uint8_t*>(p);
  // Zero the new part (never the bytes already collected, even when a
  // caller left the capacity unset).
  const size_t kept = bandOutputCapacity > bandOutputLength ? bandOutputCapacity : bandOutputLength;
  std::memset(bandOutputBuffer + kept, 0, capacity - kept);
  bandOutputCapacity = capacity;
  return true;
}

}  // namespace

bool band_output_allocate(size_t bytes) {
  band_output_free();
  if (bytes == 0) bytes = 1;
  bandOutputBuffer = static_cast<uint8_t*>(std::calloc(bytes, 1));
  if (bandOutputBuffer == nullptr) return false;
  bandOutputCapacity = bytes;
  return true;
}

void band_output_free() {
  std::free(bandOutputBuffer);
  bandOutputBuffer = nullptr;
  bandOutputCapacity = 0;
  bandOutputLength = 0;
}

void bandOutputCallback(const uint8_t* bytes, size_t length, void* /*ctx*/) {
  if (length == 0 || g_bandOutputOverflow) return;
  const size_t needed = static_cast<size_t>(bandOutputLength) + length;
  if (needed > UINT32_MAX ||
      (needed > bandOutputCapacity && !grow_band_output(needed))) {
    g_bandOutputOverflow = true;
    return;
  }
  std::memcpy(bandOutputBuffer + bandOutputLength, bytes, length);
  bandOutputLength = static_cast<uint32_t>(needed);
}

namespace {

// The checks and messages of a band's parameters (the encoder's own
// preconditions never fire for a band that passes); the width the lines
// are coded at goes to `codedWidth`.
bool band_params_ok(const uint8_t* data, const JbigBih& bih, int* codedWidth) {
  if (data == nullptr) {
    std::fputs("pKPlaneData is NULL\n", stderr);
    return false;
  }
  const int64_t width = bih.ParamImgWidth;
  const int64_t height = bih.ParamImgHeight;
  const int64_t l0 = bih.ParamL0;
  const int64_t coded = bandWideLines ? 2 * width : width;
  if (width <= 0 || height <= 0 || l0 <= 0 || width > INT_MAX || height > INT_MAX ||
      coded > INT_MAX || (width & 7) != 0) {
    std::fprintf(stderr,
                 "JbigBih param invalid JbigBih.ParamImgWidth:%ld,JbigBih.ParamImgHeight:%ld,"
                 "JbigBih.ParamL0:%ld\n",
                 static_cast<long>(width), static_cast<long>(height), static_cast<long>(l0));
    return false;
  }
  *codedWidth = static_cast<int>(coded);
  return true;
}

void report_wide_lines(const JbigBih& bih) {
  if (bandWideLines) {
    std::fprintf(stderr, "jbig在1200dpi时宽度*2 JbigBih.ParamImgWidth:%d\n",
                 static_cast<int>(bih.ParamImgWidth));
  }
}

bool band_failed(bool ok) {
  const bool failed = !ok || g_bandOutputOverflow;
  g_bandOutputOverflow = false;
  if (failed) std::fputs("one band data compress fail\n", stderr);
  return failed;
}

void bands_callback(size_t band, const uint8_t* bytes, size_t length, void* ctx) {
  const uint32_t before = bandOutputLength;
  bandOutputCallback(bytes, length, nullptr);
  static_cast<uint32_t*>(ctx)[band] += bandOutputLength - before;
}

}  // namespace

int compressBand(const uint8_t* bandData, JbigBih bih) {
  int codedWidth = 0;
  if (!band_params_ok(bandData, bih, &codedWidth)) return 0;
  report_wide_lines(bih);
  // A stripe height beyond the band gives the same stripes as the band height.
  const int64_t height = bih.ParamImgHeight;
  const int stripeLines = static_cast<int>(bih.ParamL0 < height ? bih.ParamL0 : height);
  g_bandOutputOverflow = false;
  const bool ok = tesvel_compress(codedWidth, static_cast<int>(height), stripeLines, bandData,
                                  stdout, bandOutputCallback);
  return band_failed(ok) ? 0 : 1;
}

int compressBands(const uint8_t* pageData, JbigBih bih, uint32_t* bandSizes) {
  int codedWidth = 0;
  if (!band_params_ok(pageData, bih, &codedWidth)) return 0;
  const int height = static_cast<int>(bih.ParamImgHeight);
  const int bandLines = static_cast<int>(bih.ParamL0 < height ? bih.ParamL0 : height);
  const size_t lineBytes = static_cast<size_t>(codedWidth) / 8;
  std::vector<JbigImage> bands;
  for (int y = 0; y < height; y += bandLines) {
    const int lines = height - y < bandLines ? height - y : bandLines;
    bands.push_back({codedWidth, lines, lines, pageData + static_cast<size_t>(y) * lineBytes});
    bandSizes[bands.size() - 1] = 0;
    report_wide_lines(bih);
  }
  g_bandOutputOverflow = false;
  const bool ok = tesvel_compress_images(bands.data(), bands.size(), bandSizes, bands_callback);
  return band_failed(ok) ? 0 : 1;
}
