// Decoding the JBIG (ITU-T T.82) data of a page or band with JBIG-KIT.
//
// The stream never carries the bi-level image header that JBIG-KIT needs
// in the form the encoder used: PLATFORM_M announces the page in a
// JBIG_PARAM_CMD chunk with the stream's own options byte, PLATFORM_C only
// gives width, height and stripe lines in cmdRasterImage, PLATFORM_Z gives
// them per band.  So the header is built here from those numbers and the
// coding the driver's encoder always uses: one layer, one plane, the
// two-line template (LRLTWO) with typical prediction (TPBON), no AT moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace prndecode {

// A piece of image data inside the stream buffer, with its stream offset.
struct ByteSpan {
  uint64_t offset = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

struct JbigParams {
  uint32_t width = 0;   // XD: pixels per coded line
  uint32_t height = 0;  // YD: lines
  uint32_t l0 = 0;      // lines per stripe
};

struct JbigResult {
  bool complete = false;     // all lines decoded (bits is valid)
  bool ok = false;           // complete, and no byte left over
  uint64_t error_offset = 0;
  std::string error;         // plain message when !ok
  size_t stripes_found = 0;  // ESC SDNORM / SDRST markers in the data
  std::vector<uint8_t> bits; // height lines of (width + 7) / 8 bytes, 1 = black
};

// Largest image the inspector will decode: sides up to 2^18 pixels and at
// most 2^29 pixels (64 MiB of bitmap; a 1200-dpi Legal page with widened
// lines has two thirds of that).  A few bytes of JBIG data can announce a
// white image of any size, and decoding 2^30 pixels takes seconds.  Beyond that a page is reported,
// not decoded; and no image is allocated before its data has shown enough
// stripe markers for the announced size.
constexpr uint32_t kMaxImageSide = 1u << 18;
constexpr uint64_t kMaxImagePixels = uint64_t(1) << 29;

// Number of stripes of an image: YD / L0 rounded up.
inline uint64_t stripe_count(const JbigParams& p) { return p.l0 ? (uint64_t(p.height) + p.l0 - 1) / p.l0 : 0; }

// The 20-byte BIH used for decoding (DL 0, D 0, P 1, XD, YD, L0, MX 0,
// MY 0, order 3, options LRLTWO | TPBON).
void build_bih(const JbigParams& params, uint8_t bih[20]);

// Decodes the concatenation of `spans` as the stripe data of one image.
JbigResult decode_jbig(const JbigParams& params, const std::vector<ByteSpan>& spans);

// Black pixels of a bitmap of `height` lines of `row_bytes` bytes.
uint64_t count_black(const std::vector<uint8_t>& bits);

}  // namespace prndecode
