#include "jbig_page.h"

#include <cstring>

extern "C" {
#include <jbig.h>
}

namespace prndecode {

namespace {

constexpr uint8_t kEsc = 0xFF;
constexpr uint8_t kSdnorm = 0x02;
constexpr uint8_t kSdrst = 0x03;

void put_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Counts the stripe ends (ESC SDNORM or ESC SDRST) of the data; an ESC is
// always followed by STUFF or a marker byte, so pairs never overlap.
size_t count_stripe_ends(const std::vector<ByteSpan>& spans) {
  size_t count = 0;
  bool after_esc = false;
  for (const ByteSpan& span : spans) {
    for (size_t i = 0; i < span.size; ++i) {
      uint8_t b = span.data[i];
      if (after_esc) {
        if (b == kSdnorm || b == kSdrst) ++count;
        after_esc = false;
      } else if (b == kEsc) {
        after_esc = true;
      }
    }
  }
  return count;
}

struct Decoder {
  jbg_dec_state state;
  Decoder() { jbg_dec_init(&state); }
  ~Decoder() { jbg_dec_free(&state); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
};

std::string size_text(const JbigParams& p) {
  return std::to_string(p.width) + " x " + std::to_string(p.height);
}

}  // namespace

void build_bih(const JbigParams& params, uint8_t bih[20]) {
  bih[0] = 0;  // DL: lowest layer 0
  bih[1] = 0;  // D: no resolution reduction
  bih[2] = 1;  // P: one bit plane
  bih[3] = 0;
  put_be32(bih + 4, params.width);
  put_be32(bih + 8, params.height);
  put_be32(bih + 12, params.l0);
  bih[16] = 0;                           // MX: no AT moves
  bih[17] = 0;                           // MY
  bih[18] = JBG_ILEAVE | JBG_SMID;       // order 3, as the stream announces
  bih[19] = JBG_LRLTWO | JBG_TPBON;      // the driver encoder's coding
}

JbigResult decode_jbig(const JbigParams& params, const std::vector<ByteSpan>& spans) {
  JbigResult result;
  uint64_t start = spans.empty() ? 0 : spans.front().offset;
  uint64_t end = start;
  size_t total = 0;
  for (const ByteSpan& span : spans) {
    total += span.size;
    end = span.offset + span.size;
  }
  result.stripes_found = count_stripe_ends(spans);
  if (params.width == 0 || params.height == 0 || params.l0 == 0) {
    result.error_offset = start;
    result.error = "cannot decode an image of " + size_text(params) + " with " + std::to_string(params.l0) +
                   " lines per stripe";
    return result;
  }
  if (params.width > kMaxImageSide || params.height > kMaxImageSide ||
      uint64_t(params.width) * params.height > kMaxImagePixels) {
    result.error_offset = start;
    result.error = "image of " + size_text(params) + " pixels is larger than prndecode decodes";
    return result;
  }
  uint64_t stripes = stripe_count(params);
  if (result.stripes_found < stripes) {
    result.error_offset = end;
    result.error = "image data ends after " + std::to_string(result.stripes_found) + " of " + std::to_string(stripes) +
                   " stripes (" + size_text(params) + ", " + std::to_string(params.l0) + " lines per stripe)";
    return result;
  }

  Decoder dec;
  jbg_dec_maxsize(&dec.state, params.width, params.height);
  uint8_t bih[20];
  build_bih(params, bih);
  size_t used = 0;
  int rc = jbg_dec_in(&dec.state, bih, sizeof bih, &used);
  if (rc != JBG_EAGAIN) {
    result.error_offset = start;
    result.error = std::string("JBIG-KIT refuses the image header: ") + jbg_strerror(rc);
    return result;
  }
  // JBIG-KIT takes a non-const pointer but does not write through it; feed
  // it through a small copy anyway so that the stream buffer stays const.
  std::vector<uint8_t> chunk;
  uint64_t left_over = 0;
  uint64_t left_over_offset = 0;
  for (const ByteSpan& span : spans) {
    if (result.complete) {
      left_over += span.size;
      continue;
    }
    chunk.assign(span.data, span.data + span.size);
    used = 0;
    rc = span.size ? jbg_dec_in(&dec.state, chunk.data(), chunk.size(), &used) : JBG_EAGAIN;
    if (rc == JBG_EOK) {
      result.complete = true;
      left_over = span.size - used;
      left_over_offset = span.offset + used;
    } else if (rc != JBG_EAGAIN) {
      result.error_offset = span.offset + used;
      result.error = std::string("image data does not decode: ") + jbg_strerror(rc);
      return result;
    }
  }
  if (!result.complete) {
    result.error_offset = end;
    result.error = "image data ends before the " + size_text(params) + " image is complete";
    return result;
  }
  const uint8_t* image = jbg_dec_getimage(&dec.state, 0);
  size_t row_bytes = (size_t(params.width) + 7) / 8;
  result.bits.assign(image, image + row_bytes * params.height);
  if (params.width % 8) {
    uint8_t mask = uint8_t(0xFF << (8 - params.width % 8));
    for (size_t y = 0; y < params.height; ++y) result.bits[y * row_bytes + row_bytes - 1] &= mask;
  }
  if (left_over) {
    result.error_offset = left_over_offset;
    result.error = std::to_string(left_over) + " bytes of image data after the end of the " + size_text(params) +
                   " image";
    return result;
  }
  result.ok = true;
  return result;
}

uint64_t count_black(const std::vector<uint8_t>& bits) {
  uint64_t count = 0;
  for (uint8_t b : bits) count += unsigned(__builtin_popcount(b));
  return count;
}

}  // namespace prndecode
