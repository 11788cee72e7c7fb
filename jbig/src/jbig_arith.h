// The T.82 arithmetic encoder: probability estimation table,
// coding of one decision, renormalisation, byte output and flush.
// Internal to the jbig library; the context modelling and the stripe
// framing sit above it in jbig.cpp.
//
// Hot path design: the coder registers live in an `ArithRegs` value that the
// caller keeps in local variables (it is passed by reference only to
// always-inlined functions and by value to the out-of-line slow paths, so
// it never has to live in memory).  Each decision costs one load of the
// context's state byte and one lookup in `kStateTable`; the more probable
// symbol without renormalisation returns after one subtraction and two tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jbig_span.h"

#define JBIG_ALWAYS_INLINE inline __attribute__((always_inline))
#define JBIG_NOINLINE __attribute__((noinline))
#define JBIG_LIKELY(x) __builtin_expect(!!(x), 1)
#define JBIG_UNLIKELY(x) __builtin_expect(!!(x), 0)

namespace tesvel_jbig {

// The 113-state probability estimation table of ITU-T T.82 (Table 24),
// padded to 128 entries; entries 113..127 are zero and never reached.
extern const uint16_t LSZ[128];
extern const uint8_t NMPS[128];
extern const uint8_t NLPS[128];
extern const uint8_t SWTCH[128];

// The state of a context is one byte: bits 0..6 the probability state
// index (0..112), bit 7 the more probable symbol.  kStateTable is the table
// above indexed by that byte, so that one lookup gives LSZ and both
// successors (SWTCH already folded into the successor after a less
// probable symbol).
struct StateEntry {
  uint16_t lsz;
  uint8_t nextMps;  // state byte after a more probable symbol with renormalisation
  uint8_t nextLps;  // state byte after a less probable symbol
};
struct StateTable {
  StateEntry e[256];
};
extern const StateTable kStateTable;

constexpr int kContexts = 1024;

// Encoder state of one tesvel_compress call.  `st` holds, per context, the
// probability state index with the more probable symbol in bit 7 (one byte
// per context instead of separate state and MPS arrays, so that a decision
// needs one load and one table lookup).
struct JbigEncoderState {
  uint8_t st[kContexts];
  uint32_t Creg;     // code register
  uint32_t Areg;     // interval register
  uint32_t SC;       // buffered 0xFF bytes
  int16_t CT;        // shifts until the next output byte
  int16_t BUFFER;    // held output byte, -1 when none
  SpanChain out;     // the stripe's output chain (first, previous, current span)
};

// The registers the coding loop keeps in locals.
struct ArithRegs {
  uint32_t C;
  uint32_t A;
  int32_t CT;
};

// Stripe start: Creg 0, Areg 0x10000, SC 0, CT 11, BUFFER -1.
void arith_init(JbigEncoderState& s);
inline ArithRegs arith_load(const JbigEncoderState& s) {
  return ArithRegs{s.Creg, s.Areg, s.CT};
}
inline void arith_store(JbigEncoderState& s, ArithRegs r) {
  s.Creg = r.C;
  s.Areg = r.A;
  s.CT = static_cast<int16_t>(r.CT);
}

// Byte output with `temp` = Creg >> 19 (carry, 0xFF run, or plain byte).
void arith_byte_out(JbigEncoderState& s, uint32_t temp);

// Renormalisation that reaches a byte boundary (CT runs out): shifts one bit
// at a time, writing bytes as CT reaches 0.
JBIG_NOINLINE ArithRegs arith_renorm_slow(ArithRegs r, JbigEncoderState& s);

// Renormalises after an interval change; r.A is in 1..0x7FFF.  The shift
// count comes from the leading zeros of A; only when it reaches CT does the
// byte-writing slow path run.
JBIG_ALWAYS_INLINE void arith_renorm(ArithRegs& r, JbigEncoderState& s) {
  const int32_t shift = __builtin_clz(r.A) - 16;
  if (JBIG_LIKELY(shift < r.CT)) {
    r.A <<= shift;
    r.C <<= shift;
    r.CT -= shift;
  } else {
    r = arith_renorm_slow(r, s);
  }
}

// Codes one decision in context `cx`.  `pixBit7` carries the decision in
// bit 7 (other bits are ignored), so that it can be compared with the MPS
// bit of the state byte without shifting.
JBIG_ALWAYS_INLINE void arith_encode(ArithRegs& r, JbigEncoderState& s,
                                    unsigned cx, unsigned pixBit7) {
  const unsigned v = s.st[cx];
  const StateEntry e = kStateTable.e[v];
  const uint32_t lsz = e.lsz;
  uint32_t a = r.A - lsz;
  if (JBIG_LIKELY(((v ^ pixBit7) & 0x80) == 0)) {
    // More probable symbol.
    if (JBIG_LIKELY(a >= 0x8000)) {
      r.A = a;
      return;
    }
    if (a < lsz) {  // conditional exchange
      r.C += a;
      a = lsz;
    }
    s.st[cx] = e.nextMps;
  } else {
    // Less probable symbol.
    if (a >= lsz) {  // no exchange: the LPS takes the upper part
      r.C += a;
      a = lsz;
    }
    s.st[cx] = e.nextLps;
  }
  r.A = a;
  arith_renorm(r, s);
}

// Codes n more probable symbols in a row in context `cx` when none of them
// needs renormalisation (A stays >= 0x8000); returns false, changing
// nothing, otherwise.
JBIG_ALWAYS_INLINE bool arith_encode_mps_run(ArithRegs& r, const JbigEncoderState& s,
                                          unsigned cx, unsigned pixBit7, uint32_t n) {
  const unsigned v = s.st[cx];
  if (((v ^ pixBit7) & 0x80) != 0) return false;
  const uint32_t total = kStateTable.e[v].lsz * n;
  if (r.A < 0x8000 + total) return false;
  r.A -= total;
  return true;
}

// End of stripe: flushes the coder's remaining bytes into the chain.
void arith_flush(JbigEncoderState& s);

}  // namespace tesvel_jbig
