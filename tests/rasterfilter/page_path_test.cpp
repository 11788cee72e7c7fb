// Page geometry, page records and the page turns.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "job_state.h"
#include "page_path.h"
#include "test_support.h"

using namespace rf;

namespace {

struct PageFixture : testing::Test {
  void SetUp() override {
    resetJobState();
    g_job.pageCount = 1;
  }
  RasterJob jobFor(ModelClass cls, unsigned wPt, unsigned hPt, unsigned dpi = 600) {
    RasterJob job;
    job.modelClass = cls;
    job.paperTable = paperTableForClass(cls);
    job.header = testing_support::greyHeader(wPt, hPt, dpi);
    return job;
  }
};

}  // namespace

TEST_F(PageFixture, A5FedLongEdgeGetsItsOwnCodeAndTurnedSizes) {
  struct Case {
    ModelClass cls;
    uint16_t code;
    uint16_t xres;
  } cases[] = {{PLATFORM_Z, 18, 60}, {PLATFORM_M, 61, 600}, {PLATFORM_C, 6, 60}};
  for (const Case& c : cases) {
    RasterJob job = jobFor(c.cls, 421, 595);
    PageStartRecord rec;
    PageGeometry geo;
    fillPageStart(job, rec, geo);
    const PaperEntry& a5 = job.paperTable[0];
    EXPECT_EQ(job.settings[JobKey::FeedLongEdge], 1);
    EXPECT_EQ(rec.specFlagsB, 0x40);
    EXPECT_EQ(rec.paperCode, c.code);
    EXPECT_EQ(rec.xResolution, c.xres);
    // The record's sizes are exchanged; the page values are not.
    EXPECT_EQ(rec.imageWidth, a5.imageHeight);
    EXPECT_EQ(rec.imageHeight, a5.imageWidth);
    EXPECT_EQ(geo.fwImgWPixel, a5.imageWidth);
    EXPECT_EQ(rec.paperWidthDots, 4958);  // 595 points at 600 dpi
    EXPECT_EQ(rec.paperHeightDots, 3508);
  }
  // 420 x 595 is plain A5, short edge first.
  RasterJob job = jobFor(PLATFORM_Z, 420, 595);
  PageStartRecord rec;
  PageGeometry geo;
  fillPageStart(job, rec, geo);
  EXPECT_EQ(rec.paperCode, 11);
  EXPECT_EQ(rec.specFlagsB, 0);
}

TEST_F(PageFixture, SizesOutsideThePaperTableComeFromThePpdMargins) {
  RasterJob job = jobFor(PLATFORM_M, 500, 700);
  PageStartRecord rec;
  PageGeometry geo;
  fillPageStart(job, rec, geo);
  EXPECT_EQ(geo.fwImgWPixel, 4192u);  // 4166 rounded up to 32
  EXPECT_EQ(geo.fwImgHPixel, 5840u);  // 5833 rounded up to 8
  EXPECT_EQ(rec.paperCode, 0);
  job = jobFor(PLATFORM_C, 500, 700);
  fillPageStart(job, rec, geo);
  EXPECT_EQ(rec.paperCode, 255);
  EXPECT_EQ(rec.offsetX, 0);
}

TEST_F(PageFixture, PlatformCAt1200DpiDoublesTheImage) {
  RasterJob job = jobFor(PLATFORM_C, 595, 842, 1200);
  job.paperTable = PaperTableC2;
  PageStartRecord rec;
  PageGeometry geo;
  fillPageStart(job, rec, geo);
  EXPECT_EQ(geo.fwImgWPixel, 2u * 4776);
  EXPECT_EQ(geo.fwImgHPixel, 2u * 6782);
  EXPECT_EQ(rec.xResolution, 120);
  EXPECT_EQ(rec.yResolution, 120);
  PageImageRecord img = makePageImageRecord(job, geo, nullptr);
  EXPECT_EQ(img.stripeLines, 384u);
  EXPECT_EQ(img.imageParam, 2 * 4776);
  EXPECT_EQ(img.dataSize, 853);
}

TEST_F(PageFixture, RecordFieldsFromTheSettings) {
  RasterJob job = jobFor(PLATFORM_Z, 595, 842);
  job.header.NumCopies = 3;
  job.header.cupsMediaType = 5;
  job.settings[JobKey::InputSlot] = 2;
  job.settings[JobKey::TonerMode] = 1;
  PageStartRecord rec;
  PageGeometry geo;
  fillPageStart(job, rec, geo);
  EXPECT_EQ(rec.copies, 3);
  EXPECT_EQ(rec.inputTray, 2);
  EXPECT_EQ(rec.density, 0);
  EXPECT_EQ(rec.paperCode, 1);

  job.settings[JobKey::Collate] = 1;
  job.header.cupsMediaType = 2;
  g_job.modelIsListA = 1;
  fillPageStart(job, rec, geo);
  EXPECT_EQ(rec.copies, 1);
  EXPECT_EQ(rec.inputTray, 0);

  PageEndRecord end = makePageEndRecord(job);
  EXPECT_EQ(end.paperSizeMm, 209);  // 595 / 72 x 25.4, truncated
  EXPECT_EQ(end.resolution, 600);
}

TEST_F(PageFixture, BackSidesAreTurnedAsThePaperPathNeedsIt) {
  struct Case {
    int duplex, rotation, page, manual, manualType;
    ModelClass cls;
    uint16_t flagsB;
    int expected;
  } cases[] = {
      {1, 0, 1, 0, 0, PLATFORM_Z, 0, 0}, {1, 0, 2, 0, 0, PLATFORM_Z, 0, 1},
      {1, 1, 1, 0, 0, PLATFORM_Z, 0, 1}, {1, 1, 2, 0, 0, PLATFORM_Z, 0, 0},
      {2, 0, 2, 0, 0, PLATFORM_Z, 0, 0}, {2, 1, 1, 0, 0, PLATFORM_Z, 0, 1},
      {0, 1, 1, 0, 0, PLATFORM_M, 0, 1}, {0, 0, 2, 1, 0, PLATFORM_Z, 0, 1},
      {0, 1, 2, 1, 0, PLATFORM_Z, 0, 0}, {0, 0, 2, 1, 1, PLATFORM_Z, 0, 0},
      {0, 0, 2, 1, 1, PLATFORM_Z, 0x40, 1}, {0, 0, 2, 1, 0, PLATFORM_M, 0x40, 1},
      {0, 0, 2, 1, 0, PLATFORM_M, 0, 0}, {0, 0, 1, 1, 0, PLATFORM_Z, 0, 0},
  };
  for (const Case& c : cases) {
    RasterJob job = jobFor(c.cls, 595, 842);
    job.settings[JobKey::Duplex] = c.duplex;
    job.settings[JobKey::ImageRotation] = c.rotation;
    job.settings[JobKey::ManualDuplex] = c.manual;
    job.manualDuplexType = c.manualType;
    g_job.pageCount = c.page;
    PageStartRecord rec{};
    rec.specFlagsB = c.flagsB;
    EXPECT_EQ(rotate180Decision(job, rec), c.expected)
        << c.duplex << c.rotation << c.page << c.manual << c.manualType << c.cls << c.flagsB;
  }
}

TEST(PageTurns, HalfAndQuarterTurnsMoveEveryPixelWhereItBelongs) {
  std::mt19937 rng(7);
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {3, 200}, {130, 65}, {64, 64}, {300, 129}}) {
    std::vector<uint8_t> img(size_t{w} * h);
    for (auto& p : img) p = static_cast<uint8_t>(rng());
    std::vector<uint8_t> half = img, quarter = img;
    ASSERT_EQ(Rotate180(half.data(), w, h), 1);
    ASSERT_EQ(RotatePage90(quarter.data(), w, h), 1);
    for (uint32_t r = 0; r < h; ++r)
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t v = img[size_t{r} * w + x];
        ASSERT_EQ(half[size_t{h - 1 - r} * w + (w - 1 - x)], v);
        ASSERT_EQ(quarter[size_t{x} * h + (h - 1 - r)], v);  // clockwise
      }
  }
  uint8_t one = 0;
  EXPECT_EQ(Rotate180(&one, 0, 1), 0);
  EXPECT_EQ(RotatePage90(nullptr, 1, 1), 0);
}
