#include "page_path.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "job_state.h"

namespace rf {

namespace {

uint32_t round_up(uint32_t v, uint32_t m) { return (v + m - 1) / m * m; }

// Size at 600 dpi of a sheet the paper table does not know, from the PPD's
// margins.  Never less than one 32 x 8 block.
uint32_t custom_extent(double pagePt, double marginA, double marginB, uint32_t multiple) {
  double pixels = (pagePt - marginA - marginB) / 72.0 * 600.0;
  if (!(pixels >= 1.0)) pixels = 1.0;
  if (pixels > 4.0e9) pixels = 4.0e9;
  return round_up(static_cast<uint32_t>(pixels), multiple);
}

}  // namespace

void fillPageStart(RasterJob& job, PageStartRecord& rec, PageGeometry& geo) {
  const cups_page_header2_t& h = job.header;
  JobSettings& s = job.settings;
  const ModelClass cls = job.modelClass;
  std::memset(&rec, 0, sizeof rec);

  int row = -1;
  if (job.paperTable) row = findPaperIndex(h.PageSize, job.paperTable, &s[JobKey::FeedLongEdge]);
  if (row >= 0) {
    const PaperEntry& e = job.paperTable[row];
    geo.fwImgWPixel = e.imageWidth;
    geo.fwImgHPixel = static_cast<uint32_t>(e.imageHeight);
    rec.paperCode = static_cast<uint16_t>(e.paperCode);
    rec.offsetX = static_cast<uint16_t>(e.extraA);
    rec.offsetY = static_cast<uint16_t>(e.extraB);
  } else {
    const float* m = job.ppd ? job.ppd->custom_margins : nullptr;  // left, bottom, right, top
    geo.fwImgWPixel = custom_extent(h.PageSize[0], m ? m[0] : 0, m ? m[2] : 0, 32);
    geo.fwImgHPixel = custom_extent(h.PageSize[1], m ? m[1] : 0, m ? m[3] : 0, 8);
    rec.paperCode = cls == PLATFORM_C ? 255 : 0;
  }

  uint16_t xres = 600, yres = 600;
  if (cls == PLATFORM_C) {
    if (h.HWResolution[0] == 1200) {
      geo.fwImgWPixel *= 2;
      xres = 1200;
    }
    if (h.HWResolution[1] == 1200) {
      geo.fwImgHPixel *= 2;
      yres = 1200;
    }
  }
  if (cls == PLATFORM_C || cls == PLATFORM_Z) {
    xres /= 10;
    yres /= 10;
  }

  rec.mediaType = static_cast<uint16_t>(h.cupsMediaType);
  rec.xResolution = xres;
  rec.yResolution = yres;
  const unsigned media = h.cupsMediaType;
  if (media == 0 || media == 5 || (media == 1 && cls == PLATFORM_M))
    rec.inputTray = static_cast<uint16_t>(s[JobKey::InputSlot]);
  else
    rec.inputTray = g_job.modelIsListA ? 0 : 1;
  const bool a5Code = (cls == PLATFORM_C && rec.paperCode == 6) ||
                      ((cls == PLATFORM_Z || cls == PLATFORM_M) && rec.paperCode == 11);
  rec.specFlagsB = (s[JobKey::FeedLongEdge] == 1 && a5Code) ? 0x40 : 0;
  rec.copies = s[JobKey::Collate] == 1 ? 1 : static_cast<uint16_t>(h.NumCopies);
  rec.pageNumber = static_cast<uint16_t>(g_job.pageCount);
  rec.paperWidthDots = static_cast<uint16_t>(static_cast<int>(h.HWResolution[0] * (h.PageSize[0] / 72.0)));
  rec.paperHeightDots = static_cast<uint16_t>(static_cast<int>(h.HWResolution[1] * (h.PageSize[1] / 72.0)));
  rec.imageWidth = static_cast<uint16_t>(geo.fwImgWPixel);
  rec.imageHeight = static_cast<uint16_t>(geo.fwImgHPixel);
  rec.doubleDepth = job.doubleWidth;
  rec.density = s[JobKey::TonerMode] == 1 ? 0 : static_cast<uint8_t>(s[JobKey::Density] & 0xFF);

  // A5 fed long edge first: its own paper code, and the sheet turned.
  if (rec.specFlagsB == 0x40) {
    if (cls == PLATFORM_Z && rec.paperCode == 11) rec.paperCode = 18;
    if (cls == PLATFORM_M && rec.paperCode == 11) rec.paperCode = 61;
    std::swap(rec.paperWidthDots, rec.paperHeightDots);
    std::swap(rec.imageWidth, rec.imageHeight);
  }
}

int rotate180Decision(const RasterJob& job, const PageStartRecord& rec) {
  const JobSettings& s = job.settings;
  const int r = s[JobKey::ImageRotation];
  const bool even = g_job.pageCount % 2 == 0;
  const int duplex = s[JobKey::Duplex];
  if (duplex == 1) return ((!even && r == 1) || (even && r != 1)) ? 1 : 0;
  if (duplex != 0) return r == 1 ? 1 : 0;
  if (even && s[JobKey::ManualDuplex] == 1) {
    const bool zPlain = job.modelClass == PLATFORM_Z && job.manualDuplexType == 0;
    if ((zPlain && rec.specFlagsB == 0) || (!zPlain && rec.specFlagsB == 0x40)) return 1 - r;
  }
  return r;
}

bool widenedMode(const RasterJob& job) {
  return g_job.modelIsListA && g_job.dpiMode == 2 && job.doubleWidth == 0;
}

uint64_t monoRowWidth(const RasterJob& job, uint32_t fwImgWPixel) {
  const bool doubled = job.doubleWidth == 1 || (g_job.modelIsListA && g_job.dpiMode == 2);
  return doubled ? 2ull * fwImgWPixel : fwImgWPixel;
}

PageImageRecord makePageImageRecord(const RasterJob& job, const PageGeometry& geo, uint8_t* bitmap) {
  PageImageRecord r{};
  r.imageFlags1 = (g_job.modelIsListA && g_job.dpiMode == 2) ? 1 : 0;
  r.imageFlags3 = 0x20;
  r.imageWidth = static_cast<uint16_t>(job.doubleWidth == 1 ? 2 * geo.fwImgWPixel : geo.fwImgWPixel);
  r.imageHeight = static_cast<uint16_t>(geo.fwImgHPixel);
  if (job.modelClass == PLATFORM_C) {
    r.imageParam = static_cast<uint16_t>(geo.fwImgWPixel);
    r.stripeLines = job.header.HWResolution[0] == 600 ? 768 : 384;
    r.dataSize = 853;
  }
  r.pageBitmap = bitmap;
  return r;
}

PageEndRecord makePageEndRecord(const RasterJob& job) {
  PageEndRecord r{};
  r.pageNumber = g_job.pageCount;
  r.autoDuplex = job.settings[JobKey::Duplex] != 0 ? 1 : 0;
  r.resolution = static_cast<int32_t>(job.header.HWResolution[0]);
  r.paperSizeMm = static_cast<int32_t>(static_cast<float>(job.header.PageSize[0] / 72.0f) * 25.4);
  r.densityLevel = job.settings[JobKey::Density];
  return r;
}

int Rotate180(uint8_t* buffer, uint32_t width, uint32_t lines, uint8_t* work) {
  if (buffer == nullptr || width == 0 || lines == 0) return 0;
  const size_t size = static_cast<size_t>(width) * lines;
  std::unique_ptr<uint8_t[]> own;
  if (work == nullptr) {
    own.reset(new (std::nothrow) uint8_t[size]);
    if (!own) {
      std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s", "Rotate180() :: malloc memory Fail. \n");
      return 0;
    }
    work = own.get();
  }
  for (uint32_t r = 0; r < lines; ++r) {
    const uint8_t* src = buffer + static_cast<size_t>(r) * width;
    uint8_t* dst = work + static_cast<size_t>(lines - 1 - r) * width;
    std::reverse_copy(src, src + width, dst);
  }
  std::memcpy(buffer, work, size);
  return 1;
}

int RotatePage90(uint8_t* buffer, uint32_t width, uint32_t lines, uint8_t* work) {
  if (buffer == nullptr || width == 0 || lines == 0) return 0;
  const size_t size = static_cast<size_t>(width) * lines;
  std::unique_ptr<uint8_t[]> own;
  if (work == nullptr) {
    own.reset(new (std::nothrow) uint8_t[size]);
    if (!own) return 0;
    work = own.get();
  }
  // Tiles of 64 x 64 keep the scattered writes of the transposition close.
  constexpr uint32_t kTile = 64;
  for (uint32_t r0 = 0; r0 < lines; r0 += kTile) {
    const uint32_t r1 = std::min(lines, r0 + kTile);
    for (uint32_t x0 = 0; x0 < width; x0 += kTile) {
      const uint32_t x1 = std::min(width, x0 + kTile);
      for (uint32_t r = r0; r < r1; ++r) {
        const uint8_t* src = buffer + static_cast<size_t>(r) * width;
        const size_t col = lines - 1 - r;
        for (uint32_t x = x0; x < x1; ++x) work[static_cast<size_t>(x) * lines + col] = src[x];
      }
    }
  }
  std::memcpy(buffer, work, size);
  return 1;
}

}  // namespace rf
