// The image data after cmdRasterImage.
//
// PLATFORM_C: dataSize bytes of JBIG stripe data for the whole page, then
// UEL_CMD_C.  PLATFORM_Z: dataSize 0, then one band per 256 lines, each a
// 48-byte cmdBandHeader followed by that band's own JBIG image.
// imageFlags bit 0 marks the 1200-dpi lines of the ModelListA models, coded
// at twice imageWidth.
#include <algorithm>
#include <cstring>
#include <string>

#include "bytes.h"
#include "jbig_page.h"
#include "record_walker.h"

namespace prndecode {

namespace {

constexpr char kUelC[] = "\x1b\xff-12345X";
constexpr size_t kUelLen = 9;
constexpr size_t kRasterLen = 18;
constexpr size_t kBandHeader = 48;
constexpr uint32_t kBandLines = 256;
constexpr uint8_t kUelCSum = 0x9E;  // the 9 bytes of UEL_CMD_C, mod 256

// Offset of the first UEL_CMD_C at or after `from`, or `size` when none.
size_t find_uel_c(const uint8_t* data, size_t size, size_t from) {
  const uint8_t* hit = from < size ? static_cast<const uint8_t*>(
                                         memmem(data + from, size - from, kUelC, kUelLen))
                                   : nullptr;
  return hit ? size_t(hit - data) : size;
}

}  // namespace

void RecordWalker::read_image(const Token& t) {
  if (d_ == Dialect::PlatformC) read_c_image(t);
  else read_bands(t);
}

void RecordWalker::read_c_image(const Token& t) {
  const uint8_t* r = w_.data + t.pos;
  size_t start = t.pos + kRasterLen;
  uint64_t announced = le32(r + 13);
  size_t end;
  if (announced <= w_.left(start) && has_at(w_.data, w_.size, start + announced, kUelC, kUelLen)) {
    end = start + announced;
  } else {
    size_t uel = find_uel_c(w_.data, w_.size, start);
    if (uel < w_.size) {
      w_.violation(t.pos, "cmdRasterImage dataSize " + std::to_string(announced) + " differs from the " +
                              std::to_string(uel - start) + " image bytes that follow (up to UEL_CMD_C at offset " +
                              std::to_string(uel) + ")");
      end = uel;
    } else if (announced <= w_.left(start)) {
      end = start + announced;  // the missing UEL_CMD_C is reported by the page sequence
    } else {
      w_.fatal(t.pos, "cmdRasterImage dataSize " + std::to_string(announced) + " runs past the end of the file (" +
                          std::to_string(w_.left(start)) + " bytes left)");
      return;
    }
  }
  size_t length = end - start;
  uint8_t sum = uint8_t(byte_sum(w_.data + start, length) + kUelCSum);
  Item it = w_.item(start, "image_data");
  it.num("length", length).num("imageChecksum", sum);
  w_.add(std::move(it));
  tok_.skip_to(end);
  if (!w_.page.open) return;
  pf_.have_sum = true;
  pf_.image_sum = sum;
  bool widened = r[4] & 0x01;
  JbigParams params{le16(r + 5) * (widened ? 2u : 1u), le16(r + 7), le16(r + 11)};
  PageImage& img = w_.page.image;
  w_.page.have_image = true;
  img.width = params.width;
  img.height = params.height;
  img.widened = widened;
  img.row_bytes = (size_t(params.width) + 7) / 8;
  if (!w_.options.decode_images) return;
  JbigResult res = decode_jbig(params, {ByteSpan{start, w_.data + start, length}});
  if (!res.ok) w_.violation(res.error_offset, res.error);
  if (res.complete) {
    img.bits = std::move(res.bits);
    img.complete = true;
  }
}

void RecordWalker::read_bands(const Token& t) {
  const uint8_t* r = w_.data + t.pos;
  uint32_t width = le16(r + 5), height = le16(r + 7);
  bool widened = r[4] & 0x01;
  uint32_t expected = (height + kBandLines - 1) / kBandLines;
  PageImage& img = w_.page.image;
  if (w_.page.open) {
    w_.page.have_image = true;
    img.width = width * (widened ? 2 : 1);
    img.height = height;
    img.widened = widened;
    img.row_bytes = (size_t(img.width) + 7) / 8;
  }
  bool all = w_.page.open && w_.options.decode_images;
  size_t pos = t.pos + kRasterLen;
  uint32_t index = 0;
  while (has_at(w_.data, w_.size, pos, "\x0b\x30\x1a", 3)) {
    size_t next = 0;
    if (!band(pos, index, width, height, widened, &next)) all = false;
    if (w_.report.fatal) return;
    pos = next;
    ++index;
  }
  tok_.skip_to(pos);
  if (index != expected) {
    w_.violation(pos, "page " + std::to_string(w_.report.pages + 1) + " has " + std::to_string(index) +
                          " bands, expected " + std::to_string(expected) + " for its " + std::to_string(height) + " lines");
    all = false;
  }
  if (all && img.bits.size() == img.row_bytes * img.height) img.complete = true;
}

bool RecordWalker::band(size_t pos, uint32_t index, uint32_t width, uint32_t height, bool widened, size_t* next) {
  if (w_.left(pos) < kBandHeader) {
    w_.fatal(pos, "truncated cmdBandHeader: " + std::to_string(w_.left(pos)) + " of 48 bytes before the end of the file");
    return false;
  }
  const uint8_t* b = w_.data + pos;
  Token bt;
  bt.kind = Tok::Record;
  bt.pos = pos;
  bt.len = kBandHeader;
  bt.record = classify_record(0x1A, kBandHeader, d_);
  Item it = w_.item(pos, "cmdBandHeader");
  describe_record(w_, bt, it);
  w_.add(std::move(it));
  uint32_t band_width = le32(b + 7), stripe = le32(b + 11), lines = le32(b + 15), size = le32(b + 23);
  uint32_t band_index = le24(b + 36);
  uint32_t last = height % kBandLines ? height % kBandLines : kBandLines;
  uint32_t want_lines = index + 1 < (height + kBandLines - 1) / kBandLines ? kBandLines : last;
  bool fits = true;
  if (band_index != index) {
    w_.violation(pos, "cmdBandHeader index " + std::to_string(band_index) + ", expected " + std::to_string(index));
  }
  if (band_width != width) {
    w_.violation(pos, "cmdBandHeader width " + std::to_string(band_width) + " differs from the imageWidth " +
                          std::to_string(width) + " of cmdRasterImage");
    fits = false;
  }
  if (uint64_t(index) * kBandLines >= height) {
    fits = false;  // reported as a wrong band count
  } else if (lines != want_lines) {
    w_.violation(pos, "band " + std::to_string(index) + " has " + std::to_string(lines) + " lines, expected " +
                          std::to_string(want_lines) + " (image height " + std::to_string(height) + ")");
    fits = false;
  }
  size_t data = pos + kBandHeader;
  if (size > w_.left(data)) {
    w_.fatal(pos, "band data of " + std::to_string(size) + " bytes runs past the end of the file (" +
                      std::to_string(w_.left(data)) + " bytes left)");
    return false;
  }
  Item di = w_.item(data, "band_data");
  di.num("index", index).num("length", size);
  w_.add(std::move(di));
  *next = data + size;
  if (!w_.page.open || !w_.options.decode_images) return false;
  JbigParams params{band_width * (widened ? 2u : 1u), lines, stripe};
  JbigResult res = decode_jbig(params, {ByteSpan{data, w_.data + data, size}});
  if (!res.ok) w_.violation(res.error_offset, "band " + std::to_string(index) + ": " + res.error);
  if (!res.complete || !fits) return false;
  PageImage& img = w_.page.image;
  if (img.bits.empty()) {
    if (uint64_t(img.width) * img.height > kMaxImagePixels) {
      w_.violation(pos, "page image of " + std::to_string(img.width) + " x " + std::to_string(img.height) +
                            " pixels is larger than prndecode decodes");
      return false;
    }
    img.bits.assign(img.row_bytes * img.height, 0);
  }
  size_t row_bytes = (size_t(params.width) + 7) / 8;
  if (row_bytes != img.row_bytes) return false;
  std::copy(res.bits.begin(), res.bits.end(), img.bits.begin() + ptrdiff_t(size_t(index) * kBandLines * row_bytes));
  return res.ok;
}

}  // namespace prndecode
