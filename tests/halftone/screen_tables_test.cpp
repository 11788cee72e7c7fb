// The threshold screens and the level map: the printer's cells where we
// have them, and the properties the rest must keep.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "screen_tables.h"

namespace {

using rf::LevelMap;
using rf::ScreenTable16A;
using rf::ScreenTable16B;
using rf::ScreenTable28;
using rf::ScreenTable96A;
using rf::ScreenTable96B;

struct ScreenCase {
  const char* name;
  const uint8_t* cells;
  int tile;
};

const ScreenCase kScreens[] = {
    {"ScreenTable16A", &ScreenTable16A[0][0], 16}, {"ScreenTable16B", &ScreenTable16B[0][0], 16},
    {"ScreenTable28", &ScreenTable28[0][0], 28},   {"ScreenTable96A", &ScreenTable96A[0][0], 96},
    {"ScreenTable96B", &ScreenTable96B[0][0], 96},
};

std::vector<int> row_of(const ScreenCase& s, int row, int count) {
  const uint8_t* p = s.cells + row * s.tile;
  return std::vector<int>(p, p + count);
}

TEST(HalftoneScreens, EveryThresholdLiesBetween1And255SoBlackAndWhiteStayPure) {
  for (const ScreenCase& s : kScreens) {
    const uint8_t* end = s.cells + s.tile * s.tile;
    EXPECT_GE(*std::min_element(s.cells, end), 1) << s.name;
    EXPECT_LE(*std::max_element(s.cells, end), 255) << s.name;
  }
}

TEST(HalftoneScreens, KnownRowsHoldThePrintersValues) {
  struct Row {
    const ScreenCase& screen;
    int row;
    std::vector<int> values;
  };
  const Row rows[] = {
      {kScreens[0], 0, {6, 82, 233, 254, 251, 226, 70, 5, 7, 85, 235, 255, 252, 228, 73, 5}},
      {kScreens[0], 15, {1, 15, 175, 240, 245, 185, 20, 2, 2, 16, 177, 241, 247, 187, 21, 2}},
      {kScreens[1], 0, {5, 82, 233, 254, 251, 226, 70, 4, 5, 85, 235, 255, 252, 228, 73, 4}},
      {kScreens[1], 6, {17, 88, 131, 197, 206, 142, 102, 33, 19, 91, 128, 195, 204, 139, 100, 29}},
      {kScreens[2], 0, {2,   6,   24,  166, 223, 252, 255, 254, 250, 220, 163, 22, 5, 2,
                        2,   6,   25,  168, 225, 252, 255, 255, 250, 221, 163, 22, 5, 2}},
      {kScreens[2], 27, {1,   2,   10,  105, 202, 236, 253, 253, 238, 204, 110, 12, 3, 1,
                         1,   2,   11,  105, 203, 237, 253, 254, 238, 206, 112, 12, 3, 1}},
      {kScreens[3], 0, {50, 28, 62, 94, 171, 111, 58, 33, 72, 87, 161, 103,
                        51, 29, 63, 95, 172, 112, 57, 33, 71, 97, 174, 113}},
      {kScreens[3], 1, {21, 1, 10, 149, 234, 189, 26, 4, 14, 139, 225, 182,
                        22, 2, 11, 150, 236, 190, 26, 4, 13, 153, 240, 191}},
      {kScreens[4], 0, {36, 19, 46, 77, 165, 95, 43, 23, 55, 69, 153, 86,
                        37, 20, 47, 78, 166, 96, 42, 23, 54, 80, 169, 97}},
      {kScreens[4], 1, {14, 1, 7, 139, 234, 186, 18, 3, 10, 127, 225, 178,
                        15, 1, 8, 140, 236, 187, 18, 3, 9, 144, 240, 188}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(row_of(r.screen, r.row, static_cast<int>(r.values.size())), r.values)
        << r.screen.name << " row " << r.row;
  }
}

TEST(HalftoneScreens, SixteenScreensRepeatTheirTopHalfWithHalvesSwapped) {
  for (const ScreenCase& s : {kScreens[0], kScreens[1]}) {
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(s.cells[(r + 8) * 16 + c], s.cells[r * 16 + (c + 8) % 16])
            << s.name << " row " << r + 8 << " column " << c;
      }
    }
  }
}

TEST(HalftoneScreens, SixteenBDiffersFromSixteenAOnlyInSmallValues) {
  int differing = 0;
  for (int r = 0; r < 16; ++r) {
    for (int c = 0; c < 16; ++c) {
      if (ScreenTable16A[r][c] == ScreenTable16B[r][c]) continue;
      ++differing;
      EXPECT_LT(ScreenTable16A[r][c], 64) << r << "," << c;
      EXPECT_LT(ScreenTable16B[r][c], 64) << r << "," << c;
    }
  }
  EXPECT_GT(differing, 0);
}

TEST(HalftoneScreens, TwentyEightScreenRepeatsEvery14WithSmallVariations) {
  for (int r = 0; r < 28; ++r) {
    for (int c = 0; c < 28; ++c) {
      EXPECT_NEAR(ScreenTable28[r][c], ScreenTable28[(r + 14) % 28][c], 3) << r << "," << c;
      EXPECT_NEAR(ScreenTable28[r][c], ScreenTable28[r][(c + 14) % 28], 3) << r << "," << c;
    }
  }
}

TEST(HalftoneScreens, NinetySixScreensUseTheirNumberOfDistinctValues) {
  const std::set<int> a(&ScreenTable96A[0][0], &ScreenTable96A[0][0] + 96 * 96);
  const std::set<int> b(&ScreenTable96B[0][0], &ScreenTable96B[0][0] + 96 * 96);
  EXPECT_EQ(a.size(), 255u);
  EXPECT_EQ(b.size(), 237u);
}

// 96B is 96A through a tone curve: equal cells of 96A stay equal, and the
// order of the cells never reverses, so both grow their dots alike.
TEST(HalftoneScreens, NinetySixBIsAMonotoneToneCurveOfNinetySixA) {
  std::map<int, int> curve;
  for (int r = 0; r < 96; ++r) {
    for (int c = 0; c < 96; ++c) {
      const auto inserted = curve.emplace(ScreenTable96A[r][c], ScreenTable96B[r][c]);
      ASSERT_EQ(inserted.first->second, ScreenTable96B[r][c]) << r << "," << c;
    }
  }
  int previous = 0;
  for (const auto& [a, b] : curve) {
    EXPECT_GE(b, previous) << "at 96A value " << a;
    previous = b;
  }
}

// A clustered 45-degree dot of period 6: in every 6 x 6 cell the highest
// threshold (the first pixel to go black) sits on a black-dot centre and
// the lowest on a white-dot centre.
TEST(HalftoneScreens, NinetySixScreensAreClusteredDotsOfPeriodSix) {
  for (const ScreenCase& s : {kScreens[3], kScreens[4]}) {
    for (int cy = 0; cy < 96; cy += 6) {
      for (int cx = 0; cx < 96; cx += 6) {
        auto at = [&](int x, int y) { return s.cells[(cy + y) * 96 + cx + x]; };
        int high = 0, low = 256;
        for (int y = 0; y < 6; ++y) {
          for (int x = 0; x < 6; ++x) {
            high = std::max<int>(high, at(x, y));
            low = std::min<int>(low, at(x, y));
          }
        }
        EXPECT_TRUE(at(4, 1) == high || at(1, 4) == high) << s.name << " cell " << cx << "," << cy;
        EXPECT_TRUE(at(1, 1) == low || at(4, 4) == low) << s.name << " cell " << cx << "," << cy;
      }
    }
  }
}

TEST(HalftoneScreens, LevelMapStepsAt1And24And64) {
  for (int i = 0; i < 256; ++i) {
    const int expected = i == 0 ? 0 : i <= 23 ? 1 : i <= 63 ? 2 : 3;
    EXPECT_EQ(LevelMap[i], expected) << "entry " << i;
  }
}

}  // namespace
