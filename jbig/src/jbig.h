// The driver's own JBIG (ITU-T T.82) encoder: every page image reaches the
// printer as the stripe data this encoder writes.
//
// tesvel_compress codes one 1-bit image as the stripe data entities of a
// single-layer, single-plane T.82 image with the two-line template, typical
// prediction on, no deterministic prediction and no adaptive-template moves
// (BIH values DL 0, D 0, P 1, XD = width, YD = height, L0 = l0, MX 0, MY 0,
// options 0x48 = LRLTWO | TPBON).  No BIH is written: the output is the
// stripe data alone, every stripe ended by ESC SDNORM (0xFF 0x02).
#pragma once

#include <cstddef>
#include <cstdint>

// Receives the output in order: one call per 4096-byte piece of a finished
// stripe (the last piece of a stripe is shorter).  `length` may be 0.
typedef void (*JbigOutputCallback)(const uint8_t* bytes, size_t length, void* data_out_ctx);

// Compresses `height` lines of `width` pixels (`width` / 8 bytes per line, no
// padding, most significant bit first, 1 = black) in stripes of `l0` lines
// (the last stripe may be shorter).  Each stripe is delivered through `cb`
// as soon as it is finished, so at most one stripe's output is held.
//
// Preconditions (checked): width != 0, height != 0, (width & 0b0111) == 0,
// data != NULL, data_out_ctx != NULL, cb != NULL, and also width > 0,
// height > 0 and l0 > 0.  A failed precondition stops the process with the
// assertion text in a build without NDEBUG; with NDEBUG it prints the same
// text to standard error and returns false without calling `cb`.
//
// Result: true once every stripe was delivered; false when a precondition
// failed or an output span could not be allocated (the stripes delivered
// before that stay delivered; the unfinished stripe is discarded).
bool tesvel_compress(int width, int height, int l0, const uint8_t* data,
                     void* data_out_ctx, JbigOutputCallback cb);
