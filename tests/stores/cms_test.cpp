// The colour-management interface: record layouts, fills and their dumps,
// loading, and a page through the stand-in library.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "cms.h"
#include "halftone.h"
#include "job_state.h"
#include "stores_test_util.h"

using namespace rf;
using stores_test::Capture;
using stores_test::StoreFixture;

namespace {

bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

PageStartRecord pageOf(uint16_t width, uint16_t height, uint16_t paperCode) {
  PageStartRecord rec{};
  rec.imageWidth = width;
  rec.imageHeight = height;
  rec.paperCode = paperCode;
  return rec;
}

struct CmsFixture : StoreFixture {
  void TearDown() override {
    unloadCmsLibrary();
    setCmsLibraryPath(nullptr);
    StoreFixture::TearDown();
  }
};

int blackDots(const std::vector<uint8_t>& bits) {
  int n = 0;
  for (uint8_t b : bits) n += __builtin_popcount(b);
  return n;
}

}  // namespace

TEST(CmsRecords, SizesAndOffsetsAreTheOnesTheLibraryExpects) {
  struct Field {
    const char* name;
    size_t offset, expected;
  } fields[] = {
      {"src.cbStructSize", offsetof(CmsSrcData, cbStructSize), 4},
      {"src.inputData", offsetof(CmsSrcData, inputData), 8},
      {"src.cbSize", offsetof(CmsSrcData, cbSize), 16},
      {"src.InputDataX", offsetof(CmsSrcData, InputDataX), 20},
      {"src.InputDataY", offsetof(CmsSrcData, InputDataY), 22},
      {"src.InputDataWidth", offsetof(CmsSrcData, InputDataWidth), 24},
      {"src.InputDataHeight", offsetof(CmsSrcData, InputDataHeight), 26},
      {"src.InputDataLineByte", offsetof(CmsSrcData, InputDataLineByte), 28},
      {"src size", sizeof(CmsSrcData), 36},
      {"settings.cbStructSize", offsetof(CmsSettings, cbStructSize), 4},
      {"settings.PaperSize", offsetof(CmsSettings, PaperSize), 8},
      {"settings.DpiMode", offsetof(CmsSettings, DpiMode), 10},
      {"settings.BitMode", offsetof(CmsSettings, BitMode), 11},
      {"settings.TonerSaveMode", offsetof(CmsSettings, TonerSaveMode), 12},
      {"settings.TonerDensityLevel", offsetof(CmsSettings, TonerDensityLevel), 13},
      {"settings size", sizeof(CmsSettings), 18},
      {"dst.cbStructSize", offsetof(CmsDstData, cbStructSize), 4},
      {"dst.outputData", offsetof(CmsDstData, outputData), 8},
      {"dst.cbSize", offsetof(CmsDstData, cbSize), 16},
      {"dst.OutputDataX", offsetof(CmsDstData, OutputDataX), 20},
      {"dst.OutputDataY", offsetof(CmsDstData, OutputDataY), 22},
      {"dst.OutputDataWidth", offsetof(CmsDstData, OutputDataWidth), 24},
      {"dst.OutputDataHeight", offsetof(CmsDstData, OutputDataHeight), 26},
      {"dst.OutputDataLineByte", offsetof(CmsDstData, OutputDataLineByte), 28},
      {"dst.OutputBitMode", offsetof(CmsDstData, OutputBitMode), 30},
      {"dst size", sizeof(CmsDstData), 35},
  };
  for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
}

TEST_F(CmsFixture, TheDpiModeDecidesTheThreeBitModeFlags) {
  struct Case {
    int dpiMode;
    uint8_t flag;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}};
  JobSettings job = jobSettingsTemplate();
  job[JobKey::Density] = 2;
  job[JobKey::TonerMode] = 1;  // has no say in TonerSaveMode
  cups_page_header2_t header{};
  std::vector<uint8_t> grey(64 * 8, 255), mono(64 * 8 / 8 * 2);
  for (const Case& c : cases) {
    g_job.dpiMode = c.dpiMode;
    CmsSrcData src;
    CmsSettings settings;
    CmsDstData dst;
    fillCmsSource(src, header, grey.data(), pageOf(64, 8, 9));
    fillCmsSettings(settings, job, header, pageOf(64, 8, 9));
    fillCmsDestination(dst, mono.data(), src, static_cast<int>(mono.size()));
    EXPECT_EQ(settings.DpiMode, c.flag) << c.dpiMode;
    EXPECT_EQ(settings.BitMode, c.flag) << c.dpiMode;
    EXPECT_EQ(dst.OutputBitMode, c.flag) << c.dpiMode;
    EXPECT_EQ(settings.TonerSaveMode, 0);
    EXPECT_EQ(settings.TonerDensityLevel, 2);
    EXPECT_EQ(settings.PaperSize, 9);
  }
}

TEST_F(CmsFixture, ARecordOfALetterSizedPageAndItsDumps) {
  std::vector<uint8_t> grey(1);
  uint8_t mono[4];
  cups_page_header2_t header{};
  JobSettings job = jobSettingsTemplate();
  job[JobKey::Density] = 0x1A3;  // only the low byte goes to the library
  g_job.dpiMode = 2;
  CmsSrcData src;
  CmsSettings settings;
  CmsDstData dst;
  fillCmsSource(src, header, grey.data(), pageOf(4800, 6780, 2));
  fillCmsSettings(settings, job, header, pageOf(4800, 6780, 2));
  fillCmsDestination(dst, mono, src, 8136000);

  EXPECT_EQ(src.cbSize, 32544000);
  EXPECT_EQ(src.InputDataLineByte, 4800);
  EXPECT_EQ(src.inputData, grey.data());
  EXPECT_EQ(dst.outputData, mono);
  EXPECT_EQ(log.text(),
            "cms input\n"
            "srcData->cbStructSize  ==36\n"
            "srcData->cbSize ==32544000\n"
            "srcData->InputDataX ==0\n"
            "srcData->InputDataY ==0\n"
            "srcData->InputDataWidth ==4800\n"
            "srcData->InputDataHeight ==6780\n"
            "srcData->InputDataLineByte ==4800\n"
            "cms setting\n"
            "settings->cbStructSize==18\n"
            "settings->PaperSize==2\n"
            "settings->DpiMode==1\n"
            "settings->BitMode==1\n"
            "settings->TonerSaveMode==0\n"
            "settings->TonerDensityLevel==a3\n"
            "cms output\n"
            "dstData->cbStructSize  ==35\n"
            "dstData->cbSize  ==8136000\n"
            "dstData->OutputDataX  ==0\n"
            "dstData->OutputDataY  ==0\n"
            "dstData->OutputDataWidth  ==4800\n"
            "dstData->OutputDataHeight  ==6780\n"
            "dstData->OutputDataLineByte  ==0\n"
            "dstData->OutputBitMode  ==1\n");
}

TEST_F(CmsFixture, LoadingReportsWhatTheLoaderFound) {
  struct Case {
    const char* what;
    std::string path;
    int result;
    const char* lineStart;
    const char* reason;  // part of the loader's text
  } cases[] = {
      {"absent", tmp.file("libnone.so"), 0, "加载CMS库失败", "libnone.so"},
      {"no conversion entry", CMS_NO_MAIN, 0, "加载CMS库失败", "QuorvaCMSmain"},
      {"stand-in", CMS_STANDIN, 1, "加载CMS库成功\n", ""},
  };
  for (const Case& c : cases) {
    Capture fresh;
    g_job.diagFd = fresh.fd();
    setCmsLibraryPath(c.path.c_str());
    EXPECT_EQ(loadCmsLibrary(), c.result) << c.what;
    EXPECT_EQ(g_job.cmsLoaded, c.result) << c.what;
    EXPECT_EQ(cmsAvailable(), c.result == 1) << c.what;
    const std::string text = fresh.text();
    EXPECT_EQ(text.rfind("加载CMS 64位库\n", 0), 0u) << c.what << ": " << text;
    EXPECT_TRUE(has(text, std::string("\n") + c.lineStart)) << c.what << ": " << text;
    EXPECT_TRUE(has(text, c.reason)) << c.what << ": " << text;
    EXPECT_EQ(text.back(), '\n') << c.what;
  }
  // Loading again lets the first handle go and takes the library anew.
  EXPECT_EQ(loadCmsLibrary(), 1);
  unloadCmsLibrary();
  EXPECT_FALSE(cmsAvailable());
  EXPECT_EQ(g_job.cmsLoaded, 0);
}

namespace {

// The stand-in called directly, as the oracle for what a page through the
// driver must hold.
std::vector<uint8_t> standinRendering(std::vector<uint8_t> grey, int width, int height, int factor) {
  void* lib = dlopen(CMS_STANDIN, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(lib, nullptr);
  auto cmsMain = reinterpret_cast<QuorvaCMSmainFn>(dlsym(lib, "QuorvaCMSmain"));
  std::vector<uint8_t> out(static_cast<size_t>(width * factor / 8 * height));
  CmsSrcData src{0, 36, grey.data(), width * height, 0, 0, int16_t(width), int16_t(height), width, {}};
  CmsSettings settings{0, 18, 1, 0, 0, 0, 2, {}};
  CmsDstData dst{0, 35, out.data(), int32_t(out.size()), 0, 0, int16_t(width), int16_t(height), 0,
                 uint8_t(factor == 2 ? 1 : 0), {}};
  EXPECT_EQ(cmsMain(&src, &settings, &dst), 0);
  EXPECT_EQ(dst.OutputDataLineByte, width * factor / 8);
  dlclose(lib);
  return out;
}

}  // namespace

TEST_F(CmsFixture, AGreyPageThroughTheStandInIsDiffusedNotScreened) {
  const int w = 128, h = 64;
  for (int level : {0, 64, 128, 192, 255}) {
    std::vector<uint8_t> mono = standinRendering(std::vector<uint8_t>(w * h, uint8_t(level)), w, h, 1);
    const double black = blackDots(mono) / double(w * h);
    EXPECT_NEAR(black, (255 - level) / 255.0, 0.02) << "grey " << level;
  }
  // Mid grey: error diffusion and the built-in screen agree on the amount
  // of black but not on where it goes.
  std::vector<uint8_t> grey(w * h, 128), screened(w * h / 8);
  HalftoneDither(grey.data(), w, h, screened.data(), w, 0, 0, PLATFORM_Z);
  EXPECT_NE(standinRendering(grey, w, h, 1), screened);
  // At 1200 dpi across every grey pixel becomes two dots.
  std::vector<uint8_t> wide = standinRendering(std::vector<uint8_t>(w * h, 0), w, h, 2);
  EXPECT_EQ(blackDots(wide), 2 * w * h);
}

TEST_F(CmsFixture, ThePagePathHandsThePageToTheLibraryAndReportsIt) {
  const uint32_t w = 64, h = 32;
  std::vector<uint8_t> grey(w * h);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(i * 7);
  std::vector<uint8_t> mono(w * h / 8, 0);
  cups_page_header2_t header{};
  header.cupsBytesPerLine = 70;
  const PageStartRecord rec = pageOf(w, h, 1);
  JobSettings job = jobSettingsTemplate();
  CmsPage page{grey.data(), mono.data(), int(mono.size()), w, h, &header, &rec, &job};

  EXPECT_FALSE(convertPageWithCms(page));  // no library: nothing happens
  EXPECT_EQ(log.text(), "");

  setCmsLibraryPath(CMS_STANDIN);
  ASSERT_EQ(loadCmsLibrary(), 1);
  Capture fresh;
  g_job.diagFd = fresh.fd();
  int error = -1;
  ASSERT_TRUE(convertPageWithCms(page, &error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(mono, standinRendering(grey, w, h, 1));
  const std::string text = fresh.text();
  EXPECT_EQ(text.rfind("fwImgWPixel ==64fwImgHPixel ==32header.cupsBytesPerLine ==70cms input\n", 0), 0u)
      << text;
  EXPECT_TRUE(has(text, "dstData->OutputBitMode  ==0\n"
                        "CMS模块版本号 ==100开始调用CMS模块生成数据QuorvaCMSmain生成数据结束"
                        "CMS error_num ==0CMS_dstData.cbStructSize ==35CMS_dstData.cbSize ==256"
                        "CMS_dstData.OutputDataWidth ==64CMS_dstData.OutputDataHeight ==32"
                        "CMS_dstData.OutputDataLineByte ==8CMS_dstData.OutputDataX ==0"
                        "CMS_dstData.OutputDatay ==0CMS_dstData.OutputBitMode  ==0\n"))
      << text;

  // NegativePrint turns every byte of the library's page over.
  std::vector<uint8_t> plain = mono;
  std::fill(mono.begin(), mono.end(), 0);
  job[JobKey::NegativePrint] = 1;
  ASSERT_TRUE(convertPageWithCms(page));
  for (size_t i = 0; i < mono.size(); ++i) ASSERT_EQ(mono[i], uint8_t(~plain[i])) << i;

  // A record claiming more pixels than the grey page has is not handed on.
  const PageStartRecord tooBig = pageOf(w, h + 1, 1);
  CmsPage wrong = page;
  wrong.record = &tooBig;
  EXPECT_FALSE(convertPageWithCms(wrong));
}

TEST_F(CmsFixture, TheStandInRefusesRecordsItCannotTrust) {
  std::vector<uint8_t> grey(64 * 8, 0), out(64 * 8 / 8, 0x5A);
  CmsSrcData src{0, 36, grey.data(), 64 * 8, 0, 0, 64, 8, 64, {}};
  CmsSettings settings{0, 18, 1, 0, 0, 0, 2, {}};
  CmsDstData dst{0, 35, out.data(), int32_t(out.size()), 0, 0, 64, 8, 0, 0, {}};
  void* lib = dlopen(CMS_STANDIN, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr);
  auto cmsMain = reinterpret_cast<QuorvaCMSmainFn>(dlsym(lib, "QuorvaCMSmain"));
  struct Case {
    const char* what;
    CmsSrcData src;
    CmsDstData dst;
    int error;
  } cases[] = {
      {"wrong record size", {0, 40, grey.data(), 512, 0, 0, 64, 8, 64, {}}, dst, 2},
      {"grey page too small", {0, 36, grey.data(), 511, 0, 0, 64, 8, 64, {}}, dst, 3},
      {"no width", {0, 36, grey.data(), 512, 0, 0, 0, 8, 64, {}}, dst, 3},
      {"output too small", src, {0, 35, out.data(), 63, 0, 0, 64, 8, 0, 0, {}}, 4},
      {"1200 dpi needs twice the output", src, {0, 35, out.data(), 64, 0, 0, 64, 8, 0, 1, {}}, 4},
  };
  for (Case& c : cases) {
    EXPECT_EQ(cmsMain(&c.src, &settings, &c.dst), c.error) << c.what;
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x5A), long(out.size())) << c.what;
  }
  dlclose(lib);
}
