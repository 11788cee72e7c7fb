// Raster page headers are judged before anything uses their sizes.
#include <gtest/gtest.h>

#include <functional>

#include "raster_input.h"
#include "test_support.h"

using namespace rf;

TEST(RasterHeaderCheck, OnlyEightBitGreyPagesOfSaneSizeArePrinted) {
  using Edit = std::function<void(cups_page_header2_t&)>;
  struct Case {
    const char* what;
    Edit edit;
    HeaderVerdict verdict;
  } cases[] = {
      {"A4 at 600 dpi", [](cups_page_header2_t&) {}, HeaderVerdict::Printable},
      {"1-bit raster",
       [](cups_page_header2_t& h) {
         h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
         h.cupsBytesPerLine = (h.cupsWidth + 7) / 8;
       },
       HeaderVerdict::SkipPage},
      {"RGB raster",
       [](cups_page_header2_t& h) {
         h.cupsBitsPerPixel = 24;
         h.cupsNumColors = 3;
         h.cupsBytesPerLine *= 3;
       },
       HeaderVerdict::SkipPage},
      {"banded colour order", [](cups_page_header2_t& h) { h.cupsColorOrder = CUPS_ORDER_BANDED; },
       HeaderVerdict::SkipPage},
      {"page size 0", [](cups_page_header2_t& h) { h.PageSize[0] = 0; }, HeaderVerdict::SkipPage},
      {"a million copies", [](cups_page_header2_t& h) { h.NumCopies = 1000000; }, HeaderVerdict::SkipPage},
      {"line length disagrees with width", [](cups_page_header2_t& h) { h.cupsBytesPerLine += 8; },
       HeaderVerdict::SkipPage},
      {"resolution 0", [](cups_page_header2_t& h) { h.HWResolution[1] = 0; },
       HeaderVerdict::SkipPage},
      {"sheet too large for 16-bit dots",
       [](cups_page_header2_t& h) { h.PageSize[1] = 8000; }, HeaderVerdict::SkipPage},
      {"line length near 2^31",
       [](cups_page_header2_t& h) { h.cupsWidth = h.cupsBytesPerLine = 0x7ffffff8u; },
       HeaderVerdict::StopReading},
      {"height 2^32-1", [](cups_page_header2_t& h) { h.cupsHeight = 0xffffffffu; },
       HeaderVerdict::StopReading},
      {"height 0", [](cups_page_header2_t& h) { h.cupsHeight = 0; }, HeaderVerdict::StopReading},
      {"width 70000 at 1200 dpi",
       [](cups_page_header2_t& h) { h.cupsWidth = h.cupsBytesPerLine = 70000; },
       HeaderVerdict::SkipPage},
  };
  for (const Case& c : cases) {
    cups_page_header2_t h = testing_support::greyHeader(595, 842);
    c.edit(h);
    std::string why;
    EXPECT_EQ(checkRasterHeader(h, &why), c.verdict) << c.what;
    EXPECT_EQ(why.empty(), c.verdict == HeaderVerdict::Printable) << c.what;
  }
}
