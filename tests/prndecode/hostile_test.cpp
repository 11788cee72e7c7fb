// Bad input: every truncation, random damage, garbage and huge announced
// sizes.  The inspector must report, never crash (these tests run under
// ASan and UBSan in CI), and never allocate what only the header claims.
#include <gtest/gtest.h>

#include "jbig_page.h"
#include "test_util.h"

using namespace prntest;

namespace {

Page page(Bitmap b, int number) {
  Page p;
  p.bitmap = std::move(b);
  p.number = number;
  return p;
}

std::vector<Bytes> small_jobs() {
  return {c_job({page(test_bitmap(64, 20, 1), 1), page(test_bitmap(32, 9, 2), 2)}),
          z_job({page(test_bitmap(64, 300, 3), 1)}), m_job({page(test_bitmap(64, 20, 4), 1)})};
}

uint32_t next_random(uint32_t& s) {
  s = s * 1664525u + 1013904223u;
  return s >> 8;
}

Bytes chunk(uint32_t length, uint32_t type, const Bytes& body = {}) {
  Bytes b;
  put_be32(b, length);
  put_be32(b, type);
  put_be32(b, 0);
  put(b, {0, 0, 0x5A, 0x5A});
  put(b, body);
  return b;
}

Bytes m_start() {
  Bytes m = m_job({});
  return Bytes(m.begin(), m.begin() + 153);  // UEL, JZJZ, TONER_PARAM, START_DOC_CMD
}

}  // namespace

TEST(Hostile, EveryTruncationOfAJobIsReported) {
  for (const Bytes& job : small_jobs()) {
    for (size_t n = 0; n < job.size(); ++n) {
      Bytes cut(job.begin(), job.begin() + ptrdiff_t(n));
      Decoded d = inspect_bytes(cut);
      ASSERT_FALSE(d.report.violations.empty()) << "prefix of " << n << " of " << job.size() << " bytes";
      EXPECT_LE(d.report.violations.front().offset, n);
    }
  }
}

TEST(Hostile, RandomlyDamagedJobsNeverCrashTheInspector) {
  uint32_t state = 12345;
  for (const Bytes& job : small_jobs()) {
    for (int round = 0; round < 1500; ++round) {
      Bytes bad = job;
      int flips = 1 + int(next_random(state) % 4);
      for (int i = 0; i < flips; ++i) bad[next_random(state) % bad.size()] = uint8_t(next_random(state));
      if (round % 3 == 0) bad.resize(next_random(state) % bad.size());
      Decoded d = inspect_bytes(bad);
      for (const auto& v : d.report.violations) ASSERT_LE(v.offset, bad.size());
    }
  }
}

TEST(Hostile, GarbageIsNotTakenForAStream) {
  uint32_t state = 99;
  Bytes noise(5000);
  for (uint8_t& b : noise) b = uint8_t(next_random(state));
  for (const Bytes& junk : {noise, Bytes(100, 0x00), Bytes(100, 0xFF), Bytes(100, 0x0B), Bytes{}, Bytes{'J', 'Z', 'J', 'Z'}}) {
    Decoded d = inspect_bytes(junk);
    EXPECT_FALSE(d.report.violations.empty());
    EXPECT_TRUE(d.pages.empty());
  }
  Decoded empty = inspect_bytes({});
  EXPECT_EQ(empty.report.violations.front().message, "empty file");
  Decoded text = inspect_bytes(Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  EXPECT_EQ(text.report.violations.front().message, "not a printer stream of a known dialect: it starts with \"hello\\n\"");
}

TEST(Hostile, LengthsPointingPastTheEndAreReportedNotFollowed) {
  Bytes m = m_start();
  put(m, chunk(0xFFFFFFF0u, 2));
  Decoded d = inspect_bytes(m);
  EXPECT_TRUE(d.report.fatal);
  EXPECT_EQ(d.report.violations.back().message, "chunk length 4294967280 runs past the end of the file (16 bytes left)");

  Bytes c = c_job({page(test_bitmap(64, 20, 5), 1)});
  size_t raster = offset_of(inspect_bytes(c).report, "cmdRasterImage");
  Bytes big(c.begin(), c.begin() + ptrdiff_t(raster));
  Bytes r = {0, 0x20};
  put_le16(r, 64);
  put_le16(r, 20);
  put_le16(r, 64);
  put_le16(r, 128);
  put_le32(r, 0xFFFFFFFFu);
  put(big, record(0x0C, r));
  put(big, {0xFF, 0x02});
  Decoded dc = inspect_bytes(big);
  EXPECT_TRUE(dc.report.fatal);
  EXPECT_NE(dc.report.violations.back().message.find("cmdRasterImage dataSize 4294967295 runs past the end of the file"),
            std::string::npos);
}

TEST(Hostile, HugeAnnouncedImagesAreNotAllocated) {
  struct Case {
    uint32_t xd, yd;
    int markers;
    const char* message;
  };
  const Case cases[] = {
      {100000, 100000, 400, "image of 100000 x 100000 pixels is larger than prndecode decodes"},
      {0xFFFFFFFFu, 1, 1, "image of 4294967295 x 1 pixels is larger than prndecode decodes"},
      {20000, 20000, 2, "image data ends after 2 of 79 stripes (20000 x 20000, 256 lines per stripe)"},
  };
  for (const Case& k : cases) {
    Page p = page(test_bitmap(64, 8, 6), 1);
    Bytes one = m_page(p);
    // Replace XD and YD in the JBIG_PARAM_CMD and the data by bare markers.
    Bytes m = m_start();
    Bytes start(one.begin(), one.begin() + 184);
    put(m, start);
    Bytes bih = {0, 0, 1, 0};
    put_be32(bih, k.xd);
    put_be32(bih, k.yd);
    put_be32(bih, 256);
    put(bih, {0, 0, 3, 0x5C});
    put(m, chunk(36, 4, bih));
    Bytes data;
    for (int i = 0; i < k.markers; ++i) put(data, {0xFF, 0x02});
    put(m, chunk(uint32_t(16 + data.size()), 5, data));
    put(m, chunk(16, 6));
    put(m, chunk(16, 3));
    put(m, chunk(16, 1));
    put_text(m, "\x1b%-12345X");
    Decoded d = inspect_bytes(m);
    bool found = false;
    for (const auto& v : d.report.violations) found = found || v.message == k.message;
    EXPECT_TRUE(found) << violations(d.report);
    EXPECT_TRUE(d.pages.empty());
  }
}

TEST(Hostile, AHugePlatformZPageOfTinyBandsIsRefused) {
  // 65535 x 65535 announced, each band tiny: the page is never allocated.
  Bytes z = z_prologue({});
  Bytes spec = {9, 0, 60, 60, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0};
  put(z, {0, 0});
  put(z, record(0x12, spec));
  put(z, {0, 0});
  put(z, record(0x13, Bytes(8, 0)));
  put(z, {0, 0});
  put(z, record(0x19, {0, 0, 0}));
  put(z, {0, 0});
  Bytes r = {0, 0x21};  // widened: 131070 pixels a line
  put_le16(r, 65535);
  put_le16(r, 65535);
  put_le16(r, 0);
  put_le16(r, 0);
  put_le32(r, 0);
  put(z, record(0x0C, r));
  Bytes h = {0x0B, 0x30, 0x1A, 0, 0, 1, 0};
  put_le32(h, 65535);
  put_le32(h, 256);
  put_le32(h, 256);
  put(h, {0, 0, 3, 0x58});
  put_le32(h, 2);
  put_le32(h, 2);
  put(h, {0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0});
  unsigned sum = 0;
  for (uint8_t b : h) sum += b;
  h.push_back(uint8_t(0x100 - (sum & 0xFF)));
  put(z, h);
  put(z, {0xFF, 0x02});
  Decoded d = inspect_bytes(z);
  EXPECT_FALSE(d.report.violations.empty());
  EXPECT_TRUE(d.pages.empty());
}
