// Coding a page while it is still being dithered.  Band-mode pages
// (PLATFORM_Z) are sent as bands of 256 lines, each its own JBIG image:
// EarlyBands hands each band to the coder's thread pool as soon as the
// page path has put all of its lines in place.  Other pages are one image
// whose stripes share their statistics: it goes to a pool thread that
// codes its lines as they are made, top to bottom.  Either way coding
// overlaps the reading and dithering of the rest of the page, and the
// page emission collects the bytes, in order, when it sends the page:
// the bytes of coding the finished page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct JbigPending;
struct JbigLineCoder;

namespace rf {

constexpr uint32_t kBandLines = 256;  // PLATFORM_Z band height

class EarlyBands {
 public:
  // `height` lines of `width` pixels (a multiple of 8) at `page`, which
  // must stay in place until collect() or the destructor: in bands, or
  // as one image in stripes of `stripeLines` whose lines must then come
  // top to bottom.
  EarlyBands(const uint8_t* page, uint32_t width, uint32_t height);
  EarlyBands(const uint8_t* page, uint32_t width, uint32_t height, uint32_t stripeLines);
  ~EarlyBands();
  EarlyBands(const EarlyBands&) = delete;
  EarlyBands& operator=(const EarlyBands&) = delete;

  // Page line `row` is written (each line once, in any order).
  void row_done(uint32_t row);

  // Every band's bytes, band 0 first (the one image's: one entry); a band
  // not started yet is coded now.  false when a band could not be coded
  // (the caller then codes the page itself).
  bool collect(std::vector<std::vector<uint8_t>>* bands);

 private:
  struct Band {
    JbigPending* pending = nullptr;
    uint32_t missing = 0;  // lines not written yet
    std::vector<uint8_t> bytes;
  };
  bool start(size_t index);
  bool collect_image(std::vector<std::vector<uint8_t>>* bands);

  const uint8_t* page_;
  uint32_t width_, height_;
  std::vector<Band> bands_;
  JbigLineCoder* image_ = nullptr;  // the one image, when not in bands
  uint32_t linesReady_ = 0;         // its lines 0 .. linesReady_ - 1 are written
  size_t earlyStarts_ = 0;          // bands started while the page is made
  size_t earlyLimit_ = 0;           // at most this many (the rest: one batch at the end)
  bool failed_ = false;
};

}  // namespace rf
