// Whole filter runs on raster from libcups's writer: collated copies,
// manual duplex, blank back sides, cancellation and the colour-management
// path, read back by the stream inspector.  Every run has a private
// $TMPDIR that must be empty when the filter has gone.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <csignal>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cms_records.h"
#include "halftone.h"
#include "model_classes.h"
#include "stores_test_util.h"
#include "test_support.h"

using namespace testing_support;
using stores_test::dirEntries;
using stores_test::FilterRun;
using stores_test::inspectorListing;
using stores_test::pageSequence;

namespace {

const char kPrompt[] = "INFO:Turn the printed stack over";

bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

std::vector<std::string> seq(std::initializer_list<const char*> items) {
  return std::vector<std::string>(items.begin(), items.end());
}

// A small page (fast to convert) of one grey level.
RasterPage smallPage(unsigned copies = 1, uint8_t grey = 255) {
  RasterPage p{greyHeader(144, 144), {grey}};
  p.header.NumCopies = copies;
  return p;
}

std::string rasterOf(int pages, unsigned copies = 1) {
  return writeRaster(std::vector<RasterPage>(size_t(pages), smallPage(copies)));
}

// One job as CUPS runs it, in a private $TMPDIR.
struct Job {
  Job(std::string ppdName, std::string opts, std::string data, std::string prog = binPath("rasterfilter"),
      std::string cms = "")
      : ppd(std::move(ppdName)), options(std::move(opts)), raster(std::move(data)), program(std::move(prog)),
        cmsLibrary(std::move(cms)) {}
  std::string ppd, options, raster, program, cmsLibrary;
};

struct Result {
  int status = -1;
  std::string out, err;
  std::vector<std::string> leftovers;  // files left in $TMPDIR
};

// Runs the jobs side by side (a manual-duplex job waits 10 seconds at its end).
std::vector<Result> runJobs(const std::vector<Job>& jobs) {
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::unique_ptr<FilterRun>> runs;
  for (const Job& j : jobs) {
    dirs.push_back(std::make_unique<TempDir>());
    runs.push_back(std::make_unique<FilterRun>(j.program, ppdPath(j.ppd), j.options, dirs.back()->path(),
                                               j.cmsLibrary));
  }
  for (size_t i = 0; i < jobs.size(); ++i) {
    runs[i]->feed(jobs[i].raster);
    runs[i]->closeInput();
  }
  std::vector<Result> results;
  for (size_t i = 0; i < jobs.size(); ++i) {
    Result r;
    r.status = runs[i]->finish();
    r.out = runs[i]->out;
    r.err = runs[i]->err;
    r.leftovers = dirEntries(dirs[i]->path());
    results.push_back(r);
  }
  return results;
}

Result runJob(const Job& job) { return runJobs({job})[0]; }

// The copies field of every page record on the stream.
std::vector<int> pageCopies(const std::string& stream) {
  std::vector<int> out;
  std::istringstream lines(inspectorListing(stream));
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find(" copies=");
    if (line.rfind("cmdPageSpec ", 0) == 0 && at != std::string::npos) out.push_back(std::stoi(line.substr(at + 8)));
  }
  return out;
}

// The inspector's line for each page it decoded.
std::vector<std::string> pageLines(const std::string& stream) {
  std::vector<std::string> out;
  std::istringstream lines(inspectorListing(stream));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("page ", 0) == 0) out.push_back(line);
  return out;
}

}  // namespace

TEST(StoredPagesProcess, ManualDuplexSendsTheBackSidesLastToFirstAfterThePrompt) {
  struct Case {
    const char* what;
    int pages;
    unsigned copies;
    const char* options;
    std::vector<std::string> expected;
  } cases[] = {
      {"5 pages", 5, 1, "Duplex=DuplexNoTumble",
       seq({"page 1", "page 3", "page 5", "duplex", "page 6", "page 4", "page 2", "eoj"})},
      {"5 pages, reverse output order", 5, 1, "Duplex=DuplexNoTumble outputorder=true",
       seq({"page 1", "page 3", "page 5", "duplex", "page 4", "page 2", "page 6", "eoj"})},
      {"4 pages", 4, 1, "Duplex=DuplexNoTumble",
       seq({"page 1", "page 3", "duplex", "page 4", "page 2", "eoj"})},
      {"5 pages, 2 collated copies", 5, 2, "Duplex=DuplexNoTumble Collate=true",
       seq({"page 1", "page 3", "page 5", "page 1", "page 3", "page 5", "duplex", "page 6", "page 4", "page 2",
            "page 6", "page 4", "page 2", "eoj"})},
  };
  std::vector<Job> jobs;
  for (const Case& c : cases) jobs.push_back({"tesvel-tz3010.ppd", c.options, rasterOf(c.pages, c.copies)});
  const std::vector<Result> results = runJobs(jobs);
  for (size_t i = 0; i < results.size(); ++i) {
    const Case& c = cases[i];
    const Result& r = results[i];
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.err;
    EXPECT_EQ(pageSequence(r.out), c.expected) << c.what;
    EXPECT_EQ(stores_test::checkStream(r.out), "") << c.what;
    EXPECT_TRUE(r.leftovers.empty()) << c.what;
    // The prompt comes after the last page was read and before the end.
    const size_t lastPage = r.err.find("PAGE: " + std::to_string(c.pages) + " ");
    const size_t prompt = r.err.find(kPrompt);
    const size_t ready = r.err.find("INFO: Ready to print.\n");
    EXPECT_TRUE(lastPage < prompt && prompt < ready) << c.what << "\n" << r.err;
    EXPECT_TRUE(has(r.err, "DEBUG: ##ManualDuplex = 1, type is 0\n")) << c.what;
  }
}

TEST(StoredPagesProcess, CollatedCopiesAreReplayedFromTheStore) {
  struct Case {
    const char* what;
    const char* options;
    std::vector<std::string> expected;
    std::vector<int> copies;
  } cases[] = {
      {"collated", "Collate=true", seq({"page 1", "page 2", "page 1", "page 2", "page 1", "page 2", "eoj"}),
       {1, 1, 1, 1, 1, 1}},
      {"not collated", "", seq({"page 1", "page 2", "eoj"}), {3, 3}},
  };
  for (const Case& c : cases) {
    const Result r = runJob({"tesvel-tz3010.ppd", c.options, rasterOf(2, 3)});
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.err;
    EXPECT_EQ(pageSequence(r.out), c.expected) << c.what;
    EXPECT_EQ(pageCopies(r.out), c.copies) << c.what;
    EXPECT_EQ(stores_test::checkStream(r.out), "") << c.what;
    EXPECT_TRUE(r.leftovers.empty()) << c.what;
  }
}

TEST(StoredPagesProcess, AutomaticDuplexGivesAnOddJobAWhiteBack) {
  const auto numbered = seq({"page 1", "page 2", "page 3", "page 4", "eoj"});
  struct Case {
    const char* ppd;
    std::vector<std::string> expected;
  } cases[] = {
      {"tesvel-tc1110.ppd", numbered},
      {"tesvel-txd.ppd", numbered},
      {"tesvel-tm4010.ppd", seq({"page", "page", "page", "page", "eoj"})},
  };
  for (const Case& c : cases) {
    // Grey pages, so that only the added page is white.
    const Result r = runJob({c.ppd, "Duplex=DuplexNoTumble",
                             writeRaster(std::vector<RasterPage>(3, smallPage(1, 100)))});
    EXPECT_EQ(r.status, 0) << c.ppd << "\n" << r.err;
    EXPECT_EQ(pageSequence(r.out), c.expected) << c.ppd;
    const std::vector<std::string> pages = pageLines(r.out);
    ASSERT_EQ(pages.size(), 4u) << c.ppd;
    for (size_t i = 0; i < pages.size(); ++i)
      EXPECT_EQ(has(pages[i], " black=0 "), i == 3) << c.ppd << ": " << pages[i];
    EXPECT_EQ(stores_test::checkStream(r.out), "") << c.ppd;
  }
}

TEST(StoredPagesProcess, SigtermStopsTheJobWithoutReplaysAndLeavesNoStore) {
  struct Case {
    const char* what;
    const char* options;
    std::vector<std::string> expected;
  } cases[] = {
      {"collated copies", "Collate=true", seq({"page 1", "page 2", "eoj"})},
      {"manual duplex", "Duplex=DuplexNoTumble Collate=true", seq({"page 1", "eoj"})},
  };
  const std::string two = rasterOf(2, 3), four = rasterOf(4, 3);
  ASSERT_EQ(four.compare(0, two.size(), two), 0) << "the longer raster starts with the shorter";
  for (const Case& c : cases) {
    TempDir tmp;
    FilterRun run(binPath("rasterfilter"), ppdPath("tesvel-tz3010.ppd"), c.options, tmp.path());
    ASSERT_TRUE(run.started());
    run.feed(two);
    ASSERT_TRUE(run.waitFor("INFO: Printing page 2, 0% complete", 60)) << run.err;
    run.signal(SIGTERM);
    run.waitFor("never", 1);
    run.feed(four.substr(two.size()));
    EXPECT_EQ(run.finish(), 0) << c.what << "\n" << run.err;
    EXPECT_EQ(pageSequence(run.out), c.expected) << c.what;
    EXPECT_FALSE(has(run.err, kPrompt)) << c.what;
    EXPECT_FALSE(has(run.err, "PAGE: 3")) << c.what;
    EXPECT_TRUE(dirEntries(tmp.path()).empty()) << c.what;
  }
}

TEST(StoredPagesProcess, AManualDuplexJobOfMoreThan2048PagesKeepsEveryBackSide) {
  const int pages = 2100;
  const Result r = runJob({"tesvel-tz3010.ppd", "Duplex=DuplexNoTumble", rasterOf(pages)});
  EXPECT_EQ(r.status, 0) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
  std::vector<std::string> expected;
  for (int p = 1; p <= pages; p += 2) expected.push_back("page " + std::to_string(p));
  expected.push_back("duplex");
  for (int p = pages; p >= 2; p -= 2) expected.push_back("page " + std::to_string(p));
  expected.push_back("eoj");
  EXPECT_EQ(pageSequence(r.out), expected);
  EXPECT_TRUE(r.leftovers.empty());
}

namespace {

// A PBM (P4) page written by the inspector: its rows of bits.
std::vector<uint8_t> readPbm(const std::string& path, unsigned* width, unsigned* height) {
  std::istringstream in(readFile(path));
  std::string magic;
  in >> magic >> *width >> *height;
  in.get();
  std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return std::vector<uint8_t>(rest.begin(), rest.end());
}

// The grey page the page path builds from a raster of one level: the level
// where raster lines and columns reach, white elsewhere.
std::vector<uint8_t> greyPage(const cups_page_header2_t& h, unsigned width, unsigned height, uint8_t level) {
  std::vector<uint8_t> grey(size_t(width) * height, 255);
  for (unsigned y = 0; y < std::min(height, h.cupsHeight); ++y)
    for (unsigned x = 0; x < std::min(width, h.cupsBytesPerLine); ++x) grey[size_t(y) * width + x] = level;
  return grey;
}

// The stand-in called directly: the oracle for a page of the library.
// factor 2: the 1200-dpi mode, two dots across for every grey pixel.
std::vector<uint8_t> standinPage(std::vector<uint8_t> grey, unsigned width, unsigned height, int factor) {
  void* lib = dlopen(CMS_STANDIN, RTLD_NOW | RTLD_LOCAL);
  if (!lib) return {};
  auto cmsMain = reinterpret_cast<rf::QuorvaCMSmainFn>(dlsym(lib, "QuorvaCMSmain"));
  std::vector<uint8_t> mono(size_t(width) * factor * height / 8);
  rf::CmsSrcData src{0, 36, grey.data(), int32_t(width * height), 0, 0, int16_t(width), int16_t(height),
                     int32_t(width), {}};
  rf::CmsSettings settings{0, 18, 0, 0, 0, 0, 2, {}};
  rf::CmsDstData dst{0,      35, mono.data(), int32_t(mono.size()), 0, 0, int16_t(width), int16_t(height), 0,
                     uint8_t(factor - 1), {}};
  cmsMain(&src, &settings, &dst);
  dlclose(lib);
  return mono;
}

}  // namespace

TEST(StoredPagesProcess, ColourManagedModelsUseTheLibraryWhenItIsThere) {
  const uint8_t level = 90;
  const RasterPage page = smallPage(1, level);
  struct Case {
    const char* what;
    const char* options;
    bool library;
    int factor;  // dots across per grey pixel
  } cases[] = {
      {"stand-in, 600 dpi", "", true, 1},
      {"stand-in, 1200 dpi", "DPI1200", true, 2},
      {"no library", "", false, 1},
  };
  std::vector<Job> jobs;
  for (const Case& c : cases)
    jobs.push_back(c.library ? Job("tesvel-txa.ppd", c.options, writeRaster({page}), binPath("rasterfilter_cms_test"),
                                   CMS_STANDIN)
                             : Job("tesvel-txa.ppd", c.options, writeRaster({page})));
  const std::vector<Result> results = runJobs(jobs);

  std::vector<std::vector<uint8_t>> decoded;
  for (size_t i = 0; i < results.size(); ++i) {
    const Case& c = cases[i];
    const Result& r = results[i];
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("加载CMS 64位库\n", 0), 0u) << r.err;
    TempDir dir;
    writeFile(dir.file("job.prn"), r.out);
    ASSERT_EQ(runProcess({binPath("prndecode"), "--check", "-o", dir.path(), dir.file("job.prn")}).exitStatus, 0)
        << c.what;
    unsigned w = 0, h = 0;
    decoded.push_back(readPbm(dir.file("page-001.pbm"), &w, &h));
    w /= unsigned(c.factor);
    ASSERT_GT(w * h, 0u);
    const std::vector<uint8_t> grey = greyPage(page.header, w, h, level);
    if (c.library) {
      EXPECT_TRUE(has(r.err, "加载CMS库成功\n")) << r.err;
      EXPECT_TRUE(has(r.err, "cms input\nsrcData->cbStructSize  ==36\n")) << r.err;
      EXPECT_TRUE(has(r.err, "srcData->InputDataWidth ==" + std::to_string(w) + "\n")) << r.err;
      EXPECT_TRUE(has(r.err, "cms setting\nsettings->cbStructSize==18\n")) << r.err;
      EXPECT_TRUE(has(r.err, "cms output\ndstData->cbStructSize  ==35\n")) << r.err;
      EXPECT_TRUE(has(r.err, "CMS模块版本号 ==100开始调用CMS模块生成数据QuorvaCMSmain生成数据结束CMS error_num ==0"))
          << r.err;
      EXPECT_FALSE(has(r.err, "HalftoneDither二值化处理")) << c.what;
      EXPECT_TRUE(decoded.back() == standinPage(grey, w, h, c.factor)) << c.what << ": not the library's page";
    } else {
      EXPECT_TRUE(has(r.err, "\n加载CMS库失败")) << r.err;
      EXPECT_TRUE(has(r.err, "HalftoneDither二值化处理")) << r.err;
      EXPECT_FALSE(has(r.err, "cms input"));
      std::vector<uint8_t> screened(size_t(w) * h / 8);
      rf::HalftoneDither(grey.data(), w, int(h), screened.data(), w, 0, 0, rf::PLATFORM_Z);
      EXPECT_TRUE(decoded.back() == screened) << "the page is the built-in screen's";
    }
  }
  ASSERT_EQ(decoded.size(), 3u);
  EXPECT_NE(decoded[0], decoded[2]);
}
