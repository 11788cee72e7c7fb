// The driver's own JBIG (ITU-T T.82) encoder: every page image reaches the
// printer as the stripe data this encoder writes.
//
// tesvel_compress codes one 1-bit image as the stripe data entities of a
// single-layer, single-plane T.82 image with the two-line template, typical
// prediction on, no deterministic prediction and no adaptive-template moves
// (BIH values DL 0, D 0, P 1, XD = width, YD = height, L0 = l0, MX 0, MY 0,
// options 0x48 = LRLTWO | TPBON).  No BIH is written: the output is the
// stripe data alone, every stripe ended by ESC SDNORM (0xFF 0x02).
//
// Threads.  The stripes of one image are NOT independent: they end with
// SDNORM, so the probability states of all 1024 contexts carry from one
// stripe into the next (only the coder registers restart).  Working those
// states out ahead costs as much as coding the stripes (measured: a pass
// that only tracks the states takes the coder's whole time), so one image
// is coded by one thread.  What the pool of threads below gives instead:
//   - separate images (the 256-line bands a band-mode page is sent in, or
//     several pages) share nothing: tesvel_compress_images codes them at
//     once;
//   - an image can be coded beside the caller's own work: while the next
//     page is read (tesvel_compress_start / finish) or while its own lines
//     are being halftoned (tesvel_lines_*).
// Every one of them gives exactly tesvel_compress's bytes and callback
// calls, made on the calling thread.
//
// The pool's size is the machine's core count, at most 4, unless
//   - the environment variable TESVEL_JBIG_THREADS (1..4) says otherwise:
//     read once, at the first call that needs it, so that a whole job's
//     processes can be run at a chosen count; other values are ignored;
//   - or tesvel_jbig_set_threads(n) was called, which wins over both.
// One thread means no pool at all: everything is coded on the caller.  The
// pool's threads are started by the first call that needs them and are
// joined when the process exits.
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

// One image of a batch: the same parameters as tesvel_compress.
struct JbigImage {
  int width;
  int height;
  int l0;
  const uint8_t* data;
};

// Receives a batch's output: image `image`'s pieces, exactly the calls
// tesvel_compress would make for it, images in index order, all on the
// thread that called tesvel_compress_images.
typedef void (*JbigImagesCallback)(size_t image, const uint8_t* bytes, size_t length,
                                   void* data_out_ctx);

// Codes `count` independent images (each with its own statistics, as
// separate tesvel_compress calls) on the thread pool.  Result: true when
// every image was delivered; false at the first image that fails (a
// failed precondition, reported as tesvel_compress does, or no memory):
// the images before it stay delivered, and so do its finished stripes,
// as with tesvel_compress one image after the other.  count 0 is true.
bool tesvel_compress_images(const JbigImage* images, size_t count, void* data_out_ctx,
                            JbigImagesCallback cb);

// One image coded on the pool while the caller goes on (halftoning the
// next band or page, say).  tesvel_compress_start takes tesvel_compress's
// arguments (the image's lines must stay as they are until the finish)
// and returns at once; tesvel_compress_finish waits for the image, makes
// exactly tesvel_compress's callback calls on the calling thread, returns
// its result and frees the pending image.  Each started image is finished
// once; images may be finished in any order.  With one thread, or when
// the pool has not begun the image yet, the finish codes it itself.
// start returns null only when it has no memory for the pending image.
struct JbigPending;
JbigPending* tesvel_compress_start(const JbigImage* image, void* data_out_ctx,
                                   JbigOutputCallback cb);
bool tesvel_compress_finish(JbigPending* pending);

// One image coded on a pool thread while its lines are being made (a page
// halftoned band by band goes straight into the coder).  `data` is where
// the whole image's lines will be, width / 8 bytes apart, as for
// tesvel_compress.  tesvel_lines_ready(coder, n) says lines 0 .. n-1 are
// there now (they must not change afterwards): the pool thread codes them,
// and the stripes finished so far are handed to `cb` on the calling
// thread.  tesvel_lines_finish waits for the rest, delivers it and frees
// the coder: true when every line was made ready and coded.  The bytes and
// callback calls are exactly tesvel_compress's.  With one thread the
// lines are coded inside tesvel_lines_ready.  start returns null after a
// failed precondition (reported as tesvel_compress does) or without memory.
struct JbigLineCoder;
JbigLineCoder* tesvel_lines_start(int width, int height, int l0, const uint8_t* data,
                                  void* data_out_ctx, JbigOutputCallback cb);
void tesvel_lines_ready(JbigLineCoder* coder, int lines);
bool tesvel_lines_finish(JbigLineCoder* coder);

// Threads the calls above may use from now on, the caller's included:
// 1..4, or 0 for the default (TESVEL_JBIG_THREADS, else the core count, at
// most 4).  Other values are taken as the nearest of 1 and 4.
void tesvel_jbig_set_threads(int threads);
// The number in force (1..4).
int tesvel_jbig_threads();
