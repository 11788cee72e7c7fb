// The prndecode program: arguments, exit status, messages, page files.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>

#include "test_support.h"
#include "test_util.h"

using namespace prntest;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::runProcess;
using testing_support::TempDir;

namespace {

Page page(Bitmap b, int number) {
  Page p;
  p.bitmap = std::move(b);
  p.number = number;
  return p;
}

std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

ProcessResult run(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv = {PRNDECODE_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions opt;
  opt.stdinData = input;
  opt.stdinFromDevNull = input.empty();
  return runProcess(argv, opt);
}

struct Png {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> grey;
};

Png read_png(const std::string& path) {
  Png out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_GRAY;
  out.grey.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, out.grey.data(), 0, nullptr)) {
    out.width = image.width;
    out.height = image.height;
  }
  return out;
}

}  // namespace

TEST(Cli, ListsAStreamOneLinePerItem) {
  TempDir dir;
  std::string file = dir.file("job.prn");
  testing_support::writeFile(file, str(z_job({page(test_bitmap(64, 300, 1), 1)})));
  ProcessResult r = run({file});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.rfind("stream file=" + file + " size=", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(" dialect=PLATFORM_Z\npjl offset=0 length=15 text=\"\\x1b%-12345X@PJL\\r\\n\"\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\ncmdBandHeader offset="), std::string::npos);
  EXPECT_NE(r.out.find("\nsummary pages=1 filler_pairs=8 violations=0\n"), std::string::npos) << r.out;
}

TEST(Cli, CheckSaysOkForACleanStreamReadFromStandardInput) {
  ProcessResult r = run({"--check", "-"}, str(c_job({page(test_bitmap(64, 40, 2), 1)})));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "check ok dialect=PLATFORM_C pages=1\n");
  EXPECT_EQ(r.err, "");
}

TEST(Cli, CheckFailsWithTheOffsetAndAPlainMessage) {
  Bytes c = c_job({page(test_bitmap(64, 40, 3), 1)});
  size_t spec = offset_of(inspect_bytes(c).report, "cmdPageSpec");
  c[spec + 17] ^= 1;
  TempDir dir;
  std::string file = dir.file("bad.prn");
  testing_support::writeFile(file, str(c));
  ProcessResult r = run({"--check", file});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "prndecode: " + file + ": offset " + std::to_string(spec) +
                       ": cmdPageSpec bytes sum to 0xff, not 0 (checksum byte 0x4c, expected 0x4d)\n");
  // The listing goes on past the violation, and the status is still 1.
  ProcessResult list = run({file});
  EXPECT_EQ(list.exitStatus, 1);
  EXPECT_EQ(list.err, r.err);
  EXPECT_NE(list.out.find("\nformFeedCmd offset="), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("summary pages=1 filler_pairs=13 violations=1"), std::string::npos) << list.out;
}

TEST(Cli, JsonCarriesItemsAndEveryViolation) {
  Bytes m = m_job({page(test_bitmap(64, 40, 4), 1)});
  m[13 + 16 + 1] = 99;  // toner value 0 is 99
  ProcessResult r = run({"--json", "-"}, str(m));
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out.rfind("{\"file\":\"-\",\"size\":", 0), 0u);
  EXPECT_NE(r.out.find("\"dialect\":\"PLATFORM_M\""), std::string::npos);
  EXPECT_NE(r.out.find("{\"name\":\"JZJZ\",\"offset\":9}"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"options\":92"), std::string::npos);
  EXPECT_NE(r.out.find("{\"offset\":13,\"message\":\"TONER_PARAM value 0 is 99, expected 0\"}"), std::string::npos);
  EXPECT_NE(r.out.find("\"fatal\":false,\"ok\":false}"), std::string::npos);
}

TEST(Cli, BadInputEndsWithAMessageAndStatusOne) {
  TempDir dir;
  std::string file = dir.file("junk");
  testing_support::writeFile(file, "\x01\x02garbage");
  ProcessResult r = run({file});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find(": offset 0: not a printer stream of a known dialect"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\nerror offset=0 message=\"not a printer stream"), std::string::npos) << r.out;

  Bytes z = z_job({page(test_bitmap(64, 40, 5), 1)});
  z.resize(z.size() - 30);
  ProcessResult cut = run({"-"}, str(z));
  EXPECT_EQ(cut.exitStatus, 1);
}

TEST(Cli, WrongArgumentsAndMissingFilesGiveStatusTwo) {
  EXPECT_EQ(run({}).exitStatus, 2);
  EXPECT_EQ(run({"--frobnicate", "x"}).exitStatus, 2);
  EXPECT_EQ(run({"--dialect", "Q", "x"}).exitStatus, 2);
  ProcessResult missing = run({"/nonexistent/job.prn"});
  EXPECT_EQ(missing.exitStatus, 2);
  EXPECT_NE(missing.err.find("cannot open /nonexistent/job.prn"), std::string::npos);
}

TEST(Cli, WritesEachPageAsPbmAndAScaledPng) {
  TempDir dir;
  Bitmap a = test_bitmap(400, 2500, 6), b = test_bitmap(64, 50, 7);
  ProcessResult r = run({"--check", "-o", dir.file("out"), "-"}, str(c_job({page(a, 1), page(b, 2)})));
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::string pbm = testing_support::readFile(dir.file("out/page-001.pbm"));
  std::string header = "P4\n400 2500\n";
  ASSERT_EQ(pbm.size(), header.size() + a.bits.size());
  EXPECT_EQ(pbm.substr(0, header.size()), header);
  EXPECT_EQ(std::memcmp(a.bits.data(), pbm.data() + header.size(), a.bits.size()), 0);
  Png png = read_png(dir.file("out/page-001.png"));
  EXPECT_EQ(png.height, 834u);  // 2500 lines reduced by 3
  EXPECT_EQ(png.width, 134u);
  Png small = read_png(dir.file("out/page-002.png"));
  EXPECT_EQ(small.width, 64u);
  EXPECT_EQ(small.height, 50u);
  for (uint32_t x = 0; x < 64; ++x) {
    bool black = (b.bits[10 * 8 + x / 8] >> (7 - x % 8)) & 1;
    ASSERT_EQ(small.grey[10 * 64 + x], black ? 0 : 255) << "pixel " << x;
  }
}

TEST(Cli, WritesTwoBitPagesAsPgmWithFourLevels) {
  TempDir dir;
  Page p = page(test_bitmap(2 * 48, 30, 8), 1);
  p.depth = 2;
  ProcessResult r = run({"-o", dir.path(), "-"}, str(m_job({p})));
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::string pgm = testing_support::readFile(dir.file("page-001.pgm"));
  std::string header = "P5\n48 30\n3\n";
  ASSERT_EQ(pgm.size(), header.size() + 48 * 30);
  EXPECT_EQ(pgm.substr(0, header.size()), header);
  for (uint32_t x = 0; x < 48; ++x) {
    unsigned level = (p.bitmap.bits[7 * p.bitmap.row_bytes() + x / 4] >> (6 - 2 * (x % 4))) & 3;
    ASSERT_EQ(uint8_t(pgm[header.size() + 7 * 48 + x]), 3 - level) << "pixel " << x;
  }
  EXPECT_EQ(read_png(dir.file("page-001.png")).width, 48u);
}

TEST(Cli, AGivenDialectReadsAPageSequence) {
  Bytes pages = z_page(page(test_bitmap(64, 20, 9), 1), {});
  ProcessResult r = run({"--check", "--dialect", "Z", "-"}, str(pages));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "check ok dialect=PLATFORM_Z pages=1\n");
}
