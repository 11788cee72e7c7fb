#include "jbig_span.h"

#include <cstdlib>

namespace tesvel_jbig {

void* (*g_spanAlloc)(size_t) = std::malloc;

static Span* new_span() {
  Span* s = static_cast<Span*>(g_spanAlloc(sizeof(Span)));
  if (s != nullptr) {
    s->used = 0;
    s->next = nullptr;
  }
  return s;
}

bool chain_start(SpanChain& chain) {
  chain.first = new_span();
  chain.prev = nullptr;
  chain.cur = chain.first;
  chain.failed = chain.first == nullptr;
  return !chain.failed;
}

void chain_grow_and_put(SpanChain& chain, uint8_t byte) {
  if (chain.failed) return;
  Span* s = new_span();
  if (s == nullptr) {
    chain.failed = true;
    return;
  }
  chain.cur->next = s;
  chain.prev = chain.cur;
  chain.cur = s;
  s->data[s->used++] = byte;
}

// The span before `s` in the chain (s is not the first).  Only the rare
// trimming that empties a span walks the chain.
static Span* predecessor(const SpanChain& chain, const Span* s) {
  Span* p = chain.first;
  while (p->next != s) p = p->next;
  return p;
}

void chain_trim_trailing_zeros(SpanChain& chain) {
  if (chain.cur == nullptr) return;
  Span* last = chain.cur;
  for (;;) {
    while (last->used > 0 && last->data[last->used - 1] == 0x00) --last->used;
    if (last->used > 0 || last == chain.first) break;
    // The span emptied: drop it and go on trimming the one before.
    Span* before = predecessor(chain, last);
    before->next = nullptr;
    std::free(last);
    last = before;
  }
  if (last != chain.cur) {
    chain.cur = last;
    chain.prev = last == chain.first ? nullptr : predecessor(chain, last);
  }
  if (last->used > 0 && last->data[last->used - 1] == 0xFF) chain_put(chain, 0x00);
}

void chain_deliver(const SpanChain& chain,
                  void (*cb)(const uint8_t*, size_t, void*), void* ctx) {
  for (const Span* s = chain.first; s != nullptr; s = s->next) {
    cb(s->data, static_cast<size_t>(s->used), ctx);
  }
}

void chain_free(SpanChain& chain) {
  Span* s = chain.first;
  while (s != nullptr) {
    Span* next = s->next;
    std::free(s);
    s = next;
  }
  chain.first = chain.prev = chain.cur = nullptr;
}

}  // namespace tesvel_jbig
