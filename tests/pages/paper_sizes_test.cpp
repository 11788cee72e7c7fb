// The paper code and image size each printer receives for every paper it
// knows, read back from the printer file by prndecode.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

using namespace testing_support;

namespace {

// The printers' paper codes and image sizes at 600 dpi, written out by
// hand from the printers' documentation (never from the filter's tables):
// per paper, the sheet in points and {image width, image height, code} for
// the two PLATFORM_C tables, PLATFORM_Z and PLATFORM_M.  {0, 0, 0}: the
// printer does not know the paper.
struct Printed {
  uint32_t width, height;
  int code;
};
struct Paper {
  const char* name;
  unsigned wPt, hPt;
  Printed c1, c2, z, m;
};
const Paper kPapers[] = {
    {"A5", 420, 595, {3328, 4736, 6}, {3312, 4720, 6}, {3264, 4736, 11}, {3264, 4736, 11}},
    {"Letter", 612, 792, {4928, 6364, 0}, {4912, 6364, 0}, {4864, 6364, 2}, {4864, 6368, 1}},
    {"A4", 595, 842, {4800, 6780, 1}, {4776, 6782, 1}, {4736, 6780, 1}, {4736, 6784, 9}},
    {"A6", 298, 420, {2304, 3260, 24}, {2296, 3260, 24}, {2272, 3260, 19}, {2272, 3264, 70}},
    {"B5", 516, 729, {4128, 5835, 3}, {4112, 5835, 3}, {4064, 5835, 5}, {4064, 5856, 13}},
    {"IOSB5", 499, 709, {3968, 5670, 25}, {3968, 5669, 25}, {3936, 5670, 20}, {3936, 5696, 34}},
    {"B6", 354, 499, {2784, 3922, 31}, {2760, 3921, 31}, {2720, 3922, 28}, {2720, 3936, 271}},
    {"Executive", 522, 756, {4192, 6064, 10}, {4168, 6064, 10}, {4128, 6064, 21}, {4128, 6080, 7}},
    {"Statement", 396, 612, {3136, 4864, 12}, {3112, 4864, 12}, {3072, 4864, 24}, {3072, 4864, 6}},
    {"Folio", 612, 936, {4928, 7560, 26}, {4912, 7564, 26}, {4864, 7560, 22}, {4864, 7584, 14}},
    {"Oficio", 612, 972, {4928, 7866, 27}, {4920, 7866, 27}, {4864, 7866, 23}, {4864, 7872, 269}},
    {"Postcard", 283, 420, {2176, 3260, 8}, {1896, 3024, 8}, {2144, 3260, 12}, {2144, 3264, 43}},
    {"EnvMonarch", 279, 540, {2144, 4264, 11}, {1856, 4028, 11}, {2112, 4264, 6}, {2112, 4288, 37}},
    {"EnvDL", 312, 624, {2432, 4961, 14}, {2128, 4724, 14}, {2368, 4961, 7}, {2368, 4992, 27}},
    {"EnvC5", 459, 649, {3648, 5174, 15}, {3360, 4937, 15}, {3616, 5174, 8}, {3616, 5184, 28}},
    {"Com10Envelope", 297, 684, {2304, 5464, 16}, {2008, 5228, 16}, {2240, 5464, 9}, {2240, 5472, 20}},
    {"EnvC6", 323, 459, {2528, 3591, 28}, {2224, 3354, 28}, {2464, 3591, 25}, {2464, 3616, 31}},
    {"ZL", 340, 652, {2656, 5197, 29}, {2648, 5197, 29}, {2624, 5197, 26}, {2624, 5216, 270}},
    {"Legal", 612, 1008, {4928, 8164, 2}, {4912, 8164, 2}, {4864, 8164, 4}, {4864, 8192, 5}},
    {"Big32K", 383, 553, {3008, 4371, 23}, {3000, 4370, 23}, {2976, 4371, 17}, {2976, 4384, 260}},
    {"Big16K", 553, 765, {4448, 6142, 21}, {4424, 6142, 21}, {4384, 6142, 15}, {4384, 6144, 264}},
    {"32K", 369, 524, {2912, 4134, 22}, {2888, 4134, 22}, {2848, 4134, 16}, {2848, 4160, 266}},
    {"16K", 524, 737, {4192, 5906, 20}, {4184, 5906, 20}, {4160, 5906, 14}, {4160, 5920, 263}},
    {"ChinaElectronic", 397, 680, {0, 0, 0}, {0, 0, 0}, {3200, 5568, 77}, {0, 0, 0}},
};

// The listing of a printer file: per page, the paper code and the decoded
// image size, in stream order.
struct ListedPage {
  int paperCode = -1;
  uint32_t width = 0, height = 0;
};

std::vector<ListedPage> listPages(const std::string& prn, std::string* listing) {
  ProcessResult r = inspectStream(prn, {});
  *listing = r.out;
  std::vector<ListedPage> pages;
  std::regex code(R"((?:paperCode|PAPER_SIZE_PARAM)=(\d+))"), page(R"(^page .* width=(\d+) height=(\d+))");
  std::istringstream lines(r.out);
  int pending = -1;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if ((line.rfind("cmdPageSpec", 0) == 0 || line.rfind("START_PAGE_CMD", 0) == 0) &&
        std::regex_search(line, m, code))
      pending = std::stoi(m[1]);
    else if (std::regex_search(line, m, page))
      pages.push_back({pending, static_cast<uint32_t>(std::stoul(m[1])), static_cast<uint32_t>(std::stoul(m[2]))});
  }
  return pages;
}

// A tiny raster page that announces a sheet of the given size.
RasterPage sheet(unsigned wPt, unsigned hPt) {
  RasterPage p{greyHeader(wPt, hPt), {0, 255}};
  p.header.cupsWidth = p.header.cupsBytesPerLine = 64;
  p.header.cupsHeight = 8;
  return p;
}

}  // namespace

TEST(PrintedPages, EveryPaperOfEveryClassGetsThePrintersCodeAndImageSizeAndACustomSizeToo) {
  struct Case {
    const char* ppd;
    Printed Paper::*column;
    int customCode;
  } cases[] = {{"tesvel-tc1110.ppd", &Paper::c1, 255},
               {"tesvel-tc2110.ppd", &Paper::c2, 255},
               {"tesvel-tz3010.ppd", &Paper::z, 0},
               {"tesvel-tm4010.ppd", &Paper::m, 0}};
  for (const Case& c : cases) {
    std::vector<RasterPage> pages;
    std::vector<Printed> want;
    for (const Paper& paper : kPapers) {
      if ((paper.*c.column).width == 0) continue;  // a paper the printer does not know
      pages.push_back(sheet(paper.wPt, paper.hPt));
      want.push_back(paper.*c.column);
    }
    pages.push_back(sheet(500, 700));  // no row: 600 dpi from the sheet, to multiples of 32 x 8
    want.push_back({4192, 5840, c.customCode});

    ProcessOptions opts;
    opts.stdinData = writeRaster(pages);
    opts.env.push_back("PPD=" + ppdPath(c.ppd));
    ProcessResult f = runProcess({binPath("rasterfilter"), "1", "u", "sizes", "1", ""}, opts);
    ASSERT_EQ(f.exitStatus, 0) << c.ppd;
    std::string listing;
    std::vector<ListedPage> got = listPages(f.out, &listing);
    ASSERT_EQ(got.size(), want.size()) << c.ppd << listing;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].paperCode, want[i].code) << c.ppd << " page " << i + 1;
      EXPECT_EQ(got[i].width, want[i].width) << c.ppd << " page " << i + 1;
      EXPECT_EQ(got[i].height, want[i].height) << c.ppd << " page " << i + 1;
    }
  }
}

TEST(PrintedPages, PlatformZCutsThePageIntoBandsOf256Lines) {
  // 72 x 72 points: 600 lines, so bands of 256, 256 and 88.
  ProcessOptions opts;
  opts.stdinData = writeRaster({RasterPage{greyHeader(72, 72), {0, 128, 255}}});
  opts.env.push_back("PPD=" + ppdPath("tesvel-tz3010.ppd"));
  ProcessResult f = runProcess({binPath("rasterfilter"), "1", "u", "bands", "1", ""}, opts);
  std::string listing;
  listPages(f.out, &listing);
  std::regex band(R"(^cmdBandHeader .* index=(\d+) .* lines=(\d+) )");
  std::vector<std::string> bands;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, band)) bands.push_back(m[1].str() + ":" + m[2].str());
  }
  EXPECT_EQ(bands, (std::vector<std::string>{"0:256", "1:256", "2:88"})) << listing;
}
