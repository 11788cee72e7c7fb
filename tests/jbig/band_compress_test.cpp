// The band compression adapter: parameters and their messages, stripes in
// a band, the widened 1200-dpi lines, bands in a row, and the band output
// buffer that grows instead of being overrun.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "band_compress.h"
#include "encoder_util.h"
#include "jbig_span.h"
#include "test_images.h"

using namespace jbigtest;
using Bytes = std::vector<uint8_t>;

namespace {

int g_allocsLeft = 0;
void* failing_alloc(size_t n) {
  if (g_allocsLeft-- <= 0) return nullptr;
  return std::malloc(n);
}

struct AdapterTest : testing::Test {
  void SetUp() override {
    bandWideLines = false;
    band_output_free();
  }
  void TearDown() override {
    bandWideLines = false;
    band_output_free();
  }
  static JbigBih bih(int64_t w, int64_t h, int64_t l0) {
    JbigBih b{};
    b.P = 1;
    b.ParamImgWidth = w;
    b.ParamImgHeight = h;
    b.ParamL0 = l0;
    b.Order = 3;
    b.Options = 0x5C;
    return b;
  }
  static Bytes collected() { return Bytes(bandOutputBuffer, bandOutputBuffer + bandOutputLength); }
  static int count_sdnorm(const Bytes& b) {
    int n = 0;
    for (size_t i = 0; i + 1 < b.size(); ++i) {
      if (b[i] == 0xFF) {
        if (b[i + 1] == 0x02) ++n;
        ++i;
      }
    }
    return n;
  }
  // compressBand with its standard error captured.
  static int run(const uint8_t* data, JbigBih b, std::string* err) {
    testing::internal::CaptureStderr();
    const int r = compressBand(data, b);
    *err = testing::internal::GetCapturedStderr();
    return r;
  }
};

}  // namespace

TEST_F(AdapterTest, OneStripeBand) {
  const Bitmap band = text_page(1024, 256, 21);
  ASSERT_TRUE(band_output_allocate(2 * band.bits.size()));
  std::string err;
  ASSERT_EQ(run(band.bits.data(), bih(1024, 256, 256), &err), 1);
  EXPECT_EQ(err, "");
  const Bytes got = collected();
  EXPECT_EQ(got, encode(band, 256));
  EXPECT_EQ(count_sdnorm(got), 1);
  EXPECT_EQ(got[got.size() - 2], 0xFF);
  EXPECT_EQ(got.back(), 0x02);
}

TEST_F(AdapterTest, ThreeStripesInABand) {
  const Bitmap band = photo_page(512, 256, 22);
  ASSERT_TRUE(band_output_allocate(2 * band.bits.size()));
  std::string err;
  ASSERT_EQ(run(band.bits.data(), bih(512, 256, 100), &err), 1);
  const Bytes got = collected();
  EXPECT_EQ(count_sdnorm(got), 3);
  EXPECT_EQ(got, encode(band, 100));
}

TEST_F(AdapterTest, ParameterMessages) {
  const uint8_t data[64] = {};
  ASSERT_TRUE(band_output_allocate(128));
  std::string err;
  EXPECT_EQ(run(data, bih(64, 0, 256), &err), 0);
  EXPECT_EQ(err,
            "JbigBih param invalid JbigBih.ParamImgWidth:64,JbigBih.ParamImgHeight:0,"
            "JbigBih.ParamL0:256\n");
  EXPECT_EQ(bandOutputLength, 0u);
  EXPECT_EQ(run(data, bih(0, 8, 8), &err), 0);
  EXPECT_EQ(err,
            "JbigBih param invalid JbigBih.ParamImgWidth:0,JbigBih.ParamImgHeight:8,"
            "JbigBih.ParamL0:8\n");
  EXPECT_EQ(run(data, bih(64, 8, 0), &err), 0);
  EXPECT_EQ(err,
            "JbigBih param invalid JbigBih.ParamImgWidth:64,JbigBih.ParamImgHeight:8,"
            "JbigBih.ParamL0:0\n");
  // Values the encoder cannot take get the same message, never the encoder.
  EXPECT_EQ(run(data, bih(-64, 8, 8), &err), 0);
  EXPECT_NE(err.find("param invalid"), std::string::npos);
  EXPECT_EQ(run(data, bih(60, 8, 8), &err), 0);
  EXPECT_NE(err.find("param invalid"), std::string::npos);
  EXPECT_EQ(run(data, bih(64, int64_t{1} << 40, 8), &err), 0);
  EXPECT_NE(err.find("param invalid"), std::string::npos);
  EXPECT_EQ(run(nullptr, bih(64, 8, 8), &err), 0);
  EXPECT_EQ(err, "pKPlaneData is NULL\n");
  EXPECT_EQ(bandOutputLength, 0u);
}

TEST_F(AdapterTest, WidenedLinesForModelListAAt1200Dpi) {
  const Bitmap wide = text_page(9600, 64, 23);  // 64 lines of 2 x 4800 pixels
  ASSERT_TRUE(band_output_allocate(2 * wide.bits.size()));
  bandWideLines = true;
  std::string err;
  ASSERT_EQ(run(wide.bits.data(), bih(4800, 64, 64), &err), 1);
  EXPECT_EQ(err, "jbig在1200dpi时宽度*2 JbigBih.ParamImgWidth:4800\n");
  EXPECT_EQ(collected(), encode(wide, 64));

  // Any other model: the same parameters code 4800-pixel lines.
  bandWideLines = false;
  bandOutputLength = 0;
  ASSERT_EQ(run(wide.bits.data(), bih(4800, 64, 64), &err), 1);
  EXPECT_EQ(err, "");
  Capture cap;
  ASSERT_TRUE(encode_into(cap, 4800, 64, 64, wide.bits.data()));
  EXPECT_EQ(collected(), cap.bytes());
}

TEST_F(AdapterTest, TwoBandsInARow) {
  const Bitmap page = mixed_page(1024, 512, 24);
  ASSERT_TRUE(band_output_allocate(2 * 1024 / 8 * 256));
  std::string err;
  ASSERT_EQ(run(page.line(0), bih(1024, 256, 256), &err), 1);
  Capture first;
  ASSERT_TRUE(encode_into(first, 1024, 256, 256, page.line(0)));
  EXPECT_EQ(collected(), first.bytes());
  bandOutputLength = 0;
  ASSERT_EQ(run(page.line(256), bih(1024, 256, 256), &err), 1);
  Capture second;
  ASSERT_TRUE(encode_into(second, 1024, 256, 256, page.line(256)));
  EXPECT_EQ(collected(), second.bytes());
}

TEST_F(AdapterTest, BandsAreAppendedUntilTheCallerResets) {
  const Bitmap a = random_bitmap(64, 16, 0.3, 25);
  ASSERT_TRUE(band_output_allocate(2 * a.bits.size()));
  std::string err;
  ASSERT_EQ(run(a.bits.data(), bih(64, 16, 16), &err), 1);
  ASSERT_EQ(run(a.bits.data(), bih(64, 16, 16), &err), 1);
  Bytes twice = encode(a, 16);
  const size_t one = twice.size();
  twice.insert(twice.end(), twice.begin(), twice.begin() + static_cast<long>(one));
  EXPECT_EQ(collected(), twice);
}

// The mended overrun: compressed data larger than twice the raw band.
TEST_F(AdapterTest, TinyBandLargerThanItsBufferIsCollectedWhole) {
  const uint8_t line[1] = {0xA5};
  ASSERT_TRUE(band_output_allocate(2));  // twice the raw 8 x 1 band
  std::string err;
  ASSERT_EQ(run(line, bih(8, 1, 1), &err), 1);
  Capture cap;
  ASSERT_TRUE(encode_into(cap, 8, 1, 1, line));
  EXPECT_GT(cap.bytes().size(), 2u);  // about 5 times the raw byte
  EXPECT_EQ(collected(), cap.bytes());
  EXPECT_GE(bandOutputCapacity, bandOutputLength);
}

TEST_F(AdapterTest, OneLineStripesLargerThanTheirBufferAreCollectedWhole) {
  const Bitmap band = random_bitmap(8, 515, 0.5, 26);
  ASSERT_TRUE(band_output_allocate(2 * band.bits.size()));
  std::string err;
  ASSERT_EQ(run(band.bits.data(), bih(8, 515, 1), &err), 1);
  const Bytes expected = encode(band, 1);
  EXPECT_GT(expected.size(), 2 * band.bits.size());  // about 3 times the raw band
  EXPECT_EQ(collected(), expected);
  EXPECT_EQ(count_sdnorm(collected()), 515);
}

TEST_F(AdapterTest, WithoutABufferTheFirstBandAllocatesOne) {
  const Bitmap band = random_bitmap(128, 40, 0.2, 27);
  ASSERT_EQ(bandOutputBuffer, nullptr);
  std::string err;
  ASSERT_EQ(run(band.bits.data(), bih(128, 40, 40), &err), 1);
  ASSERT_NE(bandOutputBuffer, nullptr);
  EXPECT_EQ(collected(), encode(band, 40));
}

TEST_F(AdapterTest, GrownBufferStaysZeroFilledPastTheData) {
  const Bitmap band = random_bitmap(256, 64, 0.5, 28);
  ASSERT_TRUE(band_output_allocate(16));
  std::string err;
  ASSERT_EQ(run(band.bits.data(), bih(256, 64, 64), &err), 1);
  for (size_t i = bandOutputLength; i < bandOutputCapacity; ++i) ASSERT_EQ(bandOutputBuffer[i], 0);
}

TEST_F(AdapterTest, StripeHeightBeyondTheBandIsOneStripe) {
  const Bitmap band = random_bitmap(64, 88, 0.2, 29);
  std::string err;
  ASSERT_EQ(run(band.bits.data(), bih(64, 88, int64_t{1} << 40), &err), 1);
  EXPECT_EQ(collected(), encode(band, 88));
}

TEST_F(AdapterTest, EncoderFailureIsReported) {
  const Bitmap band = random_bitmap(64, 16, 0.3, 30);
  ASSERT_TRUE(band_output_allocate(256));
  g_allocsLeft = 0;
  tesvel_jbig::g_spanAlloc = failing_alloc;
  std::string err;
  EXPECT_EQ(run(band.bits.data(), bih(64, 16, 16), &err), 0);
  tesvel_jbig::g_spanAlloc = std::malloc;
  EXPECT_EQ(err, "one band data compress fail\n");
}

// compressBands against compressBand band after band, as the band-mode page
// path sends a page: bytes, band sizes and messages, with the last band full,
// one line short, one line long, and the widened 1200-dpi lines.
TEST_F(AdapterTest, APageCodedAtOnceIsItsBandsOneByOneAtOneTwoAndFourThreads) {
  struct Case {
    int width;  // pixels per coded line
    int lines;
    bool wide;
  };
  for (const Case c : {Case{1024, 3 * 64, false}, Case{1024, 3 * 64 - 1, false},
                       Case{512, 3 * 64 + 1, false}, Case{2048, 2 * 64 + 7, true}}) {
    // (mixed_page wants 1024 pixels or more)
    const Bitmap page = c.width < 1024 ? text_page(c.width, c.lines, 31) : mixed_page(c.width, c.lines, 31);
    const int64_t paramWidth = c.wide ? c.width / 2 : c.width;
    bandWideLines = c.wide;
    // One by one.
    Bytes expected;
    std::vector<uint32_t> expectedSizes;
    std::string expectedErr;
    for (int y = 0; y < c.lines; y += 64) {
      const int lines = c.lines - y < 64 ? c.lines - y : 64;
      bandOutputLength = 0;
      std::string err;
      ASSERT_EQ(run(page.line(y), bih(paramWidth, lines, lines), &err), 1);
      expectedErr += err;
      expectedSizes.push_back(bandOutputLength);
      const Bytes band = collected();
      expected.insert(expected.end(), band.begin(), band.end());
    }
    for (int threads : {1, 2, 4}) {
      SCOPED_TRACE(std::to_string(c.lines) + " lines, " + std::to_string(threads) + " threads");
      tesvel_jbig_set_threads(threads);
      band_output_free();
      std::vector<uint32_t> sizes(expectedSizes.size() + 1, 99);
      testing::internal::CaptureStderr();
      ASSERT_EQ(compressBands(page.bits.data(), bih(paramWidth, c.lines, 64), sizes.data()), 1);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), expectedErr);
      EXPECT_EQ(collected(), expected);
      sizes.pop_back();
      EXPECT_EQ(sizes, expectedSizes);
    }
    tesvel_jbig_set_threads(0);
  }
}
