#include "page_path.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "cms.h"
#include "cups_binding.h"
#include "job_state.h"
#include "output_channel.h"
#include "page_image.h"
#include "page_stream.h"
#include "halftone.h"

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

namespace rf {

namespace {

// Every buffer of one page, taken before anything of the page is sent so
// that a failed allocation never leaves a page half-framed.
struct PageBuffers {
  std::unique_ptr<uint8_t[]> line;  // one raster line
  std::unique_ptr<uint8_t[]> grey;  // the 8-bit page
  std::unique_ptr<uint8_t[]> mono;  // the 1-bit page
  std::unique_ptr<uint8_t[]> work;  // rotation copy, when the page is turned
  size_t lineSize = 0, greySize = 0, monoSize = 0;
};

bool allocate_page(PageBuffers& b, const RasterJob& job, const PageGeometry& geo, bool turned) {
  const uint64_t w = geo.fwImgWPixel, hgt = geo.fwImgHPixel;
  const uint64_t grey = w * hgt;
  const uint64_t mono = monoRowWidth(job, geo.fwImgWPixel) * hgt / 8;
  // Widths and heights are 16-bit in the page records; anything larger
  // cannot be printed and is not worth the memory.
  if (w == 0 || hgt == 0 || w > 65535 || hgt > 65535) return false;
  b.lineSize = std::max<size_t>(geo.fwImgWPixel, job.header.cupsBytesPerLine);
  b.greySize = static_cast<size_t>(grey);
  b.monoSize = static_cast<size_t>(mono);
  b.line.reset(new (std::nothrow) uint8_t[b.lineSize]);
  b.grey.reset(new (std::nothrow) uint8_t[b.greySize]);
  b.mono.reset(new (std::nothrow) uint8_t[b.monoSize]());
  if (turned) b.work.reset(new (std::nothrow) uint8_t[b.greySize]);
  if (!b.line || !b.grey || !b.mono || (turned && !b.work)) return false;
  std::memset(b.grey.get(), 255, b.greySize);
  return true;
}

// Reads the page's lines into the grey page: the middle of lines wider
// than the image, lines narrower than it left-aligned on white.  SIGTERM
// stops the reading; the rest of the page stays white.
void read_lines(RasterJob& job, const PageGeometry& geo, PageBuffers& b) {
  const unsigned bpl = job.header.cupsBytesPerLine;
  const unsigned height = job.header.cupsHeight;
  const uint32_t w = geo.fwImgWPixel;
  uint8_t* line = b.line.get();
  for (unsigned y = 0; y < height && !g_job.cancelRequested; ++y) {
    if (y % 128 == 0)
      std::fprintf(stderr, "INFO: Printing page %d, %d%% complete...\n", g_job.pageCount,
                   static_cast<int>(uint64_t{y} * 100 / height));
    std::memset(line, 0, b.lineSize);
    if (cups().cupsRasterReadPixels(job.raster, line, bpl) == 0) {
      if (!g_job.cancelRequested) break;  // the rest of the page stays white
      std::memset(line, 255, w);
    }
    if (y < geo.fwImgHPixel) {
      uint8_t* row = b.grey.get() + static_cast<size_t>(y) * w;
      if (bpl > w) std::memcpy(row, line + (bpl - w) / 2, w);
      else std::memcpy(row, line, bpl);
    }
  }
}

// Each bit of a byte doubled: the pixel drawn twice across at 1200 dpi.
struct DoubledBits {
  uint16_t value[256];
  constexpr DoubledBits() : value() {
    for (int b = 0; b < 256; ++b) {
      uint16_t v = 0;
      for (int i = 0; i < 8; ++i)
        if (b & (0x80 >> i)) v |= static_cast<uint16_t>(0xC000 >> (2 * i));
      value[b] = v;
    }
  }
};
constexpr DoubledBits kDoubledBits;

// Widens a page of `lines` lines of `bytesPerLine` bytes into lines of
// twice the bytes, in place (the buffer holds the wide page).  Works from
// the last byte back, so nothing is overwritten before it is read.
void widen_lines(uint8_t* page, size_t bytesPerLine, size_t lines) {
  for (size_t k = lines; k-- > 0;) {
    const uint8_t* src = page + k * bytesPerLine;
    uint8_t* dst = page + k * 2 * bytesPerLine;
    for (size_t i = bytesPerLine; i-- > 0;) {
      const uint16_t v = kDoubledBits.value[src[i]];
      dst[2 * i] = static_cast<uint8_t>(v >> 8);
      dst[2 * i + 1] = static_cast<uint8_t>(v);
    }
  }
}

// The colour-management library's page for a ModelListA model, when the
// library is there.  In the 1200-dpi mode the library is asked for two
// bits a pixel (OutputBitMode 1) and fills the wide lines itself, so its
// page is not widened again.  Its black dots feed the coverage record as
// the built-in screen's do.
bool make_cms_page(RasterJob& job, const PageGeometry& geo, PageBuffers& b, const PageStartRecord& rec) {
  if (!g_job.modelIsListA || !g_job.cmsLoaded || !cmsAvailable()) return false;
  const CmsPage page{b.grey.get(), b.mono.get(), static_cast<int>(b.monoSize), geo.fwImgWPixel,
                     geo.fwImgHPixel, &job.header, &rec, &job.settings};
  if (!convertPageWithCms(page)) return false;
  if (job.modelClass != PLATFORM_M) {
    uint64_t dots = 0;
    for (size_t i = 0; i < b.monoSize; ++i) dots += static_cast<uint64_t>(__builtin_popcount(b.mono[i]));
    g_job.dotCount += dots;
  }
  return true;
}

// The 1-bit page from the grey page.
void make_mono_page(RasterJob& job, const PageGeometry& geo, PageBuffers& b, bool quarter,
                    const PageStartRecord& rec) {
  if (make_cms_page(job, geo, b, rec)) return;
  const JobSettings& s = job.settings;
  if (g_job.modelIsListA) {
    std::fputs("HalftoneDither二值化处理", stderr);
    g_job.cmsLoaded = 0;
  } else {
    std::fputs("默认使用halftone处理\n", stderr);
  }
  const unsigned valid = quarter ? job.header.cupsHeight : job.header.cupsBytesPerLine;
  HalftoneDither(b.grey.get(), geo.fwImgWPixel, static_cast<int>(geo.fwImgHPixel), b.mono.get(), valid,
                 s[JobKey::NegativePrint], s[JobKey::DPI1200], job.modelClass);
  // At 1200 dpi these printers take lines of twice the pixels; the screen
  // made one bit per pixel, so each pixel is drawn twice across.
  // The coverage record counts the dots the printer receives: twice as many.
  if (widenedMode(job)) {
    widen_lines(b.mono.get(), geo.fwImgWPixel / 8, geo.fwImgHPixel);
    g_job.dotCount *= 2;
  }
}

}  // namespace

PageOutcome convertAndSendPage(RasterJob& job, const std::function<bool()>& beginPage) {
  PageStartRecord rec;
  PageGeometry geo;
  fillPageStart(job, rec, geo);
  const int rot = rotate180Decision(job, rec);
  const bool quarter = rec.specFlagsB == 0x40;

  PageBuffers buffers;
  if (!allocate_page(buffers, job, geo, rot == 1 || quarter)) {
    std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s",
                  "main() :: Malloc pGrayImgLineBuf or pMonoImgLineBuf or pMonoImgBuf Fail ! \n");
    writeErrorLines(g_job.errorText);
    job.pageFailed = true;
    return PageOutcome::EndOfJob;
  }
  if (beginPage && !beginPage()) return PageOutcome::EndOfJob;

  g_job.outputBusy = 1;
  if (Prnt_StartPage(&rec, job.modelClass) == 0) failureReport("main() :: Start page Fail ! \n");
  std::fflush(stdout);
  g_job.outputBusy = 0;

  // A page cancelled while its raster is read is finished with what was
  // read, for every class, and the job end follows: a chunk-stream printer
  // left inside an open page would wait for the rest of it.
  read_lines(job, geo, buffers);

  std::fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", g_job.pageCount, rot);
  if (rot == 1 && Rotate180(buffers.grey.get(), geo.fwImgWPixel, geo.fwImgHPixel, buffers.work.get()) == 0)
    failureReport("main() :: Rotate 180 Fail. \n");
  if (quarter) {
    RotatePage90(buffers.grey.get(), geo.fwImgWPixel, geo.fwImgHPixel, buffers.work.get());
    std::swap(geo.fwImgWPixel, geo.fwImgHPixel);
  }

  make_mono_page(job, geo, buffers, quarter, rec);

  g_job.outputBusy = 1;
  PageImageRecord image = makePageImageRecord(job, geo, buffers.mono.get());
  bandWideLines = widenedMode(job);
  if (Prnt_SendPage(&image, job.modelClass) == 0) failureReport("main() :: Send page Fail!\n");
  std::fflush(stdout);
  PageEndRecord end = makePageEndRecord(job);
  if (Prnt_EndPage(&end, job.modelClass) == 0) failureReport("main() :: End page Fail ! \n");
  std::fflush(stdout);
  g_job.outputBusy = 0;
  job.lastPageStart = rec;
  return PageOutcome::Done;
}

}  // namespace rf
