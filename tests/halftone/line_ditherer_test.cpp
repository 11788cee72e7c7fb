// LineDitherer against the whole-page functions: a page fed line by line,
// turned as the page path turns it, is the whole-page result of the
// turned page, on every set of kernels this processor has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "halftone.h"
#include "screen_tables.h"

namespace {

using Page = std::vector<uint8_t>;

// Puts back the kernels the process started with.
struct HalftoneIsaRestorer {
  rf::HalftoneIsa saved = rf::active_halftone_isa();
  ~HalftoneIsaRestorer() { rf::use_halftone_isa(saved); }
};

enum class Turn { kNone, kHalf, kQuarter, kHalfThenQuarter };

// The page as RotatePage90 and Rotate180 leave it.
Page turned(const Page& g, size_t w, size_t h, Turn turn, size_t* tw, size_t* th) {
  Page half(g.size());
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) half[y * w + x] = g[(h - 1 - y) * w + (w - 1 - x)];
  const Page& base = (turn == Turn::kHalf || turn == Turn::kHalfThenQuarter) ? half : g;
  if (turn == Turn::kNone || turn == Turn::kHalf) {
    *tw = w;
    *th = h;
    return base;
  }
  Page quarter(g.size());
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) quarter[x * h + (h - 1 - y)] = base[y * w + x];
  *tw = h;
  *th = w;
  return quarter;
}

// The page fed as the page path feeds it: raster line y as it arrives.
uint64_t fed(rf::LineDitherer& d, const Page& g, size_t w, size_t h, Turn turn) {
  uint64_t dots = 0;
  std::vector<uint8_t> line(w);
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* in = g.data() + y * w;
    const bool half = turn == Turn::kHalf || turn == Turn::kHalfThenQuarter;
    if (half) std::reverse_copy(in, in + w, line.begin());
    else std::copy(in, in + w, line.begin());
    if (turn == Turn::kNone) dots += d.row(line.data(), y);
    if (turn == Turn::kHalf) dots += d.row(line.data(), h - 1 - y);
    if (turn == Turn::kQuarter) dots += d.column(line.data(), h - 1 - y);
    if (turn == Turn::kHalfThenQuarter) dots += d.column(line.data(), y);
  }
  return dots;
}

struct Case {
  rf::Screen screen;
  bool fourLevel;
};

void check_all_turns(const Case& c, size_t w, size_t h, std::mt19937& rng) {
  std::uniform_int_distribution<int> any(0, 255);
  Page g(w * h);
  for (uint8_t& v : g) v = static_cast<uint8_t>(any(rng) < 40 ? (any(rng) & 1) * 255 : any(rng));
  for (Turn turn : {Turn::kNone, Turn::kHalf, Turn::kQuarter, Turn::kHalfThenQuarter}) {
    for (bool invert : {false, true}) {
      size_t tw = 0, th = 0;
      const Page t = turned(g, w, h, turn, &tw, &th);
      const size_t bytes = rf::mono_page_bytes(static_cast<unsigned>(tw), static_cast<int>(th), c.fourLevel);
      std::vector<uint8_t> want(bytes), got(bytes, 0);
      uint64_t wantDots = 0;
      if (c.fourLevel) rf::dither_four_level(t.data(), tw, th, c.screen, invert, want.data());
      else wantDots = rf::dither_bilevel(t.data(), tw, th, c.screen, invert, want.data());
      rf::LineDitherer d(c.screen, c.fourLevel, invert, tw, th, got.data());
      const uint64_t gotDots = fed(d, g, w, h, turn);
      const char* isa = rf::halftone_isa_name(rf::active_halftone_isa());
      ASSERT_EQ(got, want) << isa << " " << w << " x " << h << " turn " << static_cast<int>(turn)
                           << " invert " << invert << " tile " << c.screen.tile;
      if (!c.fourLevel) {
        ASSERT_EQ(gotDots, wantDots) << isa << " " << w << " x " << h;
      }
    }
  }
}

TEST(LineDitherer, TurnedPagesFedLineByLineEqualTheWholePageOnEveryKernelSet) {
  const HalftoneIsaRestorer restore;
  const Case cases[] = {{{&rf::ScreenTable16A[0][0], 16}, false},
                        {{&rf::ScreenTable28[0][0], 28}, false},
                        {{&rf::ScreenTable96A[0][0], 96}, false},
                        {{&rf::ScreenTable16A[0][0], 16}, true}};
  // Whole output bytes in both directions, odd sizes that pack across
  // lines, and widths of one and a half vector steps.
  const struct {
    size_t w, h;
  } sizes[] = {{64, 40}, {200, 37}, {13, 11}, {12, 29}, {48, 5}, {1, 3}};
  for (rf::HalftoneIsa isa : {rf::HalftoneIsa::kPortable, rf::HalftoneIsa::kSse2, rf::HalftoneIsa::kAvx2,
                              rf::HalftoneIsa::kNeon}) {
    if (!rf::use_halftone_isa(isa)) continue;
    std::mt19937 rng(99);
    for (const Case& c : cases) {
      for (const auto& s : sizes) check_all_turns(c, s.w, s.h, rng);
    }
  }
}

// Whole-job tests compare the filter across processes by this variable.
TEST(LineDitherer, TheVariableNamesTheKernelsInUse) {
  const char* requested = std::getenv("TESVEL_HALFTONE_ISA");
  if (requested == nullptr) GTEST_SKIP() << "TESVEL_HALFTONE_ISA is not set";
  EXPECT_STREQ(rf::halftone_isa_name(rf::active_halftone_isa()), requested);
}

}  // namespace
