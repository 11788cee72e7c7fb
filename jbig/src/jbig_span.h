// Output chain of the JBIG encoder: the bytes of one stripe grow
// in 4096-byte spans, so that the encoder never copies or reallocates output
// while it codes.  Internal to the jbig library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tesvel_jbig {

constexpr int kSpanSize = 4096;

// One output piece: a data area, the count of bytes used, the next piece.
struct Span {
  uint8_t data[kSpanSize];
  int16_t used;
  Span* next;
};

// The chain of one stripe.  `prev` is the span before `cur` (null when `cur`
// is the first).  `failed` is set when a span could not be allocated; every
// later append is dropped and the stripe must be abandoned.
struct SpanChain {
  Span* first;
  Span* prev;
  Span* cur;
  bool failed;
};

// Allocator of spans; std::malloc unless a test replaces it to simulate an
// allocation failure.  Spans are released with std::free.
extern void* (*g_spanAlloc)(size_t);

// Starts a stripe's chain with one empty span.  False (and an empty chain
// marked failed) when the span cannot be allocated.
bool chain_start(SpanChain& chain);

// Appends one byte, growing the chain by a span when the current one is full.
void chain_grow_and_put(SpanChain& chain, uint8_t byte);
inline void chain_put(SpanChain& chain, uint8_t byte) {
  Span* s = chain.cur;
  if (s->used < kSpanSize) {
    s->data[s->used++] = byte;
  } else {
    chain_grow_and_put(chain, byte);
  }
}

// Appends a byte of stripe data: a 0xFF is followed by the stuffing 0x00.
inline void chain_put_stuffed(SpanChain& chain, uint8_t byte) {
  chain_put(chain, byte);
  if (byte == 0xFF) chain_put(chain, 0x00);
}

// Removes every trailing 0x00 byte of the chain (however many spans that
// reaches back; spans emptied this way are released, so all spans but the
// last stay full), then puts a 0x00 back when the last byte left is 0xFF,
// so that an ESC STUFF pair stays whole.
void chain_trim_trailing_zeros(SpanChain& chain);

// Hands every span to `cb` in order, with its used count.
void chain_deliver(const SpanChain& chain,
                  void (*cb)(const uint8_t*, size_t, void*), void* ctx);

// Releases every span; the chain is empty afterwards.
void chain_free(SpanChain& chain);

}  // namespace tesvel_jbig
