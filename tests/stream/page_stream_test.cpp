// Page start, page end, the duplex commands and the weighted coverage.
#include "page_stream.h"
#include "stream_test_util.h"

namespace rf::test {
namespace {

constexpr char kModelZ[] = "Tesvel TZ3010 Series";
constexpr char kModelC[] = "Tesvel TC1110 Series";
constexpr char kModelM[] = "Tesvel TM4010 Series";

std::string item(const char* id, const char* value) {
  return std::string("00 00 00 0C ") + id + " 01 00 " + value;
}

PageStartRecord a4_m() {
  PageStartRecord r{};
  r.paperCode = 9;
  r.xResolution = 600;
  r.yResolution = 600;
  r.inputTray = 1;
  r.copies = 1;
  r.imageWidth = 4800;
  r.imageHeight = 6800;
  r.density = 2;
  return r;
}

// The shared A4 page record without sheet dots: a standard size sends none.
PageStartRecord a4_c() {
  PageStartRecord r = a4_page();
  r.paperWidthDots = r.paperHeightDots = 0;
  return r;
}

// The value of one item in a START_PAGE_CMD chunk.
uint32_t item_value(const Bytes& chunk, uint16_t id) {
  for (size_t at = 16; at + 12 <= chunk.size(); at += 12) {
    if (((chunk[at + 4] << 8) | chunk[at + 5]) == id)
      return (uint32_t(chunk[at + 8]) << 24) | (chunk[at + 9] << 16) | (chunk[at + 10] << 8) | chunk[at + 11];
  }
  ADD_FAILURE() << "no item " << id;
  return 0;
}

using PageStream = StreamTest;

TEST_F(PageStream, ChunkStreamPageStartCarriesFourteenItems) {
  setModel(kModelM);
  const PageStartRecord rec = a4_m();
  ASSERT_EQ(Prnt_StartPage(&rec, PLATFORM_M), 1);
  EXPECT_EQ(out.hexdump(),
            join({"00 00 00 B8 00 00 00 02 00 00 00 0E 00 A8 5A 5A", item("00 03", "00 00 00 09"),
                  item("00 04", "00 00 00 01"), item("00 05", "00 00 00 01"), item("00 06", "00 00 00 00"),
                  item("00 07", "00 00 00 01"), item("00 08", "00 00 02 58"), item("00 09", "00 00 02 58"),
                  item("00 16", "00 00 00 00"), item("00 0C", "00 00 12 C0"), item("00 0D", "00 00 1A 90"),
                  item("00 10", "00 00 00 01"), item("00 11", "00 00 12 C0"), item("00 12", "00 00 1A 90"),
                  item("FF 00", "00 00 00 02")}));
}

TEST_F(PageStream, CustomSizesPutTheirThreeItemsRightAfterThePaperSize) {
  setModel(kModelM);
  PageStartRecord rec = a4_m();
  rec.paperCode = 0;
  rec.paperWidthDots = 5000;
  rec.paperHeightDots = 7000;
  ASSERT_EQ(Prnt_StartPage(&rec, PLATFORM_M), 1);
  const Bytes b = out.bytes();
  ASSERT_EQ(b.size(), 220u);
  EXPECT_EQ(hex(b.data(), 76),
            join({"00 00 00 DC 00 00 00 02 00 00 00 11 00 CC 5A 5A", item("00 03", "00 00 00 00"),
                  item("00 1A", "00 00 00 00"), item("00 18", "00 00 13 88"), item("00 19", "00 00 1B 58"),
                  item("00 04", "00 00 00 01")}));
}

TEST_F(PageStream, VideoDepthDoublesTheImageWidthItem) {
  const struct {
    bool listA;
    int dpiMode, doubleDepth;
    uint32_t depth;
  } cases[] = {
      {true, 2, 0, 2}, {true, 1, 1, 1}, {true, 0, 1, 1},
      {false, 0, 1, 2}, {false, 2, 0, 1}, {false, 0, 0, 1},
  };
  for (const auto& c : cases) {
    Capture o;
    g_job.outputFd = o.fd();
    setModel(c.listA ? ModelListA.names[0] : kModelM);
    g_job.dpiMode = c.dpiMode;
    PageStartRecord rec = a4_m();
    rec.doubleDepth = c.doubleDepth;
    ASSERT_EQ(Prnt_StartPage(&rec, PLATFORM_M), 1);
    const Bytes b = o.bytes();
    SCOPED_TRACE(std::string(c.listA ? "ModelListA" : "other") + " dpiMode " + std::to_string(c.dpiMode));
    EXPECT_EQ(item_value(b, IMG_WIDTH_PARAM), 4800 * c.depth);
    EXPECT_EQ(item_value(b, VIDEO_WIDTH_PARAM), 4800u);
    EXPECT_EQ(item_value(b, VIDEO_DEPTH_PARAM), c.depth);
  }
}

TEST_F(PageStream, CommandRecordPageStartsWithFillersBetweenRecords) {
  const std::string pageSpecZ = "0B 12 12 01 00 58 58 01 00 03 00 F0 00 78 00 02 00 B2";
  const std::string pageSpecC = "0B 12 12 01 00 58 58 01 41 03 00 F0 00 78 00 02 00 71";
  const std::string standard = "0B 0C 13 00 00 00 00 00 00 00 00 D6";
  const struct {
    ModelClass cls;
    const char* model;
    std::string expected;
  } cases[] = {
      {PLATFORM_Z, kModelZ, join({"00 00", pageSpecZ, "00 00", standard, "00 00"})},
      {PLATFORM_C, kModelC, join({"00 00", pageSpecC, "00 00", standard, "00 00 0B 04 32 BF 00 00"})},
      {PLATFORM_C, ModelListA.names[0], join({pageSpecC, standard, "0B 04 32 BF"})},
  };
  for (const auto& c : cases) {
    Capture o;
    g_job.outputFd = o.fd();
    setModel(c.model);
    g_job.dotCount = 12345;
    const PageStartRecord rec = a4_c();
    EXPECT_EQ(Prnt_StartPage(&rec, c.cls), 1);
    EXPECT_EQ(o.hexdump(), c.expected) << c.model;
    EXPECT_EQ(g_job.dotCount, 0u) << "a new page counts its dots from 0";
  }
}

TEST(WeightedCoverage, WeighsDotsByResolutionDensityAndPaperSize) {
  const struct {
    uint64_t dots;
    int resolution, density, sizeMm;
    uint64_t expected;
  } cases[] = {
      {4000000, 600, 2, 210, 4000},
      {4000000, 1200, 4, 148, 1800},
      {1000000, 600, 0, 210, 700},   // light density
      {1000000, 600, 1, 126, 1050},  // light, small paper
      {1000000, 600, 3, 124, 2400},  // dark, smallest paper
      {1000000, 600, 5, 125, 1000},  // 125 mm falls between the size bands
      {1000000, 600, -1, 174, 1500},
      {1000000, 600, 2, 175, 1000},
      {1000000, 300, 2, 210, 1000},  // only 1200 dpi is weighted
      {1999, 600, 2, 210, 1},        // truncated, not rounded
      {0, 1200, 0, 100, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(weightedCoverage(c.dots, c.resolution, c.density, c.sizeMm), c.expected)
        << c.dots << " dots, " << c.resolution << " dpi, density " << c.density << ", " << c.sizeMm << " mm";
}

TEST_F(PageStream, PageEndsOfTheThreeDialects) {
  const std::string uelC = "1B FF 2D 31 32 33 34 35 58";
  const std::string tail = "00 00 0B 06 1A C3 00 12 00 00 0B 06 1E A0 0F 22 00 00 0B 04 18 D9";
  const struct {
    ModelClass cls;
    PageEndRecord rec;
    uint64_t dots;
    std::string expected;
    uint32_t coverage;
  } cases[] = {
      {PLATFORM_C, {3, 1, 600, 210, 2, 0}, 4000000, join({uelC, tail, "00 00 0B 04 40 B1"}), 4000},
      {PLATFORM_C, {4, 1, 600, 210, 2, 0}, 4000000, join({uelC, tail}), 4000},
      {PLATFORM_C, {3, 0, 600, 210, 2, 0}, 4000000, join({uelC, tail}), 4000},
      // 100000 does not fit 16 bits: the printer gets, and we keep, the low 16.
      {PLATFORM_C, {2, 0, 600, 210, 2, 0}, 100000000,
       join({uelC, "00 00 0B 06 1A C3 00 12 00 00 0B 06 1E A0 86 AB 00 00 0B 04 18 D9"}), 34464},
      {PLATFORM_Z, {3, 1, 600, 210, 2, 0}, 4000000, "00 00 0B 04 18 D9", 0},
      {PLATFORM_M, {3, 1, 600, 210, 2, 0}, 4000000, "00 00 00 10 00 00 00 03 00 00 00 00 00 00 5A 5A", 0},
  };
  for (const auto& c : cases) {
    Capture o;
    g_job.outputFd = o.fd();
    setModel(c.cls == PLATFORM_C ? kModelC : c.cls == PLATFORM_Z ? kModelZ : kModelM);
    g_job.imageChecksum = 0xC3;
    g_job.dotCount = c.dots;
    PageEndRecord rec = c.rec;
    EXPECT_EQ(Prnt_EndPage(&rec, c.cls), 1);
    EXPECT_EQ(o.hexdump(), c.expected) << "class " << c.cls << " page " << rec.pageNumber;
    EXPECT_EQ(rec.coverageValue, c.coverage);
  }
}

TEST_F(PageStream, DuplexCommandsOfEachDialect) {
  setModel(kModelC);
  const struct {
    int page, selector;
    std::string expected;
  } machine[] = {{3, 1, "00 00 0B 04 40 B1"}, {4, 1, ""}, {4, 0, "00 00 0B 04 40 B1"}, {3, 0, ""}};
  for (const auto& c : machine) {
    Capture o;
    g_job.outputFd = o.fd();
    EXPECT_EQ(SendMachineDuplexCmd(c.page, c.selector), 1);
    EXPECT_EQ(o.hexdump(), c.expected) << c.page << "/" << c.selector;
  }

  const struct {
    int cls;
    int result;
    std::string expected;
  } manual[] = {
      {PLATFORM_M, 1, "00 00 00 10 00 00 00 0B 00 00 00 00 00 00 5A 5A"},
      {PLATFORM_Z, 1, "0B 04 1B D6"},
      {PLATFORM_C, 1, "0B 04 30 C1"},
      {0, 0, ""},
      {5, 0, ""},
  };
  for (const auto& c : manual) {
    Capture o, store;
    g_job.outputFd = o.fd();
    g_job.pageCount = 1;
    g_job.copyStoreFd = store.fd();
    EXPECT_EQ(SendManualDuplexCmd(static_cast<ModelClass>(c.cls)), c.result);
    EXPECT_EQ(o.hexdump(), c.expected) << "class " << c.cls;
    EXPECT_EQ(store.text(), "") << "the command belongs to this pass only";
  }
  g_job.copyStoreFd = 0;
}

TEST_F(PageStream, AModelOfNoClassGetsNoFrame) {
  PageStartRecord start = a4_c();
  PageEndRecord end{1, 1, 600, 210, 2, 0};
  EXPECT_EQ(Prnt_StartPage(&start, MODEL_NONE), 0);
  EXPECT_EQ(Prnt_EndPage(&end, MODEL_NONE), 0);
  EXPECT_EQ(out.text(), "");
  EXPECT_STREQ(g_job.errorText, "");
}

TEST_F(PageStream, TheFirstFailedWriteStopsTheFrameAndIsNamed) {
  const std::string filler = "Insert00() :: Send 00 00 to file Fail0 ==  \n";
  enum Op { kStart, kStartCustom, kEnd, kManual };
  const struct {
    ModelClass cls;
    Op op;
    int failingWrite;
    std::string expected;
  } cases[] = {
      {PLATFORM_M, kStart, 1, "Prnt_StartPage() :: send START_PAGE_CMD Fail 0 ==  \n"},
      {PLATFORM_M, kStart, 3, "Prnt_StartPage() :: send COPIES_PARAM Fail 0 ==  \n"},
      {PLATFORM_M, kStart, 8, "Prnt_StartPage() :: send V_RESOLUTION_PARAM Fail 0 ==  \n"},
      {PLATFORM_M, kStart, 15, "Prnt_StartPage() :: send DENSITY_PARAM Fail 0 ==  \n"},
      {PLATFORM_M, kStartCustom, 4, "Prnt_StartPage() :: send CUSTOM_WIDTH_PARAM Fail 0 ==  \n"},
      {PLATFORM_Z, kStart, 2, "Prnt_StartPage() :: send cmdPageSpec Fail 0 ==  \n"},
      {PLATFORM_Z, kStart, 3, "Prnt_StartPage() :: send cmdCustomPaper Fail 0 ==  \n" + filler},
      {PLATFORM_Z, kStart, 5, filler},
      {PLATFORM_C, kStart, 6, "Prnt_StartPage() :: send hostUseCmd Fail 0 ==  \n"},
      {PLATFORM_M, kEnd, 1, "Prnt_EndPage() :: send END_PAGE_CMD Fail 0 ==  \n"},
      {PLATFORM_C, kEnd, 1, "Prnt_EndPage() :: send UEL_CMD_C Fail 0 ==  \n"},
      {PLATFORM_C, kEnd, 3, "Prnt_EndPage() :: send cmdImageDataChenksum Fail 0 ==  \n"},
      {PLATFORM_C, kEnd, 5, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"},
      {PLATFORM_C, kEnd, 7, "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n"},
      {PLATFORM_C, kEnd, 9,
       "Prnt_EndPage() :: MachineDuplexCmd Fail .\n"
       "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n"},
      {PLATFORM_Z, kEnd, 2, "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n"},
      {PLATFORM_M, kManual, 1, "SendManualDuplexCmd() :: send MANUAL_DUPLEX_CMD Fail 0 ==  \n"},
      {PLATFORM_Z, kManual, 1, "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n"},
      {PLATFORM_C, kManual, 1, "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("class " + std::to_string(c.cls) + " op " + std::to_string(c.op) + ", write " +
                 std::to_string(c.failingWrite));
    Capture o;
    resetJobState();
    g_job.outputFd = o.fd();
    setModel(c.cls == PLATFORM_M ? kModelM : c.cls == PLATFORM_C ? kModelC : kModelZ);
    g_job.dotCount = 99;
    FailingWrite::arm(o.fd(), c.failingWrite);
    PageStartRecord start = c.cls == PLATFORM_M ? a4_m() : a4_c();
    if (c.op == kStartCustom) start.paperCode = 0;
    PageEndRecord end{3, 1, 600, 210, 2, 0};
    int result = -1;
    switch (c.op) {
      case kStart:
      case kStartCustom: result = Prnt_StartPage(&start, c.cls); break;
      case kEnd: result = Prnt_EndPage(&end, c.cls); break;
      case kManual: result = SendManualDuplexCmd(c.cls); break;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::string(g_job.errorText), c.expected);
    EXPECT_EQ(FailingWrite::calls, c.failingWrite) << "nothing is tried after the failed write";
    if (c.op == kStart && c.cls != PLATFORM_M) {
      EXPECT_EQ(g_job.dotCount, 0u);
    }
  }
}

}  // namespace
}  // namespace rf::test
