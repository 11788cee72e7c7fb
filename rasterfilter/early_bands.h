// Band-mode pages (PLATFORM_Z) are sent as bands of 256 lines, each its
// own JBIG image.  EarlyBands hands each band to the coder's thread pool
// as soon as the page path has put all of its lines in place, so that the
// coding of the first bands overlaps the reading and dithering of the
// rest; the page emission collects the bands, in order, when it sends the
// page.  The bytes are those of coding the finished page band by band.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct JbigPending;

namespace rf {

constexpr uint32_t kBandLines = 256;  // PLATFORM_Z band height

class EarlyBands {
 public:
  // `height` lines of `width` pixels (a multiple of 8) at `page`, which
  // must stay in place until collect() or the destructor.
  EarlyBands(const uint8_t* page, uint32_t width, uint32_t height);
  ~EarlyBands();
  EarlyBands(const EarlyBands&) = delete;
  EarlyBands& operator=(const EarlyBands&) = delete;

  // Page line `row` is written (each line once, in any order).
  void row_done(uint32_t row);

  // Every band's bytes, band 0 first; a band not started yet is coded
  // now.  false when a band could not be coded (the caller then codes the
  // page itself).
  bool collect(std::vector<std::vector<uint8_t>>* bands);

 private:
  struct Band {
    JbigPending* pending = nullptr;
    uint32_t missing = 0;  // lines not written yet
    std::vector<uint8_t> bytes;
  };
  bool start(size_t index);

  const uint8_t* page_;
  uint32_t width_, height_;
  std::vector<Band> bands_;
  bool failed_ = false;
};

}  // namespace rf
