// Band compression adapter.  Takes one band of a 1-bit page with its JBIG
// parameters, runs the encoder (jbig.h) and collects the stripe data, in
// order, in the job-wide band output buffer.
//
// How the page image emission (Prnt_SendPage) uses it:
//
//   bandWideLines = <model in ModelListA> && dpiMode == 2;   // once per job
//   band_output_allocate(2 * bandCopyBytes);      // before the bands of a page
//   for each band:
//     compressBand(bandCopy, bih);              // appends to the buffer
//     ... read bandOutputLength bytes at bandOutputBuffer ...
//     bandOutputLength = 0;                     // the next band starts at 0
//   band_output_free();                           // after the page
//
// The buffer GROWS when a band's compressed data does not fit (tiny bands
// and noise can compress to several times their raw size: about 5 times for
// an 8 x 1 band), so no band is ever cut or lost and nothing is written past
// the buffer.  Because it may move, read `bandOutputBuffer` after each
// compressBand call, never keep an old copy of the pointer.  The buffer
// must come from band_output_allocate (or malloc/calloc with
// `bandOutputCapacity` set to its size, or be null: the first band then
// allocates it); it must not be memory from new[] or a container.  Bytes
// past `bandOutputLength` up to `bandOutputCapacity` are zero until written.
#pragma once

#include <cstddef>
#include <cstdint>

// A band's JBIG parameters (the caller fills it; compressBand takes it by
// value).  The header and trailer bytes are filled and sent by the page
// image emission; only ParamImgWidth, ParamImgHeight and ParamL0 are read
// here.
struct JbigBih {
  uint8_t DL;              // 0: lowest resolution layer
  uint8_t D;               // 1: differential layers
  uint8_t P;               // 2: bit planes
  uint8_t Fill;            // 3: fill byte
  uint8_t Zero[4];         // 4-7: zero
  int64_t ParamImgWidth;   // 8: pixels per band line, a multiple of 8
  int64_t ParamImgHeight;  // 16: lines in the band
  int64_t ParamL0;         // 24: lines per JBIG stripe
  uint8_t MX;              // 32: adaptive template, maximum horizontal offset
  uint8_t MY;              // 33: adaptive template, maximum vertical offset
  uint8_t Order;           // 34: order byte
  uint8_t Options;         // 35: options byte
  uint8_t Zero2[4];        // 36-39
};
static_assert(sizeof(JbigBih) == 40, "JbigBih: 8 header bytes, three int64, 8 bytes");

// Job-wide band output buffer, shared with the page image emission.
extern uint8_t* bandOutputBuffer;
extern uint32_t bandOutputLength;   // bytes collected for the current band
extern size_t bandOutputCapacity;   // bytes allocated at bandOutputBuffer

// Job-wide: the widened 1200-dpi line of the ModelListA models.  The page
// emission code sets it from "model in ModelListA and dpiMode 2"; then every
// band line holds 2 x ParamImgWidth pixels and is coded as such.
extern bool bandWideLines;

// Replaces the band output buffer by a zero-filled one of `bytes` bytes
// (at least 1) and sets bandOutputLength to 0.  False (buffer null,
// capacity 0) when it cannot be allocated.
bool band_output_allocate(size_t bytes);
// Frees the band output buffer and clears the pointer, capacity and length.
void band_output_free();

// Compresses one band: 1 when the band's complete stripe data was appended
// to bandOutputBuffer at bandOutputLength (and counted there), 0 on failure
// with one of the messages "pKPlaneData is NULL", "JbigBih param invalid
// ..." or "one band data compress fail" on standard error.  Parameters the
// encoder cannot take (zero, negative, too large, a width that is not a
// multiple of 8) get the "param invalid" message without calling it.
int compressBand(const uint8_t* bandData, JbigBih bih);

// Compresses every band of a band-mode page at once, on the encoder's
// thread pool (jbig.h): `bih` describes the whole page (ParamImgHeight its
// lines) and ParamL0 is the band height; band i is lines i * ParamL0 ..
// of `pageData` (the last band may be shorter), and its bytes are exactly
// what compressBand gives for a band of that height with L0 = its height.
// The bands' data are appended, in order, to bandOutputBuffer (counted in
// bandOutputLength) and band i's byte count is stored in bandSizes[i]
// (room for ceil(ParamImgHeight / ParamL0) counts).  Messages are
// compressBand's: the parameter ones once, the 1200-dpi width line once
// per band, "one band data compress fail" once when any band fails.
// Result 1, or 0 on failure (the bands before the failing one stay).
int compressBands(const uint8_t* pageData, JbigBih bih, uint32_t* bandSizes);

// The encoder callback: appends `length` bytes at bandOutputLength, growing
// the buffer when needed.  `ctx` is not used.
void bandOutputCallback(const uint8_t* bytes, size_t length, void* ctx);
