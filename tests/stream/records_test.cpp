// Chunks, items and command records against bytes worked out by hand from
// the printer's layouts.
#include <functional>
#include <random>

#include "stream_records.h"
#include "stream_test_util.h"

namespace rf::test {
namespace {

TEST(RecordChecksum, IsTheTwosComplementOfTheByteSum) {
  const struct {
    Bytes data;
    int count;
    uint8_t expected;
  } cases[] = {
      {{0x0B, 0x06, 0x1A}, 3, 0xD5},
      {{0x0B, 0x05, 0x15, 0x00}, 4, 0xDB},
      {{0x80, 0x80}, 2, 0x00},          // a sum of exactly 256
      {{0x0B, 0x06, 0x1A}, 0, 0x00},    // nothing summed
      {{0x0B, 0x06, 0x1A}, -4, 0x00},   // a negative count sums nothing
      {{0xFF, 0xFF, 0xFF}, 2, 0x02},    // only the first count bytes
  };
  for (const auto& c : cases)
    EXPECT_EQ(recordChecksum(c.data.data(), c.count), c.expected) << hex(c.data) << " n=" << c.count;
}

JobStartRecord job_258() {
  JobStartRecord r{};
  r.jobId = 258;
  r.duplexBits = 0x20;
  r.jobSpecBits = 0x10;
  return r;
}


TEST(BuiltRecords, CarryTheirPayloadAndChecksumByteForByte) {
  using Builder = std::function<size_t(uint8_t*)>;
  PageStartRecord custom_z = a4_page();
  custom_z.paperCode = 0;
  PageStartRecord custom_c = a4_page();
  custom_c.paperCode = 0xFF;
  PageImageRecord image{0, 0x01, 0x02, 0x20, 4800, 6780, 4800, 0x10300, 853, nullptr};
  JobStartRecord all_bits{};
  all_bits.jobId = 1;
  all_bits.jobSpecHighBit = 5;
  all_bits.jobSpecBit3 = all_bits.jobSpecBit2 = all_bits.jobSpecBit1 = all_bits.jobSpecBit0 = -1;
  BandHeaderFields band;
  band.width = 4736;
  band.lines = 88;
  band.compressedSize = 0x010203;
  band.bandIndex = 2;

  const struct {
    const char* what;
    Builder build;
    std::string expected;
  } cases[] = {
      {"cmdDensity 0", [](uint8_t* b) { return fillCmdDensity(b, 0); }, "0B 05 15 00 DB"},
      {"cmdJobSpec Z, job 258, flags 0x30",
       [](uint8_t* b) { return fillCmdJobSpecZ(b, job_258()); }, "0B 09 11 30 02 01 00 00 A8"},
      {"cmdJobSpec C, job 258, flags 0x30",
       [](uint8_t* b) { return fillCmdJobSpecC(b, job_258()); }, "0B 06 11 02 30 AC"},
      {"cmdJobSpec Z, every flag bit",
       [&](uint8_t* b) { return fillCmdJobSpecZ(b, all_bits); }, "0B 09 11 8F 01 00 00 00 4B"},
      {"cmdTonerSave keeps the low byte",
       [](uint8_t* b) { return fillCmdTonerSave(b, 0x1234); }, "0B 05 19 34 A3"},
      {"cmdFineMode 1", [](uint8_t* b) { return fillCmdFineMode(b, 1); }, "0B 05 1F 01 D0"},
      {"cmdSysTime 3 July 2026",
       [](uint8_t* b) { return fillCmdSysTime(b, 2026, 7, 3); }, "0B 08 1F EA 07 07 03 D3"},
      {"cmdCoverage 7 bytes, 4229000 dots",
       [](uint8_t* b) { return fillCmdCoverageZ(b, 4229000); }, "0B 07 19 05 02 01 CD"},
      {"cmdCoverage 6 bytes, 4000",
       [](uint8_t* b) { return fillCmdCoverageC(b, 4000); }, "0B 06 1E A0 0F 22"},
      {"cmdImageDataChenksum 0xC3",
       [](uint8_t* b) { return fillCmdImageDataChenksum(b, 0xC3); }, "0B 06 1A C3 00 12"},
      {"cmdPageSpec C ORs the low bytes of the three flags",
       [](uint8_t* b) { return fillCmdPageSpec(b, a4_page(), PLATFORM_C); },
       "0B 12 12 01 00 58 58 01 41 03 00 F0 00 78 00 02 00 71"},
      {"cmdPageSpec Z leaves the flags byte 0",
       [](uint8_t* b) { return fillCmdPageSpec(b, a4_page(), PLATFORM_Z); },
       "0B 12 12 01 00 58 58 01 00 03 00 F0 00 78 00 02 00 B2"},
      {"cmdCustomPaper Z custom size (code 0)",
       [&](uint8_t* b) { return fillCmdCustomPaper(b, custom_z, PLATFORM_Z); },
       "0B 0C 13 88 13 58 1B 80 12 7C 1A A0"},
      {"cmdCustomPaper C custom size (code 0xFF)",
       [&](uint8_t* b) { return fillCmdCustomPaper(b, custom_c, PLATFORM_C); },
       "0B 0C 13 88 13 58 1B 80 12 7C 1A A0"},
      {"cmdCustomPaper C code 0 is a standard size there",
       [&](uint8_t* b) { return fillCmdCustomPaper(b, custom_z, PLATFORM_C); },
       "0B 0C 13 00 00 00 00 00 00 00 00 D6"},
      {"cmdCustomPaper Z standard size",
       [](uint8_t* b) { return fillCmdCustomPaper(b, a4_page(), PLATFORM_Z); },
       "0B 0C 13 00 00 00 00 00 00 00 00 D6"},
      {"cmdRasterImage",
       [&](uint8_t* b) { return fillCmdRasterImage(b, image); },
       "0B 12 0C 00 23 C0 12 7C 1A C0 12 00 03 55 03 00 00 1F"},
      {"cmdBandHeader, third band of 88 lines",
       [&](uint8_t* b) { return fillCmdBandHeader(b, band); },
       "0B 30 1A 00 00 01 00 80 12 00 00 58 00 00 00 58 00 00 00 00 00 03 58 "
       "03 02 01 00 03 02 01 00 00 00 00 00 00 02 00 00 03 00 00 00 00 00 00 00 FC"},
      {"cmdTonerParamTXD",
       [](uint8_t* b) { return fillCmdTonerParamTXD(b); },
       "0B 24 1E 00 1E 24 26 2F 50 06 20 20 20 28 2C 20 20 20 20 20 20 20 20 20 "
       "20 20 20 20 20 20 20 20 20 0A 00 C8"},
      {"cmdTonerParamTXD, second form",
       [](uint8_t* b) { return fillCmdTonerParamTXF(b); },
       "0B 28 1E 00 17 26 00 30 40 20 17 20 20 00 00 20 20 20 20 20 20 20 20 20 "
       "20 20 20 20 20 20 20 20 08 0A 00 00 00 00 00 59"},
  };
  for (const auto& c : cases) {
    uint8_t buf[kMaxRecordSize + 8];
    std::memset(buf, 0xEE, sizeof buf);  // a builder must set every byte it claims
    const size_t n = c.build(buf);
    EXPECT_EQ(hex(buf, n), c.expected) << c.what;
    EXPECT_EQ(buf[n], 0xEE) << c.what << ": wrote past its length";
  }
}

TEST(BuiltRecords, SysTimeRefusesANullBuffer) { EXPECT_EQ(fillCmdSysTime(nullptr, 2026, 1, 1), 0u); }

// The job and page tests check the other chunks inside whole sequences.
TEST(Chunks, HeadersAndItemsAreBigEndianWithTheMark) {
  uint8_t buf[kTonerParamChunkLength];
  const struct {
    const char* what;
    std::function<size_t(uint8_t*)> build;
    std::string expected;
  } cases[] = {
      {"START_PAGE_CMD header, custom size",
       [](uint8_t* b) { return fillChunkHeader(b, 220, START_PAGE_CMD, 17, 204, 0x5A5A); },
       "00 00 00 DC 00 00 00 02 00 00 00 11 00 CC 5A 5A"},
      {"JBIG_END_CMD", [](uint8_t* b) { return fillEmptyChunk(b, JBIG_END_CMD); },
       "00 00 00 10 00 00 00 06 00 00 00 00 00 00 5A 5A"},
      {"DENSITY_PARAM", [](uint8_t* b) { return fillItem(b, DENSITY_PARAM, 1, 2); },
       "00 00 00 0C FF 00 01 00 00 00 00 02"},
      {"JBIG_PARAM_CMD for a 4736 x 6784 page",
       [](uint8_t* b) {
         BiLevelHeader bih;
         bih.xd = 4736;
         bih.yd = 6784;
         return fillJbigParamChunk(b, bih);
       },
       "00 00 00 24 00 00 00 04 00 00 00 00 00 00 5A 5A "
       "00 00 01 00 00 00 12 80 00 00 1A 80 00 00 01 00 00 00 03 5C"},
  };
  for (const auto& c : cases) EXPECT_EQ(hex(buf, c.build(buf)), c.expected) << c.what;
}

TEST(Chunks, TonerParamCarriesTheTonerCurve) {
  uint8_t buf[kTonerParamChunkLength];
  ASSERT_EQ(fillTonerParamChunk(buf), 88u);
  EXPECT_EQ(hex(buf, 22), "00 00 00 58 00 00 00 11 00 00 00 00 00 00 5A 5A 00 00 00 51 00 73");
  EXPECT_EQ(hex(buf + 80, 8), "01 5E 01 90 00 64 00 64");
  for (int i = 11; i < 24; ++i) EXPECT_EQ(hex(buf + 16 + 2 * i, 2), "00 64") << "value " << i;
}

TEST(Chunks, CompressedPagesAreCutInto64KiBPieces) {
  const struct {
    size_t size;
    std::vector<size_t> pieces;
  } cases[] = {
      {0, {}},
      {100, {100}},
      {65536, {65536}},
      {131072, {65536, 65536}},
      {65536 + 100, {65536, 100}},
  };
  for (const auto& c : cases) EXPECT_EQ(jbigDataPieces(c.size), c.pieces) << c.size;
}

TEST(Chunks, StartPageItemsFollowThePrintersOrder) {
  PageStartRecord rec{};
  StartPageItem items[kStartPageCustomItems];
  const std::vector<uint16_t> standard = {3, 4, 5, 6, 7, 8, 9, 22, 12, 13, 16, 17, 18, 0xFF00};
  std::vector<uint16_t> custom = standard;
  custom.insert(custom.begin() + 1, {26, 24, 25});  // right behind PAPER_SIZE_PARAM
  for (uint16_t code : {9, 0}) {
    rec.paperCode = code;
    const size_t n = buildStartPageItems(rec, 1, items);
    std::vector<uint16_t> ids;
    for (size_t i = 0; i < n; ++i) ids.push_back(items[i].id);
    EXPECT_EQ(ids, code == 0 ? custom : standard) << "paper code " << code;
  }
}

// Every 0x0B record any builder can make sums to 0 and states its own length.
TEST(RecordProperty, EveryCommandRecordSumsToZeroAndStatesItsLength) {
  std::mt19937 rng(20261208);
  auto u8 = [&] { return static_cast<uint8_t>(rng()); };
  auto u16 = [&] { return static_cast<uint16_t>(rng()); };
  auto u32 = [&] { return static_cast<uint32_t>(rng()); };
  auto check = [](const uint8_t* r, size_t n, const char* what) {
    ASSERT_GE(n, 4u) << what;
    EXPECT_EQ(r[0], 0x0B) << what;
    EXPECT_EQ(r[1], n) << what;
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + r[i]);
    EXPECT_EQ(sum, 0) << what << ": " << hex(r, n);
  };
  for (const auto& fixed : {Bytes(std::begin(abortCmd), std::end(abortCmd)),
                            Bytes(std::begin(resetCmd), std::end(resetCmd)),
                            Bytes(std::begin(formFeedCmd), std::end(formFeedCmd)),
                            Bytes(std::begin(manualDuplexCmdZ), std::end(manualDuplexCmdZ)),
                            Bytes(std::begin(manualDuplexCmdC), std::end(manualDuplexCmdC)),
                            Bytes(std::begin(queryStatusCmd), std::end(queryStatusCmd)),
                            Bytes(std::begin(hostUseCmd), std::end(hostUseCmd)),
                            Bytes(std::begin(machineDuplexCmd), std::end(machineDuplexCmd))})
    check(fixed.data(), fixed.size(), "fixed record");

  uint8_t b[kMaxRecordSize];
  for (int round = 0; round < 500; ++round) {
    JobStartRecord job{static_cast<int32_t>(rng()), {}, static_cast<int32_t>(rng() & 1), u8(), u8(), u8(),
                       static_cast<int32_t>(rng() & 1), static_cast<int32_t>(rng() & 1),
                       static_cast<int32_t>(rng() & 1), static_cast<int32_t>(rng() & 1),
                       static_cast<int32_t>(rng()), u8()};
    PageStartRecord page{u16(), u16(), u16(), u16(), u16(), u16(), u16(), u16(), u16(), u16(),
                         u16(), u16(), u16(), u16(), u16(), u16(), static_cast<int32_t>(rng() & 1), u8()};
    if (round % 3 == 0) page.paperCode = static_cast<uint16_t>(round % 2 ? 0 : 0xFF);
    PageImageRecord image{u8(), u8(), u8(), u8(), u16(), u16(), u16(), rng(), static_cast<int32_t>(rng()), nullptr};
    BandHeaderFields band{u8(), u32(), u32(), u8(), u8(), u8(), u8(), u32(), u32()};
    const ModelClass cls = round % 2 ? PLATFORM_C : PLATFORM_Z;
    check(b, fillCmdJobSpecC(b, job), "cmdJobSpec C");
    check(b, fillCmdJobSpecZ(b, job), "cmdJobSpec Z");
    check(b, fillCmdPageSpec(b, page, cls), "cmdPageSpec");
    check(b, fillCmdCustomPaper(b, page, cls), "cmdCustomPaper");
    check(b, fillCmdDensity(b, u8()), "cmdDensity");
    check(b, fillCmdTonerSave(b, static_cast<int32_t>(rng())), "cmdTonerSave");
    check(b, fillCmdFineMode(b, u8()), "cmdFineMode");
    check(b, fillCmdSysTime(b, 1970 + round, 1 + round % 12, 1 + round % 31), "cmdSysTime");
    check(b, fillCmdCoverageZ(b, (uint64_t(rng()) << 32) | rng()), "cmdCoverage Z");
    check(b, fillCmdCoverageC(b, u16()), "cmdCoverage C");
    check(b, fillCmdImageDataChenksum(b, u8()), "cmdImageDataChenksum");
    check(b, fillCmdRasterImage(b, image), "cmdRasterImage");
    check(b, fillCmdBandHeader(b, band), "cmdBandHeader");
  }
  check(b, fillCmdTonerParamTXD(b), "cmdTonerParamTXD");
  check(b, fillCmdTonerParamTXF(b), "cmdTonerParamTXD second form");
}

}  // namespace
}  // namespace rf::test
