// One image through the encoder, stripe by stripe, with the finished
// stripes handed to a sink: tesvel_compress delivers them at once, the
// batch coder (jbig_pool.cpp) keeps them until the image's turn.  The line
// coder (jbig_lines.cpp) codes an image as its lines arrive.
// Internal to the jbig library.
#pragma once

#include <cstdint>

#include "jbig_arith.h"
#include "jbig_span.h"

namespace tesvel_jbig {

// Receives each finished stripe; from then on the chain is the sink's, to
// deliver and free.
typedef void (*StripeSink)(SpanChain& chain, void* sink_ctx);

// tesvel_compress's checks (in its order, with its messages: `data_out_ctx`
// and `cb_given` are only checked, never used), then the stripes in order.
// False, with nothing more handed to the sink, on a failed check or a
// stripe whose output could not be allocated.
bool code_image(int width, int height, int l0, const uint8_t* data, const void* data_out_ctx,
                bool cb_given, StripeSink sink, void* sink_ctx);

// An image coded as its lines become ready: the statistics, the stripe in
// progress and the next line to code.
struct ImageCoder {
  JbigEncoderState s;
  unsigned LTP_prev;
  const uint8_t* data;
  size_t bpl;
  int64_t height;
  int64_t l0;
  int64_t y;          // the next line to code
  int64_t stripeEnd;  // the line after the stripe in progress (y: none begun)
};

// code_image's checks; false (nothing set up) when one fails.
bool coder_begin(ImageCoder& c, int width, int height, int l0, const uint8_t* data,
                 const void* data_out_ctx, bool cb_given);
// Codes the lines before `ready` not yet coded, handing each stripe that
// they finish to the sink.  False when a stripe's output could not be
// allocated (the coder is then of no further use).
bool coder_advance(ImageCoder& c, int64_t ready, StripeSink sink, void* sink_ctx);
// Frees the output of a stripe left unfinished (lines never made ready).
inline void coder_abandon(ImageCoder& c) {
  if (c.y < c.stripeEnd) chain_free(c.s.out);
}

}  // namespace tesvel_jbig
