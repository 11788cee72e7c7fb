// How a document's pages land on the paper: one whole job per layout
// attribute and value, through CUPS's page handling in the application
// (and the application's own placing of raster pages), each printer file
// decoded and its ink measured against the frame the document draws 20 mm
// inside its page's edges.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "app_fixture.h"
#include "page_ink.h"

using namespace testing_support;

namespace {

class AppLayout : public SharedServerTest {
 protected:
  static void SetUpTestSuite() {
    start_server({{"z", "tesvel_tz3010"}, {"ps", "tesvel_ps_tp3010"}, {"pc", "tesvel_ps_tpc8010"}});
  }

  // The pages the printer received for the document with the attributes.
  static std::vector<PageInk> printed(const std::string& pdf, const std::vector<std::string>& attrs,
                                      const std::string& format = "application/pdf",
                                      const std::string& printer = "z") {
    TempDir dir;
    writeFile(dir.file("doc"), pdf);
    AppJob job = server_->print(printer, dir.file("doc"), format, attrs);
    EXPECT_EQ(job.state, "completed") << job.message << job.ipptool;
    return printer == "z" ? pageInk(job.stream) : psPageInk(job.stream);
  }
};

// A4 on the TZ3010: the printer leaves 5.00 mm left and right and 10.16 mm
// top and bottom blank (its widest edges over its papers), so a page fitted
// to what it prints is scaled by 276.68 / 297.
constexpr double kFitA4 = (297 - 2 * 10.16) / 297;
const double kA4W = frameWidthMm(595), kA4H = frameHeightMm(842);
const double kA6W = frameWidthMm(298), kA6H = frameHeightMm(420);
const double kA3W = frameWidthMm(842), kA3H = frameHeightMm(1191);
constexpr double kFitA3 = (297 - 2 * 10.16) / 420;
// A4 turned a quarter and fitted: pdftopdf turns the printer's edges with
// the page, so its long side fits within 210 - 2 x 10.16 mm.
constexpr double kTurnedA4 = (210 - 2 * 10.16) / 297;
// A6 fitted to A4's printed area, and filling the A4 paper.
const double kFitA6 = std::min(200 / (298 * 25.4 / 72), (297 - 2 * 10.16) / (420 * 25.4 / 72));
const double kFillA6 = std::max(210 / (298 * 25.4 / 72), 297 / (420 * 25.4 / 72));
// A Letter raster page placed on A4: fitted to the printed area, or
// covering the paper.
const double kLetterW = frameWidthMm(612), kLetterH = frameHeightMm(792);
const double kFitLetter = std::min(200 / 215.9, (297 - 2 * 10.16) / 279.4);
const double kFillLetter = std::max(210 / 215.9, 297 / 279.4);
// Within 5% of A4 and upright: a raster page IPP's "auto" fills the paper with.
const double kFillNearA4 = std::max(595 / 580.0, 842 / 820.0);
// The PostScript models' PPDs print all but 12 points at each edge.
const double kPsFitA4 = std::min((595 - 24) / 595.0, (842 - 24) / 842.0);
const double kPsFitLetter = std::min((595 - 24) / 612.0, (842 - 24) / 792.0);

struct LayoutCase {
  const char* what;
  int pages, widthPt, heightPt;     // the document
  std::vector<std::string> attrs;
  size_t sheets;                     // pages the printer prints
  double frameW, frameH;             // the first sheet's ink, mm (0: not measured)
  const char* corner;                // where the first page's square lands ("": not looked at)
  const char* format = "application/pdf";  // or PostScript, or a raster made from the PDF
  const char* printer = "z";               // the TZ3010; "ps" a TP3010, "pc" a TPC8010
};

// The document of a case, in its format.
std::string document_of(const LayoutCase& c) {
  const std::string format = c.format;
  if (format == "application/postscript") return framePostScript(c.pages, c.widthPt, c.heightPt);
  std::string pdf = framePdf(c.pages, c.widthPt, c.heightPt);
  if (format == "image/pwg-raster") return pwgRaster(pdf);
  return format == "image/urf" ? pwgRaster(pdf, "urf") : pdf;
}

TEST_F(AppLayout, EachScalingOrientationAndRangeLaysThePagesOutAsAsked) {
  const std::vector<LayoutCase> cases = {
      {"no print-scaling: the paper's size prints at 100%", 2, 595, 842, {}, 2, kA4W, kA4H, "tl"},
      {"auto", 2, 595, 842, {"ATTR keyword print-scaling auto"}, 2, kA4W, kA4H, "tl"},
      {"auto-fit: no larger than the paper, at its size", 2, 595, 842, {"ATTR keyword print-scaling auto-fit"}, 2,
       kA4W, kA4H, "tl"},
      {"A3 auto: shrunk to the printed area", 1, 842, 1191, {}, 1, kA3W * kFitA3, kA3H * kFitA3, "tl"},
      {"A3 auto-fit", 1, 842, 1191, {"ATTR keyword print-scaling auto-fit"}, 1, kA3W * kFitA3, kA3H * kFitA3, "tl"},
      {"fit", 2, 595, 842, {"ATTR keyword print-scaling fit"}, 2, kA4W * kFitA4, kA4H * kFitA4, "tl"},
      {"fill", 2, 595, 842, {"ATTR keyword print-scaling fill"}, 2, kA4W, kA4H, "tl"},
      {"none", 2, 595, 842, {"ATTR keyword print-scaling none"}, 2, kA4W, kA4H, "tl"},
      {"A6 auto: at its size", 1, 298, 420, {}, 1, kA6W, kA6H, "tl"},
      {"A6 none", 1, 298, 420, {"ATTR keyword print-scaling none"}, 1, kA6W, kA6H, "tl"},
      {"A6 fit: enlarged to the printed area", 1, 298, 420, {"ATTR keyword print-scaling fit"}, 1,
       kA6W * kFitA6, kA6H * kFitA6, "tl"},
      {"A6 fill", 1, 298, 420, {"ATTR keyword print-scaling fill"}, 1, kA6W * kFillA6, kA6H * kFillA6, "tl"},
      {"portrait", 1, 595, 842, {"ATTR enum orientation-requested 3"}, 1, kA4W, kA4H, "tl"},
      {"landscape: a quarter turn anticlockwise", 1, 595, 842, {"ATTR enum orientation-requested 4"}, 1,
       kA4H * kTurnedA4, kA4W * kTurnedA4, "bl"},
      {"reverse landscape: a quarter turn clockwise", 1, 595, 842, {"ATTR enum orientation-requested 5"}, 1,
       kA4H * kTurnedA4, kA4W * kTurnedA4, "tr"},
      {"reverse portrait: half a turn", 1, 595, 842, {"ATTR enum orientation-requested 6"}, 1, kA4W, kA4H, "br"},
      {"two ranges", 4, 595, 842, {"ATTR rangeOfInteger page-ranges 1-1,3-4"}, 3, kA4W, kA4H, "tl"},
      {"one range without the first page", 4, 595, 842, {"ATTR rangeOfInteger page-ranges 2-3"}, 2, kA4W, kA4H,
       ""},
      {"number-up 2", 4, 595, 842, {"ATTR integer number-up 2"}, 2, 0, 0, ""},
      {"number-up 4", 5, 595, 842, {"ATTR integer number-up 4"}, 2, 0, 0, ""},
      {"number-up 6", 7, 595, 842, {"ATTR integer number-up 6"}, 2, 0, 0, ""},
      {"number-up 9", 10, 595, 842, {"ATTR integer number-up 9"}, 2, 0, 0, ""},
      {"number-up 16", 17, 595, 842, {"ATTR integer number-up 16"}, 2, 0, 0, ""},
      // Raster pages of another size than the paper, placed on it.
      {"Letter raster, auto: fitted", 1, 612, 792, {}, 1, kLetterW * kFitLetter, kLetterH * kFitLetter, "tl",
       "image/pwg-raster"},
      {"Letter raster none", 1, 612, 792, {"ATTR keyword print-scaling none"}, 1, kLetterW, kLetterH, "tl",
       "image/pwg-raster"},
      {"Letter raster fill", 1, 612, 792, {"ATTR keyword print-scaling fill"}, 1, kLetterW * kFillLetter,
       kLetterH * kFillLetter, "tl", "image/pwg-raster"},
      {"Apple raster, Letter auto-fit: larger than the printed area", 1, 612, 792,
       {"ATTR keyword print-scaling auto-fit"}, 1, kLetterW * kFitLetter, kLetterH * kFitLetter, "tl", "image/urf"},
      {"A6 raster auto: enlarged to fit", 1, 298, 420, {}, 1, kA6W * kFitA6, kA6H * kFitA6, "tl", "image/pwg-raster"},
      {"A6 raster auto-fit: at its size", 1, 298, 420, {"ATTR keyword print-scaling auto-fit"}, 1, kA6W, kA6H, "tl",
       "image/pwg-raster"},
      {"A6 raster fill", 1, 298, 420, {"ATTR keyword print-scaling fill"}, 1, kA6W * kFillA6, kA6H * kFillA6, "tl",
       "image/pwg-raster"},
      {"nearly A4 raster, auto: filling", 1, 580, 820, {}, 1, frameWidthMm(580) * kFillNearA4,
       frameHeightMm(820) * kFillNearA4, "tl", "image/pwg-raster"},
      // The PostScript models, through the same page handling.
      {"PostScript model, PDF fit", 2, 595, 842, {"ATTR keyword print-scaling fit"}, 2, kA4W * kPsFitA4,
       kA4H * kPsFitA4, "tl", "application/pdf", "ps"},
      {"PostScript model, PDF landscape", 1, 595, 842, {"ATTR enum orientation-requested 4"}, 1, 0, 0, "bl",
       "application/pdf", "ps"},
      {"PostScript model, PDF two up with a border", 2, 595, 842,
       {"ATTR integer number-up 2", "ATTR keyword page-border single"}, 1, 0, 0, "", "application/pdf", "ps"},
      {"PostScript model, PostScript fit", 2, 595, 842, {"ATTR keyword print-scaling fit"}, 2, kA4W * kPsFitA4,
       kA4H * kPsFitA4, "tl", "application/postscript", "ps"},
      {"PostScript model, PostScript two up", 2, 595, 842, {"ATTR integer number-up 2"}, 1, 0, 0, "",
       "application/postscript", "ps"},
      {"PostScript model, PostScript two ranges", 4, 595, 842, {"ATTR rangeOfInteger page-ranges 1-1,3-4"}, 3, kA4W,
       kA4H, "tl", "application/postscript", "ps"},
      {"PostScript model, Letter raster fit", 1, 612, 792, {"ATTR keyword print-scaling fit"}, 1,
       kLetterW * kPsFitLetter, kLetterH * kPsFitLetter, "tl", "image/pwg-raster", "ps"},
      {"colour group, PDF two up", 2, 595, 842, {"ATTR integer number-up 2"}, 1, 0, 0, "", "application/pdf", "pc"},
  };
  // Where each printer's paper has its middle, in its page pictures: that
  // of an A4 page's frame.
  std::map<std::string, std::pair<double, double>> middles;
  auto middle_of = [&](const std::string& printer) {
    if (!middles.count(printer)) {
      std::vector<PageInk> a4 = printed(framePdf(1), {}, "application/pdf", printer);
      if (!a4.empty()) middles[printer] = {(a4[0].left + a4[0].right) / 2.0, (a4[0].top + a4[0].bottom) / 2.0};
    }
    return middles[printer];
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PageInk> pages = printed(document_of(c), c.attrs, c.format, c.printer);
    ASSERT_EQ(pages.size(), c.sheets);
    const PageInk& first = pages[0];
    ASSERT_GT(first.dots, 0);
    // Nothing of the page is lost at the printer's edges.
    EXPECT_GT(first.left, 0);
    EXPECT_GT(first.top, 0);
    EXPECT_LT(first.right, first.width - 1);
    EXPECT_LT(first.bottom, first.height - 1);
    if (c.frameW > 0) {
      EXPECT_NEAR(first.inkWidthMm(), c.frameW, c.frameW / 100);
      EXPECT_NEAR(first.inkHeightMm(), c.frameH, c.frameH / 100);
      // Centred on the paper, within a millimetre.
      auto [x, y] = middle_of(c.printer);
      EXPECT_NEAR((first.left + first.right) / 2.0, x, 24);
      EXPECT_NEAR((first.top + first.bottom) / 2.0, y, 24);
    }
    if (*c.corner) {
      EXPECT_EQ(first.heavyCorner(), c.corner);
    }
  }
}

// Several pages a sheet: the layout puts the first page where it says, a
// border adds ink round each page, and reverse delivery prints the last
// page first.
TEST_F(AppLayout, NumberUpLayoutBorderAndReverseDeliveryChangeThePagesAsTheySay) {
  const std::string two = framePdf(2);
  auto corner = [&](const char* layout) {
    std::vector<PageInk> p = printed(two, {"ATTR integer number-up 2", std::string("ATTR keyword number-up-layout ") + layout});
    return p.size() == 1 ? p[0].heavyCorner() : "";
  };
  std::string lrtb = corner("lrtb"), rltb = corner("rltb");
  EXPECT_NE(lrtb, "");
  EXPECT_NE(lrtb, rltb) << "the first page moves to the other half";

  std::vector<PageInk> plain = printed(two, {"ATTR integer number-up 2"});
  std::vector<PageInk> bordered = printed(two, {"ATTR integer number-up 2", "ATTR keyword page-border single"});
  ASSERT_EQ(plain.size(), 1u);
  ASSERT_EQ(bordered.size(), 1u);
  EXPECT_GT(bordered[0].dots, plain[0].dots);

  for (const char* printer : {"z", "ps"}) {
    std::vector<PageInk> reverse =
        printed(two, {"ATTR keyword page-delivery reverse-order"}, "application/pdf", printer);
    ASSERT_EQ(reverse.size(), 2u) << printer;
    EXPECT_GT(reverse[1].dots, reverse[0].dots) << printer << ": the first page, with its square, comes last";
  }
}

// job-creation-attributes-supported names what each kind of model takes,
// and each attribute it names that has values has them advertised.
TEST_F(AppLayout, EachModelListsTheJobAttributesItTakes) {
  const std::set<std::string> layout = {"number-up", "number-up-layout", "orientation-requested", "page-border",
                                        "page-delivery", "page-ranges", "print-scaling"};
  // Named without a -supported list of values of their own.
  const std::set<std::string> valueless = {"document-format", "document-name", "ipp-attribute-fidelity",
                                           "job-hold-until-time", "job-name"};
  struct Case {
    const char* printer;
    std::set<std::string> also;  // beyond the layout
    std::set<std::string> not_;
  };
  const Case cases[] = {
      {"z", {"copies", "media-col", "sides", "print-darkness", "printer-resolution"}, {"feed-edge"}},
      {"ps", {"copies", "media-col", "sides"}, {"print-darkness", "feed-edge"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printer);
    std::set<std::string> listed;
    std::stringstream in(server_->printerAttribute(c.printer, "job-creation-attributes-supported"));
    for (std::string name; std::getline(in, name, ',');) EXPECT_TRUE(listed.insert(name).second) << name << " twice";
    for (const std::string& name : layout) EXPECT_EQ(listed.count(name), 1u) << name;
    for (const std::string& name : c.also) EXPECT_EQ(listed.count(name), 1u) << name;
    for (const std::string& name : c.not_) EXPECT_EQ(listed.count(name), 0u) << name;
    for (const std::string& name : listed) {
      if (!valueless.count(name)) {
        EXPECT_NE(server_->printerAttribute(c.printer, name + "-supported"), "") << name;
      }
    }
  }
}

}  // namespace
