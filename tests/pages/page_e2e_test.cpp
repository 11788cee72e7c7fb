// Whole jobs: raster in, printer stream out, read back by prndecode, each
// page compared pixel by pixel with the page computed from the raster.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "expected_page.h"
#include "screen_tables.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// Every grey level, scattered so that neighbours differ.
std::vector<uint8_t> pattern() {
  std::vector<uint8_t> p(256);
  for (int i = 0; i < 256; ++i) p[i] = static_cast<uint8_t>((i * 37 + 11) % 256);
  return p;
}

GreyRaster greyOf(const cups_page_header2_t& h, uint32_t linesPresent) {
  GreyRaster r;
  r.width = h.cupsBytesPerLine;
  r.lines = h.cupsHeight;
  r.linesPresent = std::min(linesPresent, h.cupsHeight);
  std::vector<uint8_t> p = pattern();
  r.grey = [p](uint32_t x, uint32_t y) { return p[(x + y) % p.size()]; };
  return r;
}

struct JobRun {
  ProcessResult filter;
  ProcessResult check;
  std::vector<Page> pages;
};

JobRun printRaster(const std::string& ppd, const std::string& options,
                   const std::vector<RasterPage>& pages, cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED) {
  JobRun run;
  ProcessOptions opts;
  opts.stdinData = writeRaster(pages, mode);
  opts.env.push_back("PPD=" + (ppd[0] == '/' ? ppd : ppdPath(ppd)));
  run.filter = runProcess({binPath("rasterfilter"), "42", "alice", "pages", "1", options}, opts);

  TempDir dir;
  writeFile(dir.file("job.prn"), run.filter.out);
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  run.check = runProcess({binPath("prndecode"), "--check", "-o", dir.path(), dir.file("job.prn")}, quiet);
  for (int i = 1;; ++i) {
    char stem[32];
    std::snprintf(stem, sizeof stem, "page-%03d", i);
    Page p = readPnm(dir.file(std::string(stem) + ".pbm"));
    if (p.width == 0) p = readPnm(dir.file(std::string(stem) + ".pgm"));
    if (p.width == 0) break;
    run.pages.push_back(std::move(p));
  }
  return run;
}

RasterPage patternPage(unsigned wPt, unsigned hPt, unsigned dpi = 600) {
  return RasterPage{greyHeader(wPt, hPt, dpi), pattern()};
}

void expectPage(const Page& got, const Page& want, const std::string& what) {
  std::string where;
  EXPECT_EQ(countDifferences(got, want, &where), 0u) << what << ": " << where;
}

PageRecipe recipe(uint32_t w, uint32_t h, const uint8_t* screen = &rf::ScreenTable16A[0][0],
                  unsigned tile = 16) {
  PageRecipe r;
  r.imageWidth = w;
  r.imageHeight = h;
  r.screen = screen;
  r.tile = tile;
  return r;
}

Page widened(const Page& p) {
  Page out = p;
  out.width = p.width * 2;
  out.ink.resize(size_t{out.width} * out.height);
  for (uint32_t y = 0; y < p.height; ++y)
    for (uint32_t x = 0; x < p.width; ++x)
      out.ink[size_t{y} * out.width + 2 * x] = out.ink[size_t{y} * out.width + 2 * x + 1] = p.at(x, y);
  return out;
}

}  // namespace

TEST(PrintedPages, EveryClassPrintsTheScreenedPageAtItsPaperTableSize) {
  struct Case {
    const char* ppd;
    uint32_t w, h;  // A6 image size of the class's table
  } cases[] = {
      {"tesvel-tc1110.ppd", 2304, 3260},  // PLATFORM_C, first table
      {"tesvel-tc2110.ppd", 2296, 3260},  // PLATFORM_C, second table
      {"tesvel-tz3010.ppd", 2272, 3260},  // PLATFORM_Z
      {"tesvel-tm4010.ppd", 2272, 3264},  // PLATFORM_M
      {"tesvel-txa.ppd", 2272, 3260},     // ModelListA on PLATFORM_Z
      {"tesvel-txb.ppd", 2304, 3260},     // ModelListA on PLATFORM_C
      {"tesvel-txc.ppd", 2272, 3264},     // ModelListA on PLATFORM_M
  };
  RasterPage page = patternPage(298, 420);  // 2483 x 3500: wider and longer than the image
  for (const Case& c : cases) {
    JobRun run = printRaster(c.ppd, "noDPI1200", {page});
    EXPECT_EQ(run.filter.exitStatus, 0) << c.ppd << run.filter.err;
    EXPECT_EQ(run.check.exitStatus, 0) << c.ppd << run.check.out << run.check.err;
    ASSERT_EQ(run.pages.size(), 1u) << c.ppd;
    expectPage(run.pages[0], expectedPage(greyOf(page.header, ~0u), recipe(c.w, c.h)), c.ppd);
  }
}

TEST(PrintedPages, NarrowShortAndCutRasterIsPaddedWithWhite) {
  RasterPage narrow = patternPage(298, 420);
  narrow.header.cupsWidth = narrow.header.cupsBytesPerLine = 2000;
  RasterPage cut = patternPage(298, 420);
  cut.linesToWrite = 1000;  // the stream ends in the middle of the page
  // Uncompressed, so that every line written is in the stream.
  JobRun run = printRaster("tesvel-tz3010.ppd", "", {narrow, cut}, CUPS_RASTER_WRITE);
  EXPECT_EQ(run.filter.exitStatus, 0);
  EXPECT_EQ(run.check.exitStatus, 0) << run.check.out;
  ASSERT_EQ(run.pages.size(), 2u);
  expectPage(run.pages[0], expectedPage(greyOf(narrow.header, ~0u), recipe(2272, 3260)), "narrow");
  expectPage(run.pages[1], expectedPage(greyOf(cut.header, 1000), recipe(2272, 3260)), "cut");
}

TEST(PrintedPages, LongEdgeA5IsTurnedAQuarterForEveryClass) {
  struct Case {
    const char* ppd;
    uint32_t w, h;
  } cases[] = {{"tesvel-tz3010.ppd", 3264, 4736}, {"tesvel-tm4010.ppd", 3264, 4736}, {"tesvel-tc1110.ppd", 3328, 4736}};
  RasterPage page = patternPage(421, 595);
  for (const Case& c : cases) {
    JobRun run = printRaster(c.ppd, "", {page});
    EXPECT_EQ(run.check.exitStatus, 0) << c.ppd << run.check.out;
    ASSERT_EQ(run.pages.size(), 1u) << c.ppd;
    PageRecipe r = recipe(c.w, c.h);
    r.turn = Turn::Quarter;
    expectPage(run.pages[0], expectedPage(greyOf(page.header, ~0u), r), c.ppd);
  }
}

TEST(PrintedPages, DuplexBackSidesAreTurnedHalfAndNegativePrintInverts) {
  RasterPage page = patternPage(298, 420);
  JobRun run = printRaster("tesvel-txd.ppd", "Duplex=DuplexNoTumble NegativePrint", {page, page});
  EXPECT_EQ(run.check.exitStatus, 0) << run.check.out;
  ASSERT_GE(run.pages.size(), 2u);
  PageRecipe front = recipe(2272, 3260);
  front.negative = true;
  PageRecipe back = front;
  back.turn = Turn::Half;
  expectPage(run.pages[0], expectedPage(greyOf(page.header, ~0u), front), "front");
  expectPage(run.pages[1], expectedPage(greyOf(page.header, ~0u), back), "back");
}

TEST(PrintedPages, ScreensFollowModelAndResolution) {
  RasterPage page = patternPage(298, 420);
  struct Case {
    const char* ppd;
    const char* options;
    const uint8_t* screen;
    unsigned tile;
    uint32_t w, h;
  } cases[] = {
      {"tesvel-txg.ppd", "", &rf::ScreenTable96A[0][0], 96, 2272, 3260},
      {"tesvel-txg.ppd", "DPI1200=True", &rf::ScreenTable96B[0][0], 96, 2272, 3260},
      {"tesvel-tz3010.ppd", "DPI1200=True", &rf::ScreenTable16B[0][0], 16, 2272, 3260},
      {"tesvel-tc1110.ppd", "DPI1200=True", &rf::ScreenTable28[0][0], 28, 2304, 3260},
  };
  for (const Case& c : cases) {
    JobRun run = printRaster(c.ppd, c.options, {page});
    EXPECT_EQ(run.check.exitStatus, 0) << c.ppd << run.check.out;
    ASSERT_EQ(run.pages.size(), 1u) << c.ppd;
    expectPage(run.pages[0], expectedPage(greyOf(page.header, ~0u), recipe(c.w, c.h, c.screen, c.tile)),
               std::string(c.ppd) + " " + c.options);
  }
}

TEST(PrintedPages, PlatformCAt1200DpiPrintsTheDoubledImage) {
  RasterPage page = patternPage(298, 420, 1200);
  JobRun run = printRaster("tesvel-tc1110.ppd", "", {page});
  EXPECT_EQ(run.check.exitStatus, 0) << run.check.out;
  ASSERT_EQ(run.pages.size(), 1u);
  expectPage(run.pages[0], expectedPage(greyOf(page.header, ~0u), recipe(4608, 6520)), "1200 dpi");
}

namespace {

// A copy of a built PPD whose DPI1200 default is True, as a queue set up
// for 1200 dpi has it.
std::string ppdDefaulting1200(const TempDir& dir, const std::string& ppd) {
  std::string text = readFile(ppdPath(ppd));
  const std::string from = "*DefaultDPI1200: False";
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), "*DefaultDPI1200: True");
  writeFile(dir.file(ppd), text);
  return dir.file(ppd);
}

// How the 1200-dpi setting reaches the page.
enum class Lines {
  Plain,          // one bit a pixel at the image width
  Widened,        // each pixel drawn twice across: lines of twice the pixels
  WidenedLevels,  // the same bits, announced as two bits a pixel (level 0 or 3)
  FourLevel,      // two bits a pixel from the four-level screen
};

Page linesOf(const Page& p, Lines lines) {
  if (lines == Lines::Widened) return widened(p);
  if (lines != Lines::WidenedLevels) return p;
  Page out = p;
  out.depth = 2;
  for (uint8_t& v : out.ink) v = static_cast<uint8_t>(v * 3);
  return out;
}

}  // namespace

TEST(PrintedPages, EveryDpi1200SettingDecodesToTheExpectedPageOnEveryClass) {
  const uint8_t* k16A = &rf::ScreenTable16A[0][0];
  const uint8_t* k16B = &rf::ScreenTable16B[0][0];
  const uint8_t* k28 = &rf::ScreenTable28[0][0];
  struct Case {
    const char* ppd;
    const char* options;
    bool defaultTrue;  // the queue's PPD defaults to 1200 dpi
    Lines lines;
    const uint8_t* screen;
    unsigned tile;
  } cases[] = {
      {"tesvel-txa.ppd", "DPI1200=True", false, Lines::Widened, k16B, 16},
      {"tesvel-txa.ppd", "DPI1200=False", true, Lines::Plain, k16A, 16},
      {"tesvel-txa.ppd", "", true, Lines::Widened, k16A, 16},
      {"tesvel-txb.ppd", "DPI1200=True", false, Lines::Widened, k28, 28},
      {"tesvel-txb.ppd", "DPI1200=False", true, Lines::Plain, k16A, 16},
      {"tesvel-txb.ppd", "", true, Lines::Widened, k16A, 16},
      {"tesvel-txc.ppd", "DPI1200=True", false, Lines::FourLevel, k16A, 16},
      {"tesvel-txc.ppd", "DPI1200=False", true, Lines::Plain, k16A, 16},
      {"tesvel-txc.ppd", "", true, Lines::WidenedLevels, k16A, 16},
      {"tesvel-tm4010.ppd", "DPI1200=True", false, Lines::FourLevel, k16A, 16},
  };
  // A small sheet no paper table knows: 1200 x 1200 pixels, an image of
  // 1216 x 1200 on every class, so that ten jobs stay quick.
  RasterPage page = patternPage(144, 144);
  for (const Case& c : cases) {
    TempDir dir;
    const std::string ppd = c.defaultTrue ? ppdDefaulting1200(dir, c.ppd) : std::string(c.ppd);
    const std::string what = std::string(c.ppd) + " '" + c.options + "'" + (c.defaultTrue ? " default True" : "");
    JobRun run = printRaster(ppd, c.options, {page});
    EXPECT_EQ(run.check.exitStatus, 0) << what << run.check.out << run.check.err;
    ASSERT_EQ(run.pages.size(), 1u) << what;
    PageRecipe r = recipe(1216, 1200, c.screen, c.tile);
    r.fourLevel = c.lines == Lines::FourLevel;
    expectPage(run.pages[0], linesOf(expectedPage(greyOf(page.header, ~0u), r), c.lines), what);
  }
}

TEST(PrintedPages, RealDocumentsFromTheCupsChainPassTheInspector) {
  std::string pdf = makePdf(2);
  for (const char* ppd : {"tesvel-tc2110.ppd", "tesvel-tz3050.ppd", "tesvel-tm4100.ppd", "tesvel-txb300.ppd"}) {
    std::string raster = rasterFromPdf(ppdPath(ppd), pdf);
    ProcessOptions opts;
    opts.stdinData = raster;
    opts.env.push_back("PPD=" + ppdPath(ppd));
    ProcessResult f = runProcess({binPath("rasterfilter"), "9", "bob", "doc", "1", ""}, opts);
    ASSERT_EQ(f.exitStatus, 0) << ppd << f.err;
    TempDir dir;
    writeFile(dir.file("job.prn"), f.out);
    ProcessOptions quiet;
    quiet.stdinFromDevNull = true;
    ProcessResult c = runProcess({binPath("prndecode"), "--check", dir.file("job.prn")}, quiet);
    EXPECT_EQ(c.exitStatus, 0) << ppd << c.out << c.err;
    EXPECT_NE(c.out.find("pages=2"), std::string::npos) << ppd << c.out;
  }
}

TEST(PrintedPages, DuplexBackSidesFollowImageRotation) {
  RasterPage page = patternPage(298, 420);
  JobRun run = printRaster("tesvel-txd.ppd", "Duplex=DuplexNoTumble ImageRotation=True", {page, page});
  EXPECT_EQ(run.check.exitStatus, 0) << run.check.out;
  ASSERT_GE(run.pages.size(), 2u);
  PageRecipe front = recipe(2272, 3260);
  front.turn = Turn::Half;  // with ImageRotation the odd pages turn, the even ones not
  expectPage(run.pages[0], expectedPage(greyOf(page.header, ~0u), front), "front");
  expectPage(run.pages[1], expectedPage(greyOf(page.header, ~0u), recipe(2272, 3260)), "back");
}
