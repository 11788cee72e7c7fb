// One whole image through the encoder, stripe by stripe, with the
// finished stripes handed to a sink: tesvel_compress delivers them at
// once, the batch coder (jbig_pool.cpp) keeps them until the image's turn.
// Internal to the jbig library.
#pragma once

#include <cstdint>

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

}  // namespace tesvel_jbig
