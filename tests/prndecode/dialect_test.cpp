// Well-formed jobs of the three dialects, built by hand from the printer's
// layouts with JBIG-KIT-encoded pages: listed, checked clean, and decoded
// back to the same bitmaps.
#include <gtest/gtest.h>

#include <algorithm>

#include "page_files.h"
#include "test_util.h"

using namespace prntest;
using prndecode::Dialect;

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& needle) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(needle) != std::string::npos; });
}

Page page(Bitmap b, int number) {
  Page p;
  p.bitmap = std::move(b);
  p.number = number;
  return p;
}

void expect_same_bits(const prndecode::PageImage& got, const Bitmap& want) {
  EXPECT_TRUE(got.complete);
  EXPECT_EQ(got.height, want.height);
  EXPECT_EQ(got.row_bytes, want.row_bytes());
  EXPECT_TRUE(got.bits == want.bits) << "decoded page differs from the bitmap fed in";
}

}  // namespace

TEST(Dialects, TheChunkStreamBuilderFollowsTheSpecsJobStartAndEndBytes) {
  Bytes job = m_job({page(test_bitmap(64, 16, 1), 1)});
  Bytes start = {0x1B, 0x25, 0x2D, 0x31, 0x32, 0x33, 0x34, 0x35, 0x58, 0x4A, 0x5A, 0x4A, 0x5A, 0x00, 0x00,
                 0x00, 0x58, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5A, 0x5A};
  Bytes end = {0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5A, 0x5A,
               0x1B, 0x25, 0x2D, 0x31, 0x32, 0x33, 0x34, 0x35, 0x58};
  ASSERT_GT(job.size(), start.size() + end.size());
  EXPECT_TRUE(std::equal(start.begin(), start.end(), job.begin()));
  EXPECT_TRUE(std::equal(end.begin(), end.end(), job.end() - ptrdiff_t(end.size())));
}

TEST(Dialects, AChunkStreamJobIsCleanAndDecodesToItsBitmaps) {
  Bitmap a = test_bitmap(512, 600, 1), b = test_bitmap(200, 300, 2);
  Decoded d = inspect_bytes(m_job({page(a, 1), page(b, 2)}));
  EXPECT_EQ(d.report.dialect, Dialect::PlatformM);
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  ASSERT_EQ(d.pages.size(), 2u);
  expect_same_bits(d.pages[0], a);
  expect_same_bits(d.pages[1], b);
  EXPECT_EQ(d.pages[1].width, 200u);
  EXPECT_EQ(d.pages[1].index, 2);
  auto lines = listing_lines(d.report);
  EXPECT_EQ(lines[0], "UEL_CMD offset=0");
  EXPECT_EQ(lines[1], "JZJZ offset=9");
  EXPECT_EQ(lines[2].rfind("TONER_PARAM offset=13 length=88 values=0,81,115,110,150,122,", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "START_DOC_CMD offset=101 length=52 items=3 item_bytes=36 item0=0 item1=0 item2=1");
  EXPECT_TRUE(contains(lines, "START_PAGE_CMD offset=153 length=184 items=14 item_bytes=168 PAPER_SIZE_PARAM=9 "
                              "COPIES_PARAM=1 INPUT_TRAY_PARAM=1 MEDIA_TYPE_PARAM=0 CHANNEL_NUM_PARAM=1 "
                              "H_RESOLUTION_PARAM=600 V_RESOLUTION_PARAM=600 RET_PARAM=0 IMG_WIDTH_PARAM=512 "
                              "IMG_HEIGHT_PARAM=600 VIDEO_DEPTH_PARAM=1 VIDEO_WIDTH_PARAM=512 VIDEO_HEIGHT_PARAM=600 "
                              "DENSITY_PARAM=2"));
  EXPECT_TRUE(contains(lines, "JBIG_PARAM_CMD offset=337 length=36 DL=0 D=0 P=1 XD=512 YD=600 L0=256 MX=0 MY=0 order=3 options=0x5c"));
  EXPECT_TRUE(contains(lines, "page offset=153 index=1 width=512 height=600 depth=1 black="));
  EXPECT_EQ(d.report.pages, 2);
}

TEST(Dialects, AChunkStreamPageOverSixtyFourKibibytesComesInFullPiecesAndOneShortOne) {
  Bitmap noise = noise_bitmap(1024, 1100, 3);
  Decoded d = inspect_bytes(m_job({page(noise, 1)}));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  auto data = items_named(d.report, "JBIG_DATA_CMD");
  ASSERT_GE(data.size(), 3u);
  EXPECT_NE(prndecode::listing_line(*data[0]).find("length=65552 piece=65536"), std::string::npos);
  ASSERT_EQ(d.pages.size(), 1u);
  expect_same_bits(d.pages[0], noise);
}

TEST(Dialects, TwoBitChunkStreamPagesDecodeToFourGreyLevels) {
  Page p = page(test_bitmap(2 * 96, 40, 4), 1);  // 96 pixels of 2 bits each
  p.depth = 2;
  Decoded d = inspect_bytes(m_job({p}));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  ASSERT_EQ(d.pages.size(), 1u);
  const prndecode::PageImage& img = d.pages[0];
  EXPECT_EQ(img.width, 96u);
  EXPECT_EQ(img.depth, 2);
  for (uint32_t x = 0; x < 96; ++x) {
    unsigned want = (p.bitmap.bits[20 * p.bitmap.row_bytes() + x / 4] >> (6 - 2 * (x % 4))) & 3;
    ASSERT_EQ(prndecode::pixel_ink(img, x, 20), want) << "pixel " << x;
  }
}

TEST(Dialects, ACustomSizeChunkStreamPageCarriesTheThreeCustomItemsAfterThePaperSize) {
  Page p = page(test_bitmap(64, 30, 5), 1);
  p.custom = true;
  Decoded d = inspect_bytes(m_job({p}));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_TRUE(contains(listing_lines(d.report), "length=220 items=17 item_bytes=204 PAPER_SIZE_PARAM=0 "
                                                "CUSTOM_PAPER_UNIT_PARAM=0 CUSTOM_WIDTH_PARAM=5000 CUSTOM_HEIGHT_PARAM=7000 COPIES_PARAM=1"));
}

TEST(Dialects, APlatformCJobIsCleanAndDecodesToItsBitmaps) {
  Bitmap a = test_bitmap(320, 500, 6), b = test_bitmap(128, 90, 7);
  Bytes job = c_job({page(a, 1), page(b, 2)});
  Decoded d = inspect_bytes(job);
  EXPECT_EQ(d.report.dialect, Dialect::PlatformC);
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  ASSERT_EQ(d.pages.size(), 2u);
  expect_same_bits(d.pages[0], a);
  expect_same_bits(d.pages[1], b);
  EXPECT_EQ(d.pages[0].number, 1);
  auto lines = listing_lines(d.report);
  EXPECT_EQ(lines[0], "UEL_CMD_C offset=0");
  EXPECT_EQ(lines[1], "abortCmd offset=9 length=4 id=0x16 checksum=0xdb");
  EXPECT_EQ(lines[2], "pjl offset=13 length=15 text=\"\\x1b%-12345X@PJL\\r\\n\"");
  EXPECT_EQ(lines[5], "text offset=49 length=16 text=\"versions=3.1.2.1\"");
  EXPECT_TRUE(contains(lines, "cmdJobSpec offset=108 length=6 id=0x11 jobId=42 flags=0x10 checksum=0xa4"));
  EXPECT_TRUE(contains(lines, "cmdSysTime offset=128 length=8 id=0x1f year=2025 month=7 day=3 checksum="));
  EXPECT_TRUE(contains(lines, "cmdPageSpec offset=138 length=18 id=0x12 paperCode=9 mediaType=0 xResolution=60 "
                              "yResolution=60 inputTray=1 specFlags=0x00 copies=1 offsetX=0 offsetY=0 pageNumber=1"));
  EXPECT_TRUE(contains(lines, "cmdRasterImage offset=178 length=18 id=0x0c imageFlags0=0 imageFlags=0x20 imageWidth=320 "
                              "imageHeight=500 imageParam=320 stripeLines=128 dataSize="));
  EXPECT_TRUE(contains(lines, "image_data offset=196 length="));
  EXPECT_TRUE(contains(lines, "page offset=138 index=1 number=1 width=320 height=500 depth=1 black="));
  EXPECT_EQ(d.report.filler_pairs, 4u + 2 * 7 + 2);
}

TEST(Dialects, APlatformCJobOfAModelListAModelHasNoFillerAtAll) {
  JobOptions o;
  o.fillers = false;
  Decoded d = inspect_bytes(c_job({page(test_bitmap(64, 64, 8), 1)}, o));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_EQ(d.report.filler_pairs, 0u);
  EXPECT_EQ(d.pages.size(), 1u);
}

TEST(Dialects, PlatformCAutomaticDuplexSendsMachineDuplexAfterOddPagesAndAtTheEnd) {
  JobOptions o;
  o.auto_duplex = true;
  o.end_duplex = true;  // 1 page printed, page 2 is the blank back side
  Decoded d = inspect_bytes(c_job({page(test_bitmap(64, 64, 9), 1), page(Bitmap{64, 64, Bytes(8 * 64, 0)}, 2)}, o));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_EQ(items_named(d.report, "machineDuplexCmd").size(), 2u);
}

TEST(Dialects, PlatformCManualDuplexCommandStandsBetweenPages) {
  JobOptions o;
  o.manual_duplex_after_first = true;
  Decoded d = inspect_bytes(c_job({page(test_bitmap(64, 64, 10), 1), page(test_bitmap(64, 64, 11), 2)}, o));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_EQ(items_named(d.report, "manualDuplexCmd").size(), 1u);
}

TEST(Dialects, WidenedPlatformCLinesDecodeAtTwiceTheAnnouncedWidth) {
  JobOptions o;
  o.widened = true;
  Bitmap wide = test_bitmap(2 * 160, 100, 12);
  Decoded d = inspect_bytes(c_job({page(wide, 1)}, o));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  ASSERT_EQ(d.pages.size(), 1u);
  EXPECT_TRUE(d.pages[0].widened);
  EXPECT_EQ(d.pages[0].width, 320u);
  expect_same_bits(d.pages[0], wide);
}

TEST(Dialects, ACustomSizePlatformCPageCarriesItsSizesInCmdCustomPaper) {
  Page p = page(test_bitmap(96, 50, 13), 1);
  p.custom = true;
  Decoded d = inspect_bytes(c_job({p}));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_TRUE(contains(listing_lines(d.report), "paperWidthDots=5000 paperHeightDots=7000 imageWidth=96 imageHeight=50"));
}

TEST(Dialects, APlatformZJobIsCleanAndItsBandsDecodeToTheBitmaps) {
  Bitmap a = test_bitmap(256, 600, 14), b = test_bitmap(128, 512, 15);
  Decoded d = inspect_bytes(z_job({page(a, 1), page(b, 2)}));
  EXPECT_EQ(d.report.dialect, Dialect::PlatformZ);
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  ASSERT_EQ(d.pages.size(), 2u);
  expect_same_bits(d.pages[0], a);
  expect_same_bits(d.pages[1], b);
  auto bands = items_named(d.report, "cmdBandHeader");
  ASSERT_EQ(bands.size(), 5u);  // 600 lines: 256 + 256 + 88; 512 lines: 256 + 256
  auto lines = listing_lines(d.report);
  EXPECT_NE(prndecode::listing_line(*bands[2]).find("index=2 P=1 width=256 stripeLines=88 lines=88 MX=0 MY=0 order=3 options=0x58"),
            std::string::npos)
      << prndecode::listing_line(*bands[2]);
  EXPECT_EQ(lines[0], "pjl offset=0 length=15 text=\"\\x1b%-12345X@PJL\\r\\n\"");
  EXPECT_EQ(lines[1], "pjl offset=15 length=31 text=\"@PJL JOBTIME=05:09:03:07:2025\\r\\n\"");
  EXPECT_TRUE(contains(lines, "cmdJobSpec offset=103 length=9 id=0x11 flags=0x30 jobId=258 checksum=0xa8"));
  EXPECT_TRUE(contains(lines, "cmdDensity offset=114 length=5 id=0x15 density=0 checksum=0xdb"));
  EXPECT_TRUE(contains(lines, "cmdCoverage offset="));
  EXPECT_TRUE(contains(lines, "page offset=121 index=1 number=1 width=256 height=600 depth=1 black="));
}

TEST(Dialects, PlatformZTonerRecordsOfTheTxdAndTxfModelsAreAccepted) {
  for (bool txd : {true, false}) {
    JobOptions o;
    o.txd = txd;
    o.txf = !txd;
    Decoded d = inspect_bytes(z_job({page(test_bitmap(64, 20, 16), 1)}, o));
    EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
    auto toner = items_named(d.report, "cmdTonerParamTXD");
    ASSERT_EQ(toner.size(), 1u);
    EXPECT_NE(prndecode::listing_line(*toner[0]).find(txd ? "length=36" : "length=40"), std::string::npos);
  }
}

TEST(Dialects, APlatformZJobWithTheBlankSuppressLineHasNoFillers) {
  JobOptions o;
  o.blank_suppress = true;
  o.fillers = false;
  Decoded d = inspect_bytes(z_job({page(test_bitmap(64, 300, 17), 1)}, o));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_EQ(d.pages.size(), 1u);
}

TEST(Dialects, WidenedPlatformZBandsDecodeAtTwiceTheAnnouncedWidth) {
  JobOptions o;
  o.widened = true;
  Bitmap wide = test_bitmap(2 * 64, 300, 18);
  Decoded d = inspect_bytes(z_job({page(wide, 1)}, o));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  ASSERT_EQ(d.pages.size(), 1u);
  expect_same_bits(d.pages[0], wide);
}

TEST(Dialects, PlatformZManualDuplexAndCustomPaperAreAccepted) {
  JobOptions o;
  o.manual_duplex_after_first = true;
  Page custom = page(test_bitmap(64, 40, 19), 2);
  custom.custom = true;
  Decoded d = inspect_bytes(z_job({page(test_bitmap(64, 40, 20), 1), custom}, o));
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_EQ(d.pages.size(), 2u);
}

TEST(Dialects, TheRecordDialectsAreToldApartByTheirJobStartRecords) {
  Bytes c = c_job({page(test_bitmap(64, 8, 21), 1)});
  Bytes z = z_job({page(test_bitmap(64, 8, 21), 1)});
  EXPECT_EQ(prndecode::detect_dialect(c.data(), c.size()), Dialect::PlatformC);
  EXPECT_EQ(prndecode::detect_dialect(z.data(), z.size()), Dialect::PlatformZ);
  // Without its UEL_CMD_C a PLATFORM_C job is still known by abortCmd, cmdJobSpec...
  Bytes headless(c.begin() + 9, c.end());
  EXPECT_EQ(prndecode::detect_dialect(headless.data(), headless.size()), Dialect::PlatformC);
  // ...and a page sequence by its page records (hostUseCmd, 7-byte cmdCoverage).
  Bytes cp = c_page(page(test_bitmap(64, 8, 22), 1), {});
  Bytes zp = z_page(page(test_bitmap(64, 8, 22), 1), {});
  EXPECT_EQ(prndecode::detect_dialect(cp.data(), cp.size()), Dialect::PlatformC);
  EXPECT_EQ(prndecode::detect_dialect(zp.data(), zp.size()), Dialect::PlatformZ);
  Bytes junk = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(prndecode::detect_dialect(junk.data(), junk.size()), Dialect::Unknown);
}

TEST(Dialects, APageSequenceWithoutJobStartIsCleanWhenTheDialectIsGiven) {
  Page p = page(test_bitmap(64, 300, 23), 3);
  prndecode::Options opt;
  struct Case {
    Dialect dialect;
    Bytes bytes;
  };
  for (const Case& c : {Case{Dialect::PlatformC, c_page(p, {})}, Case{Dialect::PlatformZ, z_page(p, {})},
                        Case{Dialect::PlatformM, m_page(p)}}) {
    opt.force = c.dialect;
    Decoded d = inspect_bytes(c.bytes, opt);
    EXPECT_TRUE(d.report.violations.empty()) << prndecode::dialect_name(c.dialect) << "\n" << violations(d.report);
    ASSERT_EQ(d.pages.size(), 1u);
    expect_same_bits(d.pages[0], p.bitmap);
  }
}

TEST(Dialects, ImagesAreSkippedOnRequestButStillListed) {
  prndecode::Options opt;
  opt.decode_images = false;
  Decoded d = inspect_bytes(z_job({page(test_bitmap(64, 300, 24), 1)}), opt);
  EXPECT_TRUE(d.report.violations.empty()) << violations(d.report);
  EXPECT_TRUE(d.pages.empty());
  EXPECT_TRUE(contains(listing_lines(d.report), "page offset=121 index=1 number=1 width=64 height=300 depth=1 image=skipped"));
}
