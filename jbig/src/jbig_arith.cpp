#include "jbig_arith.h"

namespace tesvel_jbig {

// ITU-T T.82 Table 24, states 0..112.
constexpr uint16_t LSZ[128] = {
    0x5a1d, 0x2586, 0x1114, 0x080b, 0x03d8, 0x01da, 0x00e5, 0x006f, 0x0036, 0x001a,
    0x000d, 0x0006, 0x0003, 0x0001, 0x5a7f, 0x3f25, 0x2cf2, 0x207c, 0x17b9, 0x1182,
    0x0cef, 0x09a1, 0x072f, 0x055c, 0x0406, 0x0303, 0x0240, 0x01b1, 0x0144, 0x00f5,
    0x00b7, 0x008a, 0x0068, 0x004e, 0x003b, 0x002c, 0x5ae1, 0x484c, 0x3a0d, 0x2ef1,
    0x261f, 0x1f33, 0x19a8, 0x1518, 0x1177, 0x0e74, 0x0bfb, 0x09f8, 0x0861, 0x0706,
    0x05cd, 0x04de, 0x040f, 0x0363, 0x02d4, 0x025c, 0x01f8, 0x01a4, 0x0160, 0x0125,
    0x00f6, 0x00cb, 0x00ab, 0x008f, 0x5b12, 0x4d04, 0x412c, 0x37d8, 0x2fe8, 0x293c,
    0x2379, 0x1edf, 0x1aa9, 0x174e, 0x1424, 0x119c, 0x0f6b, 0x0d51, 0x0bb6, 0x0a40,
    0x5832, 0x4d1c, 0x438e, 0x3bdd, 0x34ee, 0x2eae, 0x299a, 0x2516, 0x5570, 0x4ca9,
    0x44d9, 0x3e22, 0x3824, 0x32b4, 0x2e17, 0x56a8, 0x4f46, 0x47e5, 0x41cf, 0x3c3d,
    0x375e, 0x5231, 0x4c0f, 0x4639, 0x415e, 0x5627, 0x50e7, 0x4b85, 0x5597, 0x504f,
    0x5a10, 0x5522, 0x59eb};

constexpr uint8_t NMPS[128] = {
    1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  13,  15,  16,
    17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,
    33,  34,  35,  9,   37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,
    49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  32,
    65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  48,
    81,  82,  83,  84,  85,  86,  87,  71,  89,  90,  91,  92,  93,  94,  86,  96,
    97,  98,  99,  100, 93,  102, 103, 104, 99,  106, 107, 103, 109, 107, 111, 109,
    111};

constexpr uint8_t NLPS[128] = {
    1,   14,  16,  18,  20,  23,  25,  28,  30,  33,  35,  9,   10,  12,  15,  36,
    38,  39,  40,  42,  43,  45,  46,  48,  49,  51,  52,  54,  56,  57,  59,  60,
    62,  63,  32,  33,  37,  64,  65,  67,  68,  69,  70,  72,  73,  74,  75,  77,
    78,  79,  48,  50,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  61,  61,
    65,  80,  81,  82,  83,  84,  86,  87,  87,  72,  72,  74,  74,  75,  77,  77,
    80,  88,  89,  90,  91,  92,  93,  86,  88,  95,  96,  97,  99,  99,  93,  95,
    101, 102, 103, 104, 99,  105, 106, 107, 103, 105, 108, 109, 110, 111, 110, 112,
    112};

constexpr uint8_t SWTCH[128] = {
    1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,
    0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1};

static constexpr StateTable build_state_table() {
  StateTable t{};
  for (int v = 0; v < 256; ++v) {
    const int idx = v & 0x7f;
    const int mps = v & 0x80;
    t.e[v].lsz = LSZ[idx];
    t.e[v].nextMps = static_cast<uint8_t>(mps | NMPS[idx]);
    t.e[v].nextLps = static_cast<uint8_t>((mps ^ (SWTCH[idx] << 7)) | NLPS[idx]);
  }
  return t;
}

constexpr StateTable kStateTable = build_state_table();

static_assert(kStateTable.e[0].lsz == 0x5a1d && kStateTable.e[0].nextLps == 0x81,
              "state 0: LSZ 0x5a1d, NLPS 1 with an MPS switch");
static_assert(kStateTable.e[112].lsz == 0x59eb && kStateTable.e[112].nextMps == 111,
              "state 112: LSZ 0x59eb, NMPS 111");

void arith_init(JbigEncoderState& s) {
  s.Creg = 0;
  s.Areg = 0x10000;
  s.SC = 0;
  s.CT = 11;
  s.BUFFER = -1;
}

void arith_byte_out(JbigEncoderState& s, uint32_t temp) {
  SpanChain& out = s.out;
  if (temp > 0xFF) {
    // Carry into the held byte; the buffered 0xFF bytes become 0x00.
    if (s.BUFFER >= 0) chain_put_stuffed(out, static_cast<uint8_t>(s.BUFFER + 1));
    for (; s.SC != 0; --s.SC) chain_put(out, 0x00);
    s.BUFFER = static_cast<int16_t>(temp & 0xFF);
  } else if (temp == 0xFF) {
    ++s.SC;  // may still be overflowed by a later carry
  } else {
    if (s.BUFFER >= 0) chain_put_stuffed(out, static_cast<uint8_t>(s.BUFFER));
    for (; s.SC != 0; --s.SC) {
      chain_put(out, 0xFF);
      chain_put(out, 0x00);
    }
    s.BUFFER = static_cast<int16_t>(temp);
  }
}

ArithRegs arith_renorm_slow(ArithRegs r, JbigEncoderState& s) {
  do {
    r.A <<= 1;
    r.C <<= 1;
    if (--r.CT == 0) {
      arith_byte_out(s, r.C >> 19);
      r.C &= 0x7FFFF;
      r.CT = 8;
    }
  } while (r.A < 0x8000);
  return r;
}

void arith_flush(JbigEncoderState& s) {
  SpanChain& out = s.out;
  // The value in the final interval with the most trailing zero bits.
  const uint32_t temp = (s.Areg - 1 + s.Creg) & 0xFFFF0000u;
  uint32_t c = temp < s.Creg ? temp + 0x8000 : temp;
  c <<= s.CT;
  if (c & 0xF8000000u) {
    // A last carry into the held byte.
    if (s.BUFFER >= 0) chain_put_stuffed(out, static_cast<uint8_t>(s.BUFFER + 1));
    // 0x00 bytes only when more non-zero bytes follow.
    if (c & 0x7FFF800u) {
      for (; s.SC != 0; --s.SC) chain_put(out, 0x00);
    }
  } else {
    if (s.BUFFER >= 0) chain_put_stuffed(out, static_cast<uint8_t>(s.BUFFER));
    for (; s.SC != 0; --s.SC) {
      chain_put(out, 0xFF);
      chain_put(out, 0x00);
    }
  }
  // The final bytes, only when they are not 0x00.
  if (c & 0x7FFF800u) {
    chain_put_stuffed(out, static_cast<uint8_t>((c >> 19) & 0xFF));
    if (c & 0x7F800u) chain_put_stuffed(out, static_cast<uint8_t>((c >> 11) & 0xFF));
  }
  s.Creg = c;
  s.SC = 0;
  s.BUFFER = -1;
}

}  // namespace tesvel_jbig
