#include "cms.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "job_state.h"
#include "output_channel.h"

namespace rf {

const char kCmsLibraryPath[] = "/opt/tesvel/lib/CMSlib/libQuorvaCMSLib-amd64.so";

namespace {

struct DlCloser {
  void operator()(void* handle) const {
    if (handle) dlclose(handle);
  }
};
using DlHandle = std::unique_ptr<void, DlCloser>;

// Job-wide: the handle and the two entry points taken from it.
struct CmsLibrary {
  DlHandle handle;
  GetQuorvaVersionFn getVersion = nullptr;
  QuorvaCMSmainFn cmsMain = nullptr;
};

CmsLibrary& library() {
  static CmsLibrary lib;
  return lib;
}

std::string& path_setting() {
  static std::string path = kCmsLibraryPath;
  return path;
}

__attribute__((format(printf, 1, 2))) void diagf(const char* format, ...) {
  char text[1200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  writeDiag(text);
}

// The loader's reason for the last failure; it is cleared by reading.
const char* loader_error() {
  const char* why = dlerror();
  return why ? why : "";
}

}  // namespace

void setCmsLibraryPath(const char* path) { path_setting() = path ? path : kCmsLibraryPath; }

const char* cmsLibraryPath() { return path_setting().c_str(); }

int loadCmsLibrary() {
  CmsLibrary& lib = library();
  unloadCmsLibrary();
  writeDiag("加载CMS 64位库\n");
  dlerror();
  DlHandle handle(dlopen(cmsLibraryPath(), RTLD_LAZY));
  // The reason from the loader carries no line end; one is added so that
  // the next CUPS message still starts a line of its own.
  if (!handle) {
    diagf("加载CMS库失败%s\n", loader_error());
    return 0;
  }
  auto version = reinterpret_cast<GetQuorvaVersionFn>(dlsym(handle.get(), "GetQuorvaVersion"));
  std::string why = version ? "" : loader_error();
  auto cmsMain = reinterpret_cast<QuorvaCMSmainFn>(dlsym(handle.get(), "QuorvaCMSmain"));
  if (!cmsMain && why.empty()) why = loader_error();
  if (!version || !cmsMain) {
    // A library without its entry points cannot convert a page: it is let
    // go again and the pages take the built-in halftone.
    diagf("加载CMS库失败%s\n", why.c_str());
    return 0;
  }
  lib.handle = std::move(handle);
  lib.getVersion = version;
  lib.cmsMain = cmsMain;
  g_job.cmsLoaded = 1;
  writeDiag("加载CMS库成功\n");
  return 1;
}

void unloadCmsLibrary() {
  CmsLibrary& lib = library();
  lib.getVersion = nullptr;
  lib.cmsMain = nullptr;
  lib.handle.reset();
  g_job.cmsLoaded = 0;
}

bool cmsAvailable() {
  const CmsLibrary& lib = library();
  return lib.handle && lib.getVersion && lib.cmsMain;
}

void fillCmsSource(CmsSrcData& srcData, const cups_page_header2_t& /*header*/, uint8_t* grey,
                   const PageStartRecord& page) {
  std::memset(&srcData, 0, sizeof srcData);
  srcData.cbStructSize = kCmsSrcDataSize;
  srcData.inputData = grey;
  srcData.cbSize = static_cast<int32_t>(uint32_t{page.imageWidth} * page.imageHeight);
  srcData.InputDataWidth = static_cast<int16_t>(page.imageWidth);
  srcData.InputDataHeight = static_cast<int16_t>(page.imageHeight);
  srcData.InputDataLineByte = srcData.InputDataWidth;

  writeDiag("cms input\n");
  diagf("srcData->cbStructSize  ==%d\n", srcData.cbStructSize);
  diagf("srcData->cbSize ==%d\n", srcData.cbSize);
  diagf("srcData->InputDataX ==%d\n", srcData.InputDataX);
  diagf("srcData->InputDataY ==%d\n", srcData.InputDataY);
  diagf("srcData->InputDataWidth ==%d\n", srcData.InputDataWidth);
  diagf("srcData->InputDataHeight ==%d\n", srcData.InputDataHeight);
  diagf("srcData->InputDataLineByte ==%d\n", srcData.InputDataLineByte);
}

void fillCmsSettings(CmsSettings& settings, const JobSettings& job,
                     const cups_page_header2_t& /*header*/, const PageStartRecord& page) {
  std::memset(&settings, 0, sizeof settings);
  const uint8_t at1200 = g_job.dpiMode == 2 ? 1 : 0;
  settings.cbStructSize = kCmsSettingsSize;
  settings.PaperSize = page.paperCode;
  settings.DpiMode = at1200;
  settings.BitMode = at1200;
  settings.TonerSaveMode = 0;  // toner save is the job header's business, not the library's
  settings.TonerDensityLevel = static_cast<uint8_t>(job[JobKey::Density] & 0xFF);

  writeDiag("cms setting\n");
  diagf("settings->cbStructSize==%d\n", settings.cbStructSize);
  diagf("settings->PaperSize==%d\n", settings.PaperSize);
  diagf("settings->DpiMode==%d\n", settings.DpiMode);
  diagf("settings->BitMode==%d\n", settings.BitMode);
  diagf("settings->TonerSaveMode==%x\n", settings.TonerSaveMode);
  diagf("settings->TonerDensityLevel==%x\n", settings.TonerDensityLevel);
}

void fillCmsDestination(CmsDstData& dstData, uint8_t* mono, const CmsSrcData& srcData,
                        int monoSize) {
  std::memset(&dstData, 0, sizeof dstData);
  dstData.cbStructSize = kCmsDstDataSize;
  dstData.outputData = mono;
  dstData.cbSize = monoSize;
  dstData.OutputDataX = srcData.InputDataX;
  dstData.OutputDataY = srcData.InputDataY;
  dstData.OutputDataWidth = srcData.InputDataWidth;
  dstData.OutputDataHeight = srcData.InputDataHeight;
  dstData.OutputBitMode = g_job.dpiMode == 2 ? 1 : 0;

  writeDiag("cms output\n");
  diagf("dstData->cbStructSize  ==%d\n", dstData.cbStructSize);
  diagf("dstData->cbSize  ==%d\n", dstData.cbSize);
  diagf("dstData->OutputDataX  ==%d\n", dstData.OutputDataX);
  diagf("dstData->OutputDataY  ==%d\n", dstData.OutputDataY);
  diagf("dstData->OutputDataWidth  ==%d\n", dstData.OutputDataWidth);
  diagf("dstData->OutputDataHeight  ==%d\n", dstData.OutputDataHeight);
  diagf("dstData->OutputDataLineByte  ==%d\n", dstData.OutputDataLineByte);
  diagf("dstData->OutputBitMode  ==%d\n", dstData.OutputBitMode);
}

bool convertPageWithCms(const CmsPage& page, int* errorNumber) {
  const CmsLibrary& lib = library();
  if (!cmsAvailable()) return false;
  // The library reads width x height grey bytes as the page-start record
  // gives them; a record larger than the buffer would make it read past it.
  const uint64_t recordPixels = uint64_t{page.record->imageWidth} * page.record->imageHeight;
  if (recordPixels > uint64_t{page.fwImgWPixel} * page.fwImgHPixel) return false;

  diagf("fwImgWPixel ==%d", static_cast<int>(page.fwImgWPixel));
  diagf("fwImgHPixel ==%d", static_cast<int>(page.fwImgHPixel));
  diagf("header.cupsBytesPerLine ==%d", static_cast<int>(page.header->cupsBytesPerLine));

  CmsSrcData srcData;
  CmsSettings settings;
  CmsDstData dstData;
  fillCmsSource(srcData, *page.header, page.grey, *page.record);
  fillCmsSettings(settings, *page.settings, *page.header, *page.record);
  fillCmsDestination(dstData, page.mono, srcData, page.monoSize);

  const int version = lib.getVersion();
  diagf("CMS模块版本号 ==%x", static_cast<unsigned>(version));
  writeDiag("开始调用CMS模块生成数据QuorvaCMSmain");
  const int error = lib.cmsMain(&srcData, &settings, &dstData);
  writeDiag("生成数据结束");

  if ((*page.settings)[JobKey::NegativePrint] != 0)
    for (int i = 0; i < page.monoSize; ++i) page.mono[i] = static_cast<uint8_t>(~page.mono[i]);

  diagf("CMS error_num ==%d", error);
  diagf("CMS_dstData.cbStructSize ==%d", dstData.cbStructSize);
  diagf("CMS_dstData.cbSize ==%d", dstData.cbSize);
  diagf("CMS_dstData.OutputDataWidth ==%d", dstData.OutputDataWidth);
  diagf("CMS_dstData.OutputDataHeight ==%d", dstData.OutputDataHeight);
  diagf("CMS_dstData.OutputDataLineByte ==%d", dstData.OutputDataLineByte);
  diagf("CMS_dstData.OutputDataX ==%d", dstData.OutputDataX);
  diagf("CMS_dstData.OutputDatay ==%d", dstData.OutputDataY);
  // The run of texts above has no line ends; one closes it so that the
  // next CUPS message starts a line of its own.
  diagf("CMS_dstData.OutputBitMode  ==%d\n", dstData.OutputBitMode);
  if (errorNumber) *errorNumber = error;
  return true;
}

}  // namespace rf
