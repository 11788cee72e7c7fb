// Context modelling, typical prediction and stripe framing of the JBIG
// encoder.  The arithmetic coder is in jbig_arith.*, the output chain in
// jbig_span.*.
#include "jbig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jbig_arith.h"
#include "jbig_image.h"

using namespace tesvel_jbig;

namespace {

// ESC SDNORM ends every stripe.
constexpr uint8_t kEsc = 0xFF;
constexpr uint8_t kSdnorm = 0x02;
// Context of the typical-prediction decision (two-line template).
constexpr unsigned kTpContext = 0x195;

// Pixel i (1..8) of the byte being coded.  With the registers as
// code_byte describes them, the pixel's context is
//   ((h2 << i) >> 10) & 0x3f0  |  ((h1 << i) >> 9) & 0x00f
// (bits 0..3: the 4 pixels to its left; bits 4..9: the line above from 2
// pixels right to 3 pixels left of it) and its value is bit 8 of h1 << i.
// Both are taken here as right shifts of the unshifted registers, so no
// register is shifted per pixel; the value goes to the coder in bit 7.
template <int i>
JBIG_ALWAYS_INLINE void code_pixel(ArithRegs& r, JbigEncoderState& s, uint32_t h1, uint32_t h2) {
  const unsigned cx = ((h2 >> (10 - i)) & 0x3F0) | ((h1 >> (9 - i)) & 0x00F);
  arith_encode(r, s, cx, h1 << (i - 1));
}

// Codes the 8 pixels of one byte.  Bits 0..7 of h1 hold the byte and bits
// 8..11 the last 4 pixels before it; bits 8..15 of h2 hold the byte above,
// bits 16..18 the 3 pixels before that and bits 6..7 the 2 pixels after it.
JBIG_ALWAYS_INLINE void code_byte(ArithRegs& r, JbigEncoderState& s, uint32_t h1, uint32_t h2) {
  // A white byte in an all-white neighbourhood (or black in black) is 8
  // identical decisions in context 0 (0x3ff).  When they are all more
  // probable symbols and none renormalises, only A changes: one subtraction
  // instead of 8 decisions.  This is most of a text page.
  const uint32_t own = h1 & 0xFFF;
  const uint32_t above = h2 & 0x7FFC0;
  if ((own | above) == 0) {
    if (arith_encode_mps_run(r, s, 0x000, 0x00, 8)) return;
  } else if (own == 0xFFF && above == 0x7FFC0) {
    if (arith_encode_mps_run(r, s, 0x3FF, 0x80, 8)) return;
  }
  code_pixel<1>(r, s, h1, h2);
  code_pixel<2>(r, s, h1, h2);
  code_pixel<3>(r, s, h1, h2);
  code_pixel<4>(r, s, h1, h2);
  code_pixel<5>(r, s, h1, h2);
  code_pixel<6>(r, s, h1, h2);
  code_pixel<7>(r, s, h1, h2);
  code_pixel<8>(r, s, h1, h2);
}

// Codes one line pixel by pixel; `above` is the line above (ignored, all
// white, when kAbove is false).
template <bool kAbove>
ArithRegs code_line(ArithRegs r, JbigEncoderState& s, const uint8_t* line,
                    const uint8_t* above, size_t bytes_per_line) {
  uint32_t h1 = 0;
  uint32_t h2 = kAbove ? static_cast<uint32_t>(above[0]) << 8 : 0;
  const size_t last = bytes_per_line - 1;
  for (size_t b = 0; b < last; ++b) {
    h1 |= line[b];
    if (kAbove) h2 |= above[b + 1];
    code_byte(r, s, h1, h2);
    h1 <<= 8;
    h2 <<= 8;
  }
  h1 |= line[last];
  code_byte(r, s, h1, h2);
  return r;
}

bool is_all_zero(const uint8_t* p, size_t n) {
  return p[0] == 0 && (n == 1 || std::memcmp(p, p + 1, n - 1) == 0);
}

// Codes lines y0 .. y1-1 of the image into the stripe's chain (the whole
// stripe or the part of it whose lines are ready): per line the
// typical-prediction decision (a line equal to the line above, or a white
// first line, is typical and costs only that decision), then the pixels of
// a line that is not typical.  The statistics and LTP_prev carry over from
// the stripe before: stripes end with SDNORM, never SDRST.
void code_stripe(JbigEncoderState& s, unsigned& LTP_prev, const uint8_t* data, size_t bpl,
                 int64_t y0, int64_t y1) {
  ArithRegs r = arith_load(s);
  for (int64_t y = y0; y < y1; ++y) {
    const uint8_t* line = data + static_cast<size_t>(y) * bpl;
    const uint8_t* above = y == 0 ? nullptr : line - bpl;
    const unsigned LTP = y == 0 ? is_all_zero(line, bpl) : std::memcmp(line, above, bpl) == 0;
    arith_encode(r, s, kTpContext, LTP == LTP_prev ? 0x80 : 0x00);
    LTP_prev = LTP;
    if (LTP) continue;
    r = y == 0 ? code_line<false>(r, s, line, nullptr, bpl) : code_line<true>(r, s, line, above, bpl);
  }
  arith_store(s, r);
}

[[maybe_unused]] void precondition_failed(const char* expr, unsigned line) {
  std::fprintf(stderr, "jbig/src/jbig.cpp:%u: tesvel_compress: Assertion `%s' failed.\n", line,
               expr);
#ifndef NDEBUG
  std::abort();
#endif
}

// Hands a finished stripe straight to the caller's callback.
struct DirectOutput {
  JbigOutputCallback cb;
  void* ctx;
};

void deliver_now(SpanChain& chain, void* sink_ctx) {
  const DirectOutput* d = static_cast<const DirectOutput*>(sink_ctx);
  chain_deliver(chain, d->cb, d->ctx);
  chain_free(chain);
}

}  // namespace

// A failed precondition stops a debug build like assert() does; a release
// build reports it the same way and refuses the call instead of coding
// from a bad pointer or size.
#define JBIG_REQUIRE_AS(expr, text)        \
  do {                                     \
    if (!(expr)) {                         \
      precondition_failed(text, __LINE__); \
      return false;                        \
    }                                      \
  } while (0)
#define JBIG_REQUIRE(expr) JBIG_REQUIRE_AS(expr, #expr)

namespace tesvel_jbig {

bool coder_begin(ImageCoder& c, int width, int height, int l0, const uint8_t* data,
                 const void* data_out_ctx, bool cb_given) {
  JBIG_REQUIRE(width != 0);
  JBIG_REQUIRE(height != 0);
  JBIG_REQUIRE((width & 0b0111) == 0);
  JBIG_REQUIRE(data != NULL);
  JBIG_REQUIRE(data_out_ctx != NULL);
  JBIG_REQUIRE_AS(cb_given, "cb != NULL");
  JBIG_REQUIRE(width > 0);
  JBIG_REQUIRE(height > 0);
  JBIG_REQUIRE(l0 > 0);
  std::memset(c.s.st, 0, sizeof c.s.st);  // state 0, MPS 0: once per image, not per stripe
  c.LTP_prev = 0;
  c.data = data;
  c.bpl = static_cast<size_t>(width) / 8;
  c.height = height;
  c.l0 = l0;
  c.y = 0;
  c.stripeEnd = 0;
  return true;
}

bool coder_advance(ImageCoder& c, int64_t ready, StripeSink sink, void* sink_ctx) {
  JbigEncoderState& s = c.s;
  if (ready > c.height) ready = c.height;
  while (c.y < ready) {
    if (c.y == c.stripeEnd) {  // a stripe begins
      if (!chain_start(s.out)) return false;
      arith_init(s);
      // 64-bit line numbers: y + l0 may pass INT_MAX.
      c.stripeEnd = c.height - c.y > c.l0 ? c.y + c.l0 : c.height;
    }
    const int64_t to = ready < c.stripeEnd ? ready : c.stripeEnd;
    code_stripe(s, c.LTP_prev, c.data, c.bpl, c.y, to);
    c.y = to;
    if (c.y < c.stripeEnd) break;
    arith_flush(s);
    chain_trim_trailing_zeros(s.out);
    chain_put(s.out, kEsc);  // the marker's 0xFF is not stuffed
    chain_put(s.out, kSdnorm);
    if (s.out.failed) {  // a span could not be allocated: the stripe is lost
      chain_free(s.out);
      return false;
    }
    sink(s.out, sink_ctx);
  }
  return true;
}

bool code_image(int width, int height, int l0, const uint8_t* data, const void* data_out_ctx,
                bool cb_given, StripeSink sink, void* sink_ctx) {
  ImageCoder c;
  return coder_begin(c, width, height, l0, data, data_out_ctx, cb_given) &&
         coder_advance(c, height, sink, sink_ctx);
}

}  // namespace tesvel_jbig

bool tesvel_compress(int width, int height, int l0, const uint8_t* data,
                     void* data_out_ctx, JbigOutputCallback cb) {
  DirectOutput direct{cb, data_out_ctx};
  return code_image(width, height, l0, data, data_out_ctx, cb != nullptr, deliver_now, &direct);
}
