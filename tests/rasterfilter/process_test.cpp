// rasterfilter as CUPS runs it: whole processes on real and crafted raster.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "ppd_fixture.h"
#include "test_support.h"

using namespace testing_support;

namespace {

const std::string kZModel = "tesvel-tz3010.ppd";  // PLATFORM_Z, manual duplex printer

ProcessResult runFilter(const std::vector<std::string>& args, const std::string& stdinData,
                        const std::string& ppd) {
  std::vector<std::string> argv = {binPath("rasterfilter")};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions opts;
  opts.stdinData = stdinData;
  opts.stdinFromDevNull = stdinData.empty();
  if (ppd.empty()) opts.unsetEnv.push_back("PPD");
  else opts.env.push_back("PPD=" + ppd);
  return runProcess(argv, opts);
}

ProcessResult runOnRaster(const std::string& raster, const std::string& ppd = ppdPath(kZModel),
                          const std::string& options = "") {
  return runFilter({"7", "alice", "report", "1", options}, raster, ppd);
}

std::vector<std::string> pageLines(const std::string& err) {
  std::vector<std::string> out;
  std::regex re("^PAGE: .*$", std::regex::multiline);
  for (auto it = std::sregex_iterator(err.begin(), err.end(), re); it != std::sregex_iterator(); ++it)
    out.push_back(it->str());
  return out;
}

bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

RasterPage greyPage(unsigned w = 595, unsigned h = 842) {
  RasterPage p{greyHeader(w, h), {0, 128, 255}};
  return p;
}

}  // namespace

TEST(RasterFilterStart, WrongArgumentCountsPrintOnlyTheUsage) {
  for (size_t n : {4u, 7u}) {  // five and eight arguments counting argv[0]
    std::vector<std::string> args(n, "1");
    ProcessResult r = runFilter(args, "", ppdPath(kZModel));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "ERROR: job-id user title copies options [file]\n");
    EXPECT_EQ(r.out, "");
  }
}

TEST(RasterFilterStart, FailuresBeforeThePageLoopEndWithStatusOne) {
  ProcessResult r = runFilter({"1", "u", "t", "1", "", "/nonexistent/job.ras"}, "", ppdPath(kZModel));
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(has(r.err, "ERROR: Unable to open raster file - : No such file or directory")) << r.err;

  std::string raster = writeRaster({greyPage()});
  r = runOnRaster(raster, "");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(has(r.err, "ERROR: The PPD environment variable is not set")) << r.err;
  EXPECT_EQ(r.out, "");

  r = runOnRaster(raster, "/nonexistent/printer.ppd");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(has(r.err, "ERROR: Unable to open the PPD file /nonexistent/printer.ppd")) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(pageLines(r.err).empty());
}

TEST(RasterFilterStart, InputWithoutAPageHeaderFindsNoPages) {
  std::string full = writeRaster({greyPage()});
  struct Case {
    const char* what;
    std::string input;
  } cases[] = {
      {"empty stream", ""},
      {"not raster", "%!PS-Adobe-3.0\nshowpage\n"},
      {"sync word only", full.substr(0, 4)},
      {"truncated header", full.substr(0, 700)},
  };
  for (const Case& c : cases) {
    ProcessResult r = runOnRaster(c.input);
    EXPECT_EQ(r.exitStatus, 1) << c.what;
    EXPECT_TRUE(has(r.err, "ERROR: No pages found!\n")) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
  }
}

TEST(RasterFilterPages, ARealMultiPageJobFromTheCupsChainReportsEveryPage) {
  std::string raster = rasterFromPdf(ppdPath(kZModel), makePdf(3));
  ProcessResult r = runOnRaster(raster);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(pageLines(r.err), (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 1", "PAGE: 3 1"}));
  EXPECT_TRUE(has(r.err, "DEBUG: cupsWidth = 4958\n")) << r.err;  // A4 at 600 dpi
  EXPECT_TRUE(has(r.err, "DEBUG: cupsBitsPerPixel = 8\n"));
  EXPECT_TRUE(has(r.err, "INFO: Printing page 3, 0% complete...\n"));
  EXPECT_TRUE(has(r.err, "INFO: Ready to print.\n"));
}

TEST(RasterFilterPages, CupsRunsTheFilterThatThePpdNames) {
  // The PPD's own filter line, with this build's rasterfilter in a
  // private filter directory, through the whole CUPS chain.
  TempDir dir;
  mkdir(dir.file("sb").c_str(), 0755);
  mkdir(dir.file("sb/filter").c_str(), 0755);
  for (const char* f : {"pdftopdf", "gstoraster"})
    symlink((std::string("/usr/lib/cups/filter/") + f).c_str(), dir.file(std::string("sb/filter/") + f).c_str());
  symlink(binPath("rasterfilter").c_str(), dir.file("sb/filter/rasterfilter").c_str());
  writeFile(dir.file("cups-files.conf"), "ServerBin " + dir.file("sb") + "\n");
  writeFile(dir.file("doc.pdf"), makePdf(2));
  ProcessOptions opts;
  opts.stdinFromDevNull = true;
  ProcessResult r = runProcess({"/usr/sbin/cupsfilter", "-c", dir.file("cups-files.conf"), "-p",
                                ppdPath("tesvel-tm4010.ppd"), "-e", "-m", "printer/tesvel",
                                dir.file("doc.pdf")},
                               opts);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(has(r.err, "INFO: rasterfilter (PID")) << r.err;
  EXPECT_EQ(pageLines(r.err), (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 1"}));
  EXPECT_TRUE(has(r.err, "DEBUG: ##platform = 3, ##autoduplex = 0\n"));
}

TEST(RasterFilterPages, ClassComesFromThePpdTextOnlyForUnknownModels) {
  TempDir dir;
  std::string raster = writeRaster({greyPage(420, 595)});
  struct Case {
    const char* model;
    int cls;
  } cases[] = {
      {"Tesvel Unknown Series", 2},    // the PPD text decides
      {"Tesvel TM4010 Series", 3},     // a known model keeps its class
      {"Tesvel TXA Series", 2},        // ModelListA: class from the PPD only
  };
  for (const Case& c : cases) {
    std::string ppd = dir.file("p.ppd");
    writeFile(ppd, makePpdText(c.model, "*cupsIPPReason PlatForm/platform_z: \"\"\n"));
    ProcessResult r = runOnRaster(raster, ppd);
    EXPECT_EQ(r.exitStatus, 0) << c.model;
    EXPECT_TRUE(has(r.err, "DEBUG: ##platform = " + std::to_string(c.cls) + ", ##autoduplex = 0\n"))
        << c.model << "\n" << r.err;
  }
}

TEST(RasterFilterPages, AModelOfNoClassGetsNoPrinterDataAtAll) {
  TempDir dir;
  std::string ppd = dir.file("p.ppd");
  writeFile(ppd, makePpdText("Tesvel Unknown Series"));
  ProcessResult r = runOnRaster(writeRaster({greyPage(420, 595)}), ppd);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(has(r.err, "ERROR: The model \"Tesvel Unknown Series\" is not supported by this driver.\n"))
      << r.err;
}

TEST(RasterFilterPages, ModelListAModelsDecideTheirResolutionOnce) {
  std::string raster = writeRaster({greyPage(420, 595), greyPage(420, 595)});
  ProcessResult r = runOnRaster(raster, ppdPath("tesvel-txa.ppd"), "DPI1200=True");
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_TRUE(has(r.err, "2==is1200dpiprint(argv[5]) 开启 1200 DPI \n")) << r.err;
  r = runOnRaster(raster, ppdPath("tesvel-txa.ppd"), "noDPI1200");
  EXPECT_TRUE(has(r.err, "2==is1200dpiprint(argv[5]) 开启 600 DPI \n"));
  r = runOnRaster(raster, ppdPath(kZModel), "DPI1200=True");
  EXPECT_FALSE(has(r.err, "is1200dpiprint"));
}

TEST(RasterFilterPages, ManualDuplexSupportIsReadFromThePpdOnEveryPage) {
  std::string raster = writeRaster({greyPage(420, 595), greyPage(420, 595)});
  ProcessResult r = runOnRaster(raster, ppdPath("tesvel-txd.ppd"));
  EXPECT_EQ(r.exitStatus, 0);
  size_t first = r.err.find("-------SupportManualDuplex is 0\n");
  ASSERT_NE(first, std::string::npos) << r.err;
  EXPECT_NE(r.err.find("-------SupportManualDuplex is 0\n", first + 1), std::string::npos);
}

TEST(RasterFilterBadInput, PagesThatCannotBePrintedAreSkippedAndTheRestPrint) {
  RasterPage mono{greyHeader(420, 595), {}};
  mono.header.cupsBitsPerColor = mono.header.cupsBitsPerPixel = 1;
  mono.header.cupsBytesPerLine = (mono.header.cupsWidth + 7) / 8;
  RasterPage rgb{greyHeader(420, 595), {}};
  rgb.header.cupsBitsPerPixel = 24;
  rgb.header.cupsNumColors = 3;
  rgb.header.cupsColorSpace = CUPS_CSPACE_RGB;
  rgb.header.cupsBytesPerLine = rgb.header.cupsWidth * 3;
  for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED, CUPS_RASTER_WRITE_PWG}) {
    std::string raster = writeRaster({greyPage(420, 595), mono, rgb, greyPage(420, 595)}, mode);
    ProcessResult r = runOnRaster(raster);
    EXPECT_EQ(r.exitStatus, 0) << mode;
    EXPECT_EQ(pageLines(r.err), (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 1"})) << mode;
    EXPECT_TRUE(has(r.err, "ERROR: Skipping a raster page that cannot be printed: raster is not 8 bits per pixel\n"));
  }
}

TEST(RasterFilterBadInput, AbsurdHeadersAndCutStreamsNeverCrash) {
  std::string good = writeRaster({greyPage(420, 595)}, CUPS_RASTER_WRITE);
  struct Case {
    const char* what;
    std::string raster;
    int status;
  } cases[] = {
      {"page cut after 10 lines", good.substr(0, 4 + 1796 + 3500 * 10), 0},
      {"page without lines", good.substr(0, 4 + 1796), 0},
  };
  for (const Case& c : cases) {
    ProcessResult r = runOnRaster(c.raster);
    EXPECT_EQ(r.exitStatus, c.status) << c.what << "\n" << r.err;
  }

  // Headers the raster library still accepts, with absurd sizes.
  struct Absurd {
    const char* what;
    void (*edit)(cups_page_header2_t&);
  } absurd[] = {
      {"line length near 2^31",
       [](cups_page_header2_t& h) { h.cupsWidth = h.cupsBytesPerLine = 0x7ffffff0u; }},
      {"height 2^32-1", [](cups_page_header2_t& h) { h.cupsHeight = 0xffffffffu; }},
      {"page size 0", [](cups_page_header2_t& h) { h.PageSize[0] = h.PageSize[1] = 0; }},
      {"resolution 0", [](cups_page_header2_t& h) { h.HWResolution[0] = 0; }},
  };
  for (const Absurd& a : absurd) {
    RasterPage bad{greyHeader(420, 595), {}};
    a.edit(bad.header);
    bad.linesToWrite = 0;
    std::string raster = writeRaster({bad}, CUPS_RASTER_WRITE) + std::string(20000, '\x55');
    ProcessResult r = runOnRaster(raster);
    EXPECT_LT(r.exitStatus, 2) << a.what << "\n" << r.err;  // no crash, no hang
    EXPECT_TRUE(pageLines(r.err).empty()) << a.what;
    EXPECT_EQ(r.out, "") << a.what;
  }
}
