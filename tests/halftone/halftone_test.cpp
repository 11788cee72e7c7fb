// HalftoneDither: the printer's worked values, the screen and debug line
// per model, and random pages against a plain per-pixel reference.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "halftone.h"
#include "job_state.h"
#include "model_classes.h"
#include "screen_tables.h"

namespace {

using rf::g_job;
using rf::HalftoneDither;

const char kTxgNote[] = "DEBUG: EXTERNAL IMPORT NEW_HALFTONE\n";
const char kBuiltInNote[] = "DEBUG: NO NEED TO EXTERNAL IMPORT NEW_HALFTONE\n";
const char kTxgModel[] = "Tesvel TXG Series";

// The job state fresh, the CUPS log in a temporary file.
class HalftoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rf::resetJobState();
    log_ = std::tmpfile();
    ASSERT_NE(log_, nullptr);
    g_job.diagFd = fileno(log_);
  }
  void TearDown() override {
    rf::resetJobState();
    std::fclose(log_);
  }
  std::string log() const {
    std::string text;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = pread(fileno(log_), buf, sizeof buf, at)) > 0) {
      text.append(buf, static_cast<size_t>(n));
      at += n;
    }
    return text;
  }
  static void set_model(const char* name) {
    std::snprintf(g_job.modelName, sizeof g_job.modelName, "%s", name);
  }

 private:
  std::FILE* log_ = nullptr;
};

// One way the page path calls HalftoneDither, and the screen the printer
// expects for it.
struct Config {
  const char* label;
  int modelClass;
  int dpi1200;
  const char* model;
  const uint8_t* screen;
  int tile;
  bool fourLevel;
};

const Config kConfigs[] = {
    {"C", rf::PLATFORM_C, 0, "any", &rf::ScreenTable16A[0][0], 16, false},
    {"C 1200", rf::PLATFORM_C, 1, "any", &rf::ScreenTable28[0][0], 28, false},
    {"C TXG", rf::PLATFORM_C, 0, kTxgModel, &rf::ScreenTable16A[0][0], 16, false},
    {"Z", rf::PLATFORM_Z, 0, "any", &rf::ScreenTable16A[0][0], 16, false},
    {"Z 1200", rf::PLATFORM_Z, 1, "any", &rf::ScreenTable16B[0][0], 16, false},
    {"Z TXG", rf::PLATFORM_Z, 0, kTxgModel, &rf::ScreenTable96A[0][0], 96, false},
    {"Z TXG 1200", rf::PLATFORM_Z, 2, "Tesvel TXG Series 2", &rf::ScreenTable96B[0][0], 96, false},
    {"M", rf::PLATFORM_M, 0, "any", &rf::ScreenTable16A[0][0], 16, false},
    {"M DPI1200 2", rf::PLATFORM_M, 2, "any", &rf::ScreenTable16A[0][0], 16, false},
    {"M four-level", rf::PLATFORM_M, 1, "any", &rf::ScreenTable16A[0][0], 16, true},
};

void PrintTo(const Config& cfg, std::ostream* os) { *os << cfg.label; }

struct Result {
  std::vector<uint8_t> bytes;
  uint64_t dots = 0;
};

// The page as the printer expects it, pixel by pixel: threshold from the
// tile position by division, bits pushed one at a time; with negative, a
// byte is complemented when its eighth pixel is in.
Result reference(const Config& cfg, const std::vector<uint8_t>& grey, unsigned width, int lines,
                 bool negative) {
  const unsigned bits = cfg.fourLevel ? 2 : 1;
  Result r;
  unsigned acc = 0, filled = 0;
  for (int k = 0; k < lines; ++k) {
    for (unsigned j = 0; j < width; ++j) {
      const int g = grey[static_cast<size_t>(k) * width + j];
      const int t = cfg.screen[(k % cfg.tile) * cfg.tile + j % cfg.tile];
      unsigned value;
      if (cfg.fourLevel) {
        value = g == 0 ? rf::LevelMap[255] : rf::LevelMap[std::max(0, 255 - g - t)];
        if (negative) value = 3 - value;
      } else {
        value = g < t ? 1 : 0;
        if (cfg.modelClass != rf::PLATFORM_M) r.dots += negative ? 1 - value : value;
      }
      acc = (acc << bits) | value;
      filled += bits;
      if (filled == 8) {
        if (negative && !cfg.fourLevel) acc ^= 0xFF;
        r.bytes.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        filled = 0;
      }
    }
  }
  if (filled != 0) {
    // A last partial byte is inverted as well (its unused bits stay 0).
    if (negative && !cfg.fourLevel) acc ^= (1u << filled) - 1;
    r.bytes.push_back(static_cast<uint8_t>(acc << (8 - filled)));
  }
  return r;
}

// Greys that hit the edge cases more often than uniform noise would: 0,
// 255, and values next to the screen's thresholds.
std::vector<uint8_t> random_page(std::mt19937& rng, const Config& cfg, unsigned width, int lines) {
  std::vector<uint8_t> grey(static_cast<size_t>(width) * lines);
  std::uniform_int_distribution<int> any(0, 255), pick(0, 9), nudge(-1, 1);
  for (size_t i = 0; i < grey.size(); ++i) {
    const int t = cfg.screen[any(rng) % (cfg.tile * cfg.tile)];
    switch (pick(rng)) {
      case 0: grey[i] = 0; break;
      case 1: grey[i] = 255; break;
      case 2: case 3: grey[i] = static_cast<uint8_t>(std::clamp(t + nudge(rng), 0, 255)); break;
      default: grey[i] = static_cast<uint8_t>(any(rng));
    }
  }
  return grey;
}

Result run(const Config& cfg, const std::vector<uint8_t>& grey, unsigned width, int lines,
           bool negative) {
  std::snprintf(g_job.modelName, sizeof g_job.modelName, "%s", cfg.model);
  const size_t size = rf::mono_page_bytes(width, lines, cfg.fourLevel);
  // Exactly the page's bytes: the sanitizers catch a write past them.
  std::vector<uint8_t> out(size);
  uint8_t spare = 0x5A;  // stands in for an empty page's buffer
  const uint64_t before = g_job.dotCount;
  const int ok = HalftoneDither(grey.empty() ? &spare : grey.data(), width, lines,
                                out.empty() ? &spare : out.data(), width, negative ? 1 : 0,
                                cfg.dpi1200, cfg.modelClass);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(spare, 0x5A);
  return Result{out, g_job.dotCount - before};
}

class HalftoneConfigTest : public HalftoneTest, public ::testing::WithParamInterface<Config> {};

TEST_P(HalftoneConfigTest, RandomPagesOfOddSizesMatchThePlainReference) {
  const Config& cfg = GetParam();
  std::mt19937 rng(1234 + cfg.modelClass * 10 + cfg.dpi1200);
  const struct {
    unsigned width;
    int lines;
  } sizes[] = {{8, 1},   {16, 3},  {24, 29},  {40, 17}, {96, 100}, {104, 97}, {200, 33},
               {216, 5}, {1, 1},   {3, 7},    {13, 30}, {27, 29},  {101, 5},  {4, 9},
               {12, 13}, {340, 2}, {0, 5},    {16, 0}};
  for (const auto& s : sizes) {
    for (bool negative : {false, true}) {
      const std::vector<uint8_t> grey = random_page(rng, cfg, s.width, s.lines);
      const Result want = reference(cfg, grey, s.width, s.lines, negative);
      const Result got = run(cfg, grey, s.width, s.lines, negative);
      EXPECT_EQ(got.bytes, want.bytes) << s.width << " x " << s.lines << " negative " << negative;
      EXPECT_EQ(got.dots, want.dots) << s.width << " x " << s.lines << " negative " << negative;
    }
  }
}

// Each pixel just below its own threshold prints black, at it white (in
// four levels: 64 below 255 - threshold is level 3, above it level 0).
// Only the right screen, at the right tile position on every line and
// column, wrapping past the tile's end, gives a solid page.
TEST_P(HalftoneConfigTest, GreyAtEachThresholdsEdgeGivesASolidPage) {
  const Config& cfg = GetParam();
  const unsigned width = 2 * cfg.tile + 8;
  const int lines = 2 * cfg.tile + 1;
  for (bool black : {true, false}) {
    std::vector<uint8_t> grey(static_cast<size_t>(width) * lines);
    for (int k = 0; k < lines; ++k) {
      for (unsigned j = 0; j < width; ++j) {
        const int t = cfg.screen[(k % cfg.tile) * cfg.tile + j % cfg.tile];
        const int g = cfg.fourLevel ? (black ? std::max(0, 191 - t) : 256 - t) : (black ? t - 1 : t);
        grey[k * width + j] = static_cast<uint8_t>(g);
      }
    }
    const Result got = run(cfg, grey, width, lines, false);
    const uint8_t solid = black ? 0xFF : 0x00;
    for (size_t i = 0; i < got.bytes.size(); ++i) {
      ASSERT_EQ(got.bytes[i], solid) << cfg.label << " byte " << i;
    }
  }
}

TEST_P(HalftoneConfigTest, GreyZeroIsBlackAndGrey255IsWhite) {
  const Config& cfg = GetParam();
  for (bool negative : {false, true}) {
    for (int grey : {0, 255}) {
      const std::vector<uint8_t> page(200 * 40, static_cast<uint8_t>(grey));
      const Result got = run(cfg, page, 200, 40, negative);
      // Black is all ones in both modes (level 3 is 11); negative swaps.
      const uint8_t expected = (grey == 0) != negative ? 0xFF : 0x00;
      for (size_t i = 0; i < got.bytes.size(); ++i) ASSERT_EQ(got.bytes[i], expected) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, HalftoneConfigTest, ::testing::ValuesIn(kConfigs),
                         [](const ::testing::TestParamInfo<Config>& info) {
                           std::string name = info.param.label;
                           for (char& c : name) {
                             if (c == ' ' || c == '-') c = '_';
                           }
                           return name;
                         });

TEST_F(HalftoneTest, PrintersWorkedValues) {
  const struct {
    const char* label;
    int modelClass, dpi1200, negative;
    std::vector<uint8_t> grey;  // one line
    uint8_t firstByte;
    uint64_t dots;
  } cases[] = {
      // ScreenTable16A row 0 starts 6 82 233 254 251 226 70 5.
      {"grey 128", rf::PLATFORM_Z, 0, 0, std::vector<uint8_t>(8, 128), 0x3C, 4},
      {"grey 128 negative", rf::PLATFORM_Z, 0, 1, std::vector<uint8_t>(8, 128), 0xC3, 4},
      // Four levels: 200 over threshold 6 is LevelMap[49] = 2, 255 over 82
      // is 0, 0 is 3 whatever the threshold (233), 255 over 254 is 0.
      {"four levels", rf::PLATFORM_M, 1, 0, {200, 255, 0, 255}, 0x8C, 0},
      {"four levels negative", rf::PLATFORM_M, 1, 1, {200, 255, 0, 255}, 0x73, 0},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> out(2, 0);
    g_job.dotCount = 100;
    ASSERT_EQ(HalftoneDither(c.grey.data(), static_cast<unsigned>(c.grey.size()), 1, out.data(),
                             8, c.negative, c.dpi1200, c.modelClass), 1);
    EXPECT_EQ(out[0], c.firstByte) << c.label;
    EXPECT_EQ(g_job.dotCount, 100 + c.dots) << c.label;
  }
}

TEST_F(HalftoneTest, ANegativePagesLastPartialByteIsInvertedInItsPixelsOnly) {
  const std::vector<uint8_t> white(3, 255);
  uint8_t out[1] = {0};
  ASSERT_EQ(HalftoneDither(white.data(), 3, 1, out, 3, 1, 0, rf::PLATFORM_Z), 1);
  EXPECT_EQ(out[0], 0xE0);
  EXPECT_EQ(g_job.dotCount, 3u);
}

TEST_F(HalftoneTest, DebugLineNamesTheScreenAndComesBeforeTheBufferCheck) {
  const uint8_t grey[8] = {0};
  uint8_t out[1];
  const struct {
    const char* model;
    int modelClass;
    const uint8_t* in;
    uint8_t* out;
    int result;
    const char* line;
  } cases[] = {
      {kTxgModel, rf::PLATFORM_Z, grey, out, 1, kTxgNote},
      {"Tesvel TXG Series Plus", rf::PLATFORM_Z, grey, out, 1, kTxgNote},
      {"Tesvel TXG Serie", rf::PLATFORM_Z, grey, out, 1, kBuiltInNote},
      {kTxgModel, rf::PLATFORM_C, grey, out, 1, kBuiltInNote},
      {kTxgModel, rf::PLATFORM_M, grey, out, 1, kBuiltInNote},
      {"Tesvel Other", rf::PLATFORM_Z, grey, out, 1, kBuiltInNote},
      {kTxgModel, rf::PLATFORM_Z, grey, nullptr, 0, kTxgNote},
      {"Tesvel Other", rf::PLATFORM_C, nullptr, out, 0, kBuiltInNote},
      {"Tesvel Other", rf::MODEL_NONE, grey, out, 0, kBuiltInNote},
      {"Tesvel Other", 7, grey, out, 0, kBuiltInNote},
  };
  std::string expected_log;
  for (const auto& c : cases) {
    set_model(c.model);
    out[0] = 0x5A;
    EXPECT_EQ(HalftoneDither(c.in, 8, 1, c.out, 8, 0, 0, c.modelClass), c.result) << c.model;
    if (c.result == 0) {
      EXPECT_EQ(out[0], 0x5A) << "nothing converted for " << c.model;
    }
    expected_log += c.line;
  }
  EXPECT_EQ(log(), expected_log);
  EXPECT_EQ(g_job.dotCount, 5u * 8u) << "only the converted C and Z pages count";
}

TEST_F(HalftoneTest, OutputBufferSizeCountsEveryPixelWithoutWrapping) {
  EXPECT_EQ(rf::mono_page_bytes(3, 3, false), 2u);
  EXPECT_EQ(rf::mono_page_bytes(3, 3, true), 3u);
  EXPECT_EQ(rf::mono_page_bytes(100, -4, true), 0u);
  EXPECT_EQ(rf::mono_page_bytes(0xFFFFFFF8u, 16, true), size_t{0xFFFFFFF8u} * 4u);
}

}  // namespace
