// One fault at a time in otherwise clean streams: the first violation is
// the fault, at the offset of the record, chunk, line or data byte concerned.
#include <gtest/gtest.h>

#include "test_util.h"

using namespace prntest;

namespace {

Page page(Bitmap b, int number) {
  Page p;
  p.bitmap = std::move(b);
  p.number = number;
  return p;
}

Bytes two_page_c() { return c_job({page(test_bitmap(128, 300, 1), 1), page(test_bitmap(64, 40, 2), 2)}); }
Bytes two_page_z() { return z_job({page(test_bitmap(128, 300, 3), 1), page(test_bitmap(64, 40, 4), 2)}); }
Bytes two_page_m() { return m_job({page(test_bitmap(128, 300, 5), 1), page(test_bitmap(64, 40, 6), 2)}); }

// Offset of the nth listed item of that name in the clean stream.
size_t at(const Bytes& clean, const std::string& name, size_t nth = 0) {
  size_t off = offset_of(inspect_bytes(clean).report, name, nth);
  EXPECT_NE(off, size_t(-1)) << name;
  return off;
}

void fix_checksum(Bytes& b, size_t pos) {
  size_t len = b[pos + 1];
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < len; ++i) sum += b[pos + i];
  b[pos + len - 1] = uint8_t(0x100 - (sum & 0xFF));
}

void expect_first(const Bytes& bytes, size_t offset, const std::string& text, prndecode::Options opt = {}) {
  Decoded d = inspect_bytes(bytes, opt);
  ASSERT_FALSE(d.report.violations.empty()) << "no violation; expected \"" << text << "\" at " << offset;
  const prndecode::Violation& v = d.report.violations.front();
  EXPECT_EQ(v.offset, offset) << v.message;
  EXPECT_NE(v.message.find(text), std::string::npos) << "message: " << v.message << "\nall:\n" << violations(d.report);
}

Bytes erase(Bytes b, size_t pos, size_t n) {
  b.erase(b.begin() + ptrdiff_t(pos), b.begin() + ptrdiff_t(pos + n));
  return b;
}

Bytes insert(Bytes b, size_t pos, const Bytes& more) {
  b.insert(b.begin() + ptrdiff_t(pos), more.begin(), more.end());
  return b;
}

}  // namespace

TEST(Violations, AFlippedChecksumByteIsReportedAtItsRecord) {
  Bytes c = two_page_c();
  size_t spec = at(c, "cmdPageSpec", 1);
  c[spec + 17] ^= 0x01;
  expect_first(c, spec, "cmdPageSpec bytes sum to 0x01, not 0 (checksum byte 0x4d, expected 0x4c)");

  Bytes z = two_page_z();
  size_t job = at(z, "cmdJobSpec");
  z[job + 8] ^= 0x10;
  expect_first(z, job, "cmdJobSpec bytes sum to 0x10, not 0 (checksum byte 0xb8, expected 0xa8)");

  Bytes band = two_page_z();
  size_t header = at(band, "cmdBandHeader", 1);
  band[header + 47] ^= 0x80;
  expect_first(band, header, "cmdBandHeader bytes sum to 0x80");
}

TEST(Violations, AWrongChunkLengthIsReportedAtItsChunk) {
  Bytes m = two_page_m();
  size_t start = at(m, "START_PAGE_CMD", 1);
  m[start + 3] = 0xB9;  // 185 instead of 184
  expect_first(m, start, "START_PAGE_CMD chunk length 185, expected 184");

  Bytes e = two_page_m();
  size_t end = at(e, "END_PAGE_CMD");
  e[end + 3] = 0x20;
  expect_first(e, end, "END_PAGE_CMD chunk length 32, expected 16");
}

TEST(Violations, AChunkLengthThatMissesTheNextHeaderEndsAtTheMissingMark) {
  Bytes m = two_page_m();
  size_t data = at(m, "JBIG_DATA_CMD");
  m[data + 3] += 1;  // one byte too long: the next header starts a byte late
  size_t next = at(two_page_m(), "JBIG_END_CMD") + 1;
  expect_first(m, next, "missing 0x5A 0x5A mark at the end of the chunk header");
  Decoded d = inspect_bytes(m);
  EXPECT_TRUE(d.report.fatal);
  EXPECT_NE(d.report.violations.front().message.find("the chunk before, at offset " + std::to_string(data)),
            std::string::npos)
      << d.report.violations.front().message;
}

TEST(Violations, AMissingMarkIsReportedAtItsChunk) {
  Bytes m = two_page_m();
  size_t end = at(m, "END_PAGE_CMD");
  m[end + 15] = 0x5B;
  expect_first(m, end, "missing 0x5A 0x5A mark at the end of the chunk header (found 0x5a 0x5b;");
}

TEST(Violations, OneByteCutOffTheEndIsReportedWhereTheStreamBreaks) {
  Bytes m = two_page_m();
  m.pop_back();
  expect_first(m, m.size() - 8, "the closing universal exit is cut off");

  Bytes c = two_page_c();
  c.pop_back();
  expect_first(c, c.size() - 10, "expected \"\\x1b%-12345X\\r\\n\" (endOfJobCmd) in the job end, found \"\\x1b%-12345X\\r\" (cut off by the end of the file)");

  Bytes z = two_page_z();
  z.resize(at(z, "resetCmd") + 3);
  expect_first(z, z.size() - 3, "record length 4 runs past the end of the file (3 bytes left)");
}

TEST(Violations, ACutInsideTheImageIsReportedAtTheImage) {
  Bytes c = two_page_c();
  size_t raster = at(c, "cmdRasterImage");
  Bytes cut = erase(c, raster + 18 + 100, 1);
  expect_first(cut, raster, "cmdRasterImage dataSize");

  Bytes z = two_page_z();
  size_t band = at(z, "band_data");
  expect_first(Bytes(z.begin(), z.begin() + ptrdiff_t(band + 10)), band - 48,
               "band data of");
}

TEST(Violations, ADataSizeThatDiffersFromTheImageBytesIsReported) {
  Bytes c = two_page_c();
  size_t raster = at(c, "cmdRasterImage");
  c[raster + 13] += 5;
  fix_checksum(c, raster);
  expect_first(c, raster, "differs from the");

  Bytes z = two_page_z();
  size_t zr = at(z, "cmdRasterImage");
  z[zr + 13] = 1;
  fix_checksum(z, zr);
  expect_first(z, zr, "cmdRasterImage dataSize 1 is not 0");
}

TEST(Violations, BandHeaderSizesThatDifferOrMissTheBandAreReported) {
  Bytes z = two_page_z();
  size_t h = at(z, "cmdBandHeader", 1);
  z[h + 27] += 1;  // second size field
  fix_checksum(z, h);
  expect_first(z, h, "cmdBandHeader size fields differ");

  Bytes lines = two_page_z();
  size_t h0 = at(lines, "cmdBandHeader");
  lines[h0 + 11] = 255;  // stripe lines and line count 255 instead of 256
  lines[h0 + 15] = 255;
  lines[h0 + 12] = lines[h0 + 16] = 0;
  fix_checksum(lines, h0);
  expect_first(lines, h0, "band 0 has 255 lines, expected 256 (image height 300)");

  Bytes index = two_page_z();
  size_t h1 = at(index, "cmdBandHeader", 1);
  index[h1 + 36] = 5;
  fix_checksum(index, h1);
  expect_first(index, h1, "cmdBandHeader index 5, expected 1");
}

TEST(Violations, APageWithoutStartOrEndIsReported) {
  Bytes z = two_page_z();
  size_t ff = at(z, "formFeedCmd");
  Bytes no_end = erase(z, ff, 4);
  expect_first(no_end, ff + 2, "expected formFeedCmd in page 1, found cmdPageSpec");

  size_t spec = at(z, "cmdPageSpec", 1);
  Bytes no_start = erase(z, spec, 18);
  expect_first(no_start, spec + 2, "cmdCustomPaper outside a page: expected cmdPageSpec");

  Bytes m = two_page_m();
  size_t end = at(m, "END_PAGE_CMD");
  expect_first(erase(m, end, 16), at(m, "START_PAGE_CMD"), "page 1 has no END_PAGE_CMD (the next START_PAGE_CMD is at offset");
}

TEST(Violations, AJobWithoutItsEndIsReportedAtTheEndOfTheFile) {
  Bytes z = two_page_z();
  Bytes cut(z.begin(), z.begin() + ptrdiff_t(at(z, "resetCmd")));
  expect_first(cut, cut.size(), "the file ends without the job end: expected resetCmd");

  Bytes c = two_page_c();
  Bytes ccut(c.begin(), c.begin() + ptrdiff_t(at(c, "queryStatusCmd")));
  expect_first(ccut, ccut.size(), "the file ends without the job end: expected queryStatusCmd");

  Bytes m = two_page_m();
  Bytes mcut(m.begin(), m.begin() + ptrdiff_t(at(m, "END_DOC_CMD")));
  expect_first(mcut, mcut.size(), "the file ends before END_DOC_CMD: the job has no end");
}

TEST(Violations, RecordsOutOfTheDialectsOrderAreReported) {
  Bytes z = two_page_z();
  size_t job = at(z, "cmdJobSpec"), density = at(z, "cmdDensity");
  Bytes swapped = z;
  std::copy(z.begin() + ptrdiff_t(density), z.begin() + ptrdiff_t(density + 5), swapped.begin() + ptrdiff_t(job));
  std::copy(z.begin() + ptrdiff_t(job), z.begin() + ptrdiff_t(job + 9), swapped.begin() + ptrdiff_t(job + 7));
  expect_first(swapped, job, "expected cmdJobSpec in the job start, found cmdDensity");

  Bytes m = two_page_m();
  size_t param = at(m, "JBIG_PARAM_CMD");
  Bytes no_param = erase(m, param, 36);
  expect_first(no_param, param, "JBIG_DATA_CMD outside the image of page 1");

  Bytes c = two_page_c();
  size_t host = at(c, "hostUseCmd");
  expect_first(erase(c, host - 2, 6), host, "expected hostUseCmd in page 1, found cmdRasterImage");
}

TEST(Violations, AnImageThatDecodesToOtherDimensionsThanAnnouncedIsReported) {
  // One stripe more announced than coded: the data ends early.
  Bytes c = two_page_c();
  size_t raster = at(c, "cmdRasterImage");
  uint32_t h = c[raster + 7] | (c[raster + 8] << 8);
  h += 128;
  c[raster + 7] = uint8_t(h);
  c[raster + 8] = uint8_t(h >> 8);
  fix_checksum(c, raster);
  size_t data_end = at(c, "UEL_CMD_C", 1);
  expect_first(c, data_end, "image data ends after 3 of 4 stripes (128 x 428, 128 lines per stripe)");

  // One stripe fewer announced: bytes are left over after the image.
  Bytes fewer = two_page_c();
  fewer[raster + 7] = 0;  // 256 lines: two stripes of the three coded
  fewer[raster + 8] = 1;
  fix_checksum(fewer, raster);
  Decoded d = inspect_bytes(fewer);
  ASSERT_FALSE(d.report.violations.empty());
  EXPECT_NE(d.report.violations.front().message.find("bytes of image data after the end of the 128 x 256 image"),
            std::string::npos)
      << violations(d.report);

  // The chunk stream's JBIG header against the page items.
  Bytes m = two_page_m();
  size_t param = at(m, "JBIG_PARAM_CMD");
  m[param + 16 + 11] += 1;  // YD
  expect_first(m, param, "JBIG_PARAM_CMD YD 301 differs from IMG_HEIGHT_PARAM 300");
}

TEST(Violations, APlatformCImageChecksumThatDisagreesWithTheImageIsReported) {
  Bytes c = two_page_c();
  size_t chk = at(c, "cmdImageDataChenksum");
  c[chk + 3] += 1;
  fix_checksum(c, chk);
  expect_first(c, chk, "cmdImageDataChenksum");
  Decoded d = inspect_bytes(c);
  EXPECT_NE(d.report.violations.front().message.find("disagrees with the image bytes plus UEL_CMD_C"), std::string::npos);
}

TEST(Violations, APlatformZCoverageThatDisagreesWithThePageIsReported) {
  Bytes z = two_page_z();
  size_t cov = at(z, "cmdCoverage");
  z[cov + 3] += 1;
  fix_checksum(z, cov);
  expect_first(z, cov, "cmdCoverage carries");
}

TEST(Violations, FillerPairsWhereTheDriverWritesNoneOrMissingOnesAreReported) {
  Bytes c = two_page_c();
  size_t time = at(c, "cmdSysTime");
  expect_first(insert(c, time, {0, 0}), time, "zero filler before cmdSysTime in the job start, where the driver sends none");

  size_t custom = at(c, "cmdCustomPaper");
  expect_first(erase(c, custom - 2, 2), custom - 2, "missing zero filler pair before cmdCustomPaper in page 1");

  size_t chk = at(c, "cmdImageDataChenksum");
  expect_first(insert(c, chk, {0, 0}), chk - 2, "2 zero filler pairs before cmdImageDataChenksum in page 1, expected one");

  expect_first(insert(c, 10, {0}), 9, "record length 0 is shorter than the 4 bytes");  // inside abortCmd

  JobOptions o;
  o.blank_suppress = true;
  o.fillers = false;
  Bytes z = z_job({page(test_bitmap(64, 20, 7), 1)}, o);
  size_t ff = at(z, "formFeedCmd");
  expect_first(insert(z, ff, {0, 0}), ff, "zero filler in a job with a BLANKSUPPRESS line");
}

TEST(Violations, UnknownRecordsAndChunksAreReported) {
  Bytes z = two_page_z();
  size_t ff = at(z, "formFeedCmd");
  expect_first(insert(z, ff, record(0x77, {})), ff, "unknown record: id 0x77 with length 4");

  Bytes c = two_page_c();
  size_t density = at(c, "cmdDensity");
  expect_first(insert(c, density, record(0x1F, {0})), density, "cmdFineMode (id 0x1f, length 5) is not a PLATFORM_C record");

  Bytes m = two_page_m();
  size_t end = at(m, "END_DOC_CMD");
  Bytes chunk = {0, 0, 0, 16, 0, 0, 0, 99, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A};
  expect_first(insert(m, end, chunk), end, "unknown chunk type 99");
}

TEST(Violations, FixedRecordAndTonerBytesAreChecked) {
  JobOptions o;
  o.txd = true;
  Bytes z = z_job({page(test_bitmap(64, 20, 8), 1)}, o);
  size_t toner = at(z, "cmdTonerParamTXD");
  z[toner + 20] = 0x21;
  fix_checksum(z, toner);
  expect_first(z, toner, "cmdTonerParamTXD fixed byte (byte 20) is 0x21, expected 0x20");

  Bytes nolang = z_job({page(test_bitmap(64, 20, 8), 1)}, o);
  size_t lang = find(nolang, Bytes{'@', 'P', 'J', 'L', ' ', 'L'});
  expect_first(erase(nolang, lang, 26), toner - 26, "cmdTonerParamTXD of 36 bytes (TXD model) without");

  Bytes m = two_page_m();
  m[13 + 16 + 3] = 82;  // toner value 1
  expect_first(m, 13, "TONER_PARAM value 1 is 82, expected 81");

  Bytes c = two_page_c();
  size_t q = at(c, "queryStatusCmd");
  c[q + 3] = 0x81;
  fix_checksum(c, q);
  expect_first(c, q, "queryStatusCmd payload (byte 3) is 0x81, expected 0x80");
}

TEST(Violations, PjlJobLinesAreChecked) {
  Bytes z = two_page_z();
  size_t time = find(z, Bytes{'J', 'O', 'B', 'T', 'I', 'M', 'E'}) - 5;
  z[time + 13] = '7';  // minute 75
  expect_first(z, time, "JOBTIME line");

  // The host name "testhost" made 0, 31 and 32 characters long.
  Bytes owner = two_page_z();
  size_t o = find(owner, Bytes{'J', 'O', 'B', 'O', 'W', 'N', 'E', 'R'}) - 5;
  expect_first(erase(owner, o + 14, 8), o, "JOBOWNER line");
  EXPECT_TRUE(inspect_bytes(insert(owner, o + 22, Bytes(23, 'h'))).report.violations.empty());
  expect_first(insert(owner, o + 22, Bytes(24, 'h')), o, "JOBOWNER line");
}

TEST(Violations, MachineDuplexOutsideItsPlacesIsReported) {
  JobOptions o;
  o.auto_duplex = true;
  Bytes c = c_job({page(test_bitmap(64, 16, 9), 1), page(test_bitmap(64, 16, 10), 2), page(test_bitmap(64, 16, 11), 3)}, o);
  size_t query = at(c, "queryStatusCmd");
  // After odd page 3 the job end has no second machineDuplexCmd.
  expect_first(insert(c, query - 2, {0, 0, 0x0B, 0x04, 0x40, 0xB1}), query,
               "machineDuplexCmd at the job end after odd page 3");
}

TEST(Violations, ADriverFailureReportInTheStreamIsReported) {
  Bytes z = two_page_z();
  size_t ff = at(z, "formFeedCmd");
  std::string text = "main() :: End page Fail ! \n";
  expect_first(insert(z, ff, Bytes(text.begin(), text.end())), ff,
               "driver failure report in the stream: \"main() :: End page Fail ! \\n\"");
}

TEST(Violations, ChunkStreamPiecesAndPagesFollowTheirRules) {
  Bytes m = m_job({page(noise_bitmap(1024, 600, 12), 1)});
  size_t first = at(m, "JBIG_DATA_CMD");
  // Cut the first full piece to 65535 bytes: a short piece before another one.
  Bytes cut = erase(m, first + 16, 1);
  cut[first + 3] = 0x0F;  // length 65551
  expect_first(cut, first + 65551, "JBIG_DATA_CMD after a piece of 65535 bytes at offset " + std::to_string(first));

  Bytes empty = m_job({});
  expect_first(empty, at(empty, "END_DOC_CMD"), "END_DOC_CMD ends a job without pages");

  Bytes dup = two_page_m();
  size_t end_doc = at(dup, "END_DOC_CMD");
  Bytes md = {0, 0, 0, 16, 0, 0, 0, 11, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A};
  Bytes twice = insert(insert(dup, end_doc, md), end_doc, md);
  expect_first(twice, end_doc + 16, "MANUAL_DUPLEX_CMD a second time");
}
