// Whole jobs through the Printer Application, read back with the stream
// inspector and compared with the same document through the filter run
// the CUPS way.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "app_fixture.h"
#include "model_classes.h"

using namespace testing_support;

namespace {

struct Printer {
  const char* name;
  const char* driver;
  const char* ppd;
};
const Printer kC = {"c", "tesvel_tc1110", "tesvel-tc1110.ppd"};
const Printer kZ = {"z", "tesvel_tz3010", "tesvel-tz3010.ppd"};
const Printer kM = {"m", "tesvel_tm4010", "tesvel-tm4010.ppd"};
const Printer kTxa = {"txa", "tesvel_txa", "tesvel-txa.ppd"};

class AppJobs : public SharedServerTest {
 protected:
  static void SetUpTestSuite() {
    std::vector<std::pair<std::string, std::string>> printers;
    for (const Printer& p : {kC, kZ, kM, kTxa}) printers.emplace_back(p.name, p.driver);
    start_server(printers);
  }

  // The filter run directly on `raster` as CUPS would run it for the job.
  static std::string direct(const Printer& p, const AppJob& job, const std::string& raster,
                            const std::string& options, int copies = 1) {
    TempDir dir;
    writeFile(dir.file("in.ras"), raster);
    ProcessOptions opts;
    opts.env = {"PPD=" + ppdPath(p.ppd)};
    opts.stdinFromDevNull = true;
    return runProcess({binPath("rasterfilter"), std::to_string(job.id), "tester", "job",
                       std::to_string(copies), options, dir.file("in.ras")},
                      opts)
        .out;
  }

  // Prints the case's document with its attributes and compares the
  // stream with the CUPS chain's for its PPD options.
  void expect_as_ppd_options(const TempDir& dir, const struct AttributeCase& c);

};

std::string file_of(const TempDir& dir, const std::string& name, const std::string& data) {
  writeFile(dir.file(name), data);
  return dir.file(name);
}

TEST_F(AppJobs, EachDialectPrintsAPwgRasterJobAsTheFilterDoesForCups) {
  TempDir dir;
  std::string pwg = pwgRaster(makePdf(2));
  std::string file = file_of(dir, "doc.pwg", pwg);
  for (const Printer& p : {kC, kZ, kM}) {
    SCOPED_TRACE(p.driver);
    AppJob job = server_->print(p.name, file, "image/pwg-raster");
    ASSERT_EQ(job.state, "completed") << job.message << job.ipptool;
    EXPECT_EQ(job.message, "Printed 2 pages.");
    std::string expected = direct(p, job, pwg, "PageSize=A4 Duplex=None InputSlot=Auto Density=2");
    ASSERT_NE(expected, "");
    EXPECT_EQ(streamDifference(job.stream, expected), "");
  }
}

TEST_F(AppJobs, APdfJobDecodesToItsPagesAtThePaperSize) {
  TempDir dir;
  std::string file = file_of(dir, "letter.pdf", makePdf(3, 612, 792));
  AppJob job = server_->print(kM.name, file, "application/pdf", {"ATTR keyword media na_letter_8.5x11in"});
  ASSERT_EQ(job.state, "completed") << job.message;
  ProcessResult check = inspectStream(job.stream, {"--check", "--list"});
  EXPECT_EQ(check.exitStatus, 0) << check.out;
  // Letter on these printers: paper code 1, 4864 x 6368 pixels.
  EXPECT_EQ(countOf(check.out, "PAPER_SIZE_PARAM=1 "), 3u);
  EXPECT_EQ(countOf(check.out, "IMG_WIDTH_PARAM=4864 IMG_HEIGHT_PARAM=6368"), 3u);
  EXPECT_NE(check.out.find("check ok dialect=PLATFORM_M pages=3"), std::string::npos);
}

// What a job's IPP attributes become on the printer: the same stream as
// the CUPS chain gives for the equivalent PPD options, and one fact the
// printer's documentation gives for it.
struct AttributeCase {
  std::string what;
  const Printer* printer;
  int pages;
  int widthPt, heightPt;  // the document's page
  std::vector<std::string> attrs;
  std::string cupsOptions;
  int copies;
  std::string fact;  // in the inspector's listing
  size_t count;      // how often
};

TEST_F(AppJobs, JobAttributesReachThePrinterAsThePpdOptionsDo) {
  const std::vector<AttributeCase> cases = {
      {"A4 by default", &kZ, 1, 595, 842, {}, "", 1, "paperCode=1 ", 1},
      {"Letter", &kZ, 1, 612, 792, {"ATTR keyword media na_letter_8.5x11in"}, "PageSize=Letter", 1,
       "paperCode=2 ", 1},
      {"A5 fed long edge first", &kZ, 1, 420, 595,
       {"ATTR keyword media iso_a5_148x210mm", "ATTR boolean tesvel-feed-long-edge true"},
       "PageSize=A5 FeedLongEdge=True", 1, "imageWidth=4736 imageHeight=3264 ", 1},  // the page turned
      {"two-sided on a printer with a duplex unit", &kM, 3, 595, 842,
       {"ATTR keyword sides two-sided-long-edge"}, "Duplex=DuplexNoTumble", 1, "START_PAGE_CMD", 4},
      // By hand: fronts 1 and 3, then the backs last to first.
      {"two-sided on a printer without one", &kZ, 3, 595, 842, {"ATTR keyword sides two-sided-short-edge"},
       "Duplex=DuplexTumble", 1, "pageNumber=", 4},
      {"collated copies", &kC, 2, 595, 842,
       {"ATTR integer copies 2", "ATTR keyword multiple-document-handling separate-documents-collated-copies"},
       "Collate=True", 2, "cmdPageSpec", 4},
      {"uncollated copies", &kC, 2, 595, 842,
       {"ATTR integer copies 2", "ATTR keyword multiple-document-handling separate-documents-uncollated-copies"},
       "", 2, "copies=2 ", 2},
      {"darkest", &kZ, 1, 595, 842, {"ATTR integer print-darkness 100"}, "Density=4", 1, "density=4 ", 1},
      // Toner save is density 0 on the printer.
      {"draft is toner save", &kC, 1, 595, 842, {"ATTR enum print-quality 3"}, "TonerMode=True", 1,
       "density=0 ", 1},
      {"manual feed", &kM, 1, 595, 842, {"ATTR collection media-col { MEMBER keyword media-source manual }"},
       "InputSlot=ManualFeed", 1, "INPUT_TRAY_PARAM=1 ", 1},
      {"1200 dpi", &kC, 1, 595, 842, {"ATTR resolution printer-resolution 1200dpi"}, "Resolution=1200dpi", 1,
       "xResolution=120 ", 1},
  };
  TempDir dir;
  for (const AttributeCase& c : cases) expect_as_ppd_options(dir, c);
}

void AppJobs::expect_as_ppd_options(const TempDir& dir, const AttributeCase& c) {
  SCOPED_TRACE(c.what);
  std::string pdf = makePdf(c.pages, c.widthPt, c.heightPt);
  AppJob job = server_->print(c.printer->name, file_of(dir, "doc.pdf", pdf), "application/pdf", c.attrs);
  ASSERT_EQ(job.state, "completed") << job.message << job.ipptool;
  // Every copy is a page printed, whether the printer or the filter makes it.
  int printed = c.pages * c.copies;
  EXPECT_EQ(job.message, "Printed " + std::to_string(printed) + (printed == 1 ? " page." : " pages."));
  std::string raster = rasterFromPdf(ppdPath(c.printer->ppd), pdf, c.cupsOptions, c.copies);
  std::string expected = direct(*c.printer, job, raster, c.cupsOptions, c.copies);
  EXPECT_EQ(streamDifference(job.stream, expected), "");
  EXPECT_EQ(countOf(inspectStream(job.stream, {}).out, c.fact), c.count);
}

// The rows a planted fault in the mapping would show in: every vendor
// setting once, print-darkness on both sides of each density step, and
// every paper of one model per dialect, asked for by its dimensions (so
// the application's own size names are no part of the question) and
// compared with the PPD size of the printer's paper table.
TEST_F(AppJobs, EveryVendorSettingDarknessStepAndPaperReachesThePrinterAsThePpdOptionsDo) {
  std::vector<AttributeCase> cases = {
      {"negative print", &kZ, 1, 595, 842, {"ATTR boolean tesvel-negative-print true"}, "NegativePrint=True", 1,
       "cmdPageSpec", 1},
      {"image rotation", &kC, 1, 595, 842, {"ATTR boolean tesvel-image-rotation true"}, "ImageRotation=True", 1,
       "cmdPageSpec", 1},
      {"fine mode", &kZ, 1, 595, 842, {"ATTR boolean tesvel-fine-mode true"}, "FineMode=True", 1, "fineMode=1", 1},
      {"1200 dpi quality", &kM, 1, 595, 842, {"ATTR boolean tesvel-1200dpi-quality true"}, "DPI1200=True", 1,
       "START_PAGE_CMD", 1},
      {"manual duplex", &kM, 2, 595, 842, {"ATTR boolean tesvel-manual-duplex true"}, "ManualDuplex=True", 1,
       "START_PAGE_CMD", 2},
  };
  const std::pair<const char*, const char*> blank[] = {
      {"on", "True"}, {"off", "False"}, {"printer-setting", "PrinterSetting"}};
  for (const auto& [value, choice] : blank)
    cases.push_back({std::string("blank suppress ") + value, &kTxa, 1, 595, 842,
                     {std::string("ATTR keyword tesvel-blank-suppress ") + value},
                     std::string("BlankSuppress=") + choice, 1, "cmdPageSpec", 1});
  // Printer default 50 plus the job's darkness, in five steps of 25 with
  // the step at the half: 12 | 13, 37 | 38, 62 | 63, 87 | 88.
  const int steps[][2] = {{-38, 0}, {-37, 1}, {-13, 1}, {-12, 2}, {12, 2}, {13, 3}, {37, 3}, {38, 4}};
  for (const auto& s : steps) {
    std::string density = "density=" + std::to_string(s[1]) + " ";
    cases.push_back({"print-darkness " + std::to_string(s[0]), &kC, 1, 595, 842,
                     {"ATTR integer print-darkness " + std::to_string(s[0])}, "Density=" + std::to_string(s[1]), 1,
                     density, 1});
  }
#if defined(__SANITIZE_ADDRESS__)
  // Every paper row runs the same code with other numbers (the filter's
  // paper tables are checked whole under the sanitizers by the pages
  // tests): three a table keep the path covered without minutes of
  // Ghostscript.
  const size_t papersPerTable = 3;
#else
  const size_t papersPerTable = SIZE_MAX;
#endif
  const std::pair<const Printer*, const rf::PaperEntry*> tables[] = {
      {&kC, rf::PaperTableC1}, {&kZ, rf::PaperTableZ}, {&kM, rf::PaperTableM}};
  for (const auto& [printer, table] : tables) {
    std::vector<std::pair<int, int>> seen;
    for (const rf::PaperEntry* e = table; e->widthPt != -1 && seen.size() < papersPerTable; ++e) {
      if (std::find(seen.begin(), seen.end(), std::make_pair(e->widthPt, e->heightPt)) != seen.end()) continue;
      seen.emplace_back(e->widthPt, e->heightPt);
      auto mm = [](int pt) { return std::to_string((pt * 2540 + 36) / 72); };
      std::string size = "ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension " +
                         mm(e->widthPt) + " MEMBER integer y-dimension " + mm(e->heightPt) + " } }";
      cases.push_back({std::string(printer->name) + " " + e->name, printer, 1, e->widthPt, e->heightPt, {size},
                       std::string("PageSize=") + e->name, 1,
                       (printer == &kM ? "PAPER_SIZE_PARAM=" : "paperCode=") + std::to_string(e->paperCode) + " ", 1});
    }
  }
  TempDir dir;
  for (const AttributeCase& c : cases) expect_as_ppd_options(dir, c);
}

TEST_F(AppJobs, ManualDuplexSendsOddPagesFirstAndShowsThePromptOnThePrinter) {
  TempDir dir;
  const std::string prompt = "Turn the printed stack over, put it back in the tray and press OK.";
  // While the printer waits for the stack, the prompt is its message.
  std::atomic<bool> printed{false}, prompted{false};
  std::thread watch([&] {
    while (!printed) {
      if (server_->printerAttribute(kZ.name, "printer-state-message") == prompt) prompted = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  AppJob job = server_->print(kZ.name, file_of(dir, "doc.pdf", makePdf(3)), "application/pdf",
                              {"ATTR boolean tesvel-manual-duplex true"});
  printed = true;
  watch.join();
  ASSERT_EQ(job.state, "completed") << job.message;
  EXPECT_TRUE(prompted);
  EXPECT_NE(server_->printerAttribute(kZ.name, "printer-state-message"), prompt) << "the prompt stays after the job";
  ProcessResult list = inspectStream(job.stream, {});
  // Fronts 1 and 3, then the backs last to first: a blank 4, then 2.
  std::string order;
  for (size_t at = list.out.find("pageNumber="); at != std::string::npos; at = list.out.find("pageNumber=", at + 1))
    order += list.out[at + 11];
  EXPECT_EQ(order, "1342");
  // The prompt went from the printer with the job: the job's last word is
  // what it printed.
  EXPECT_EQ(job.message, "Printed 3 pages.");
  EXPECT_NE(server_->log().find(prompt), std::string::npos);
}

TEST_F(AppJobs, ACancelledJobEndsOnAWholePageAndLeavesNothingBehind) {
  TempDir dir;
  std::string file = file_of(dir, "long.pdf", makePdf(20));
  std::thread cancel([&] {
    // Cancel as soon as the printer has its first bytes.
    for (int i = 0; i < 6000; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::vector<std::string> out = dirEntries(server_->outDir(kC.name));
      if (!out.empty() && !readFile(server_->outDir(kC.name) + "/" + out[0]).empty()) {
        server_->app({"cancel", "-d", kC.name, "-a"});
        return;
      }
    }
  });
  AppJob job = server_->print(kC.name, file, "application/pdf", {"ATTR resolution printer-resolution 1200dpi"});
  cancel.join();
  EXPECT_EQ(job.state, "canceled") << job.message;
  ProcessResult check = inspectStream(job.stream, {"--check"});
  EXPECT_EQ(check.exitStatus, 0) << check.out;
  EXPECT_EQ(check.out.find("pages=20"), std::string::npos) << "the job was not cut short";
  // The children go at once; PAPPL drops the job's saved attributes with
  // its next state save.
  for (int i = 0; i < 100 && !(server_->children().empty() && server_->spoolFiles().empty()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(server_->children().empty());
  EXPECT_TRUE(server_->spoolFiles().empty()) << testing::PrintToString(server_->spoolFiles());
}

}  // namespace
