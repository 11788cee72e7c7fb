// The page conversion: raster lines in, the framed page out.
//
// With the built-in screen the page is never held at 8 bits a pixel: each
// raster line is dithered as it arrives (straight from the raster reader's
// line when it needs no padding) into the place the page's turns give it
// on the 1-bit page.  A page turned by 180 degrees takes its lines
// mirrored, bottom row first; a page fed long edge first takes each line
// as a column.  The screen is applied at the turned position, so the bits
// are those of turning the grey page first.  Only the colour-management
// library, which takes the whole grey page at once, gets one.
#include "page_path.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "cms.h"
#include "cups_binding.h"
#include "halftone.h"
#include "job_state.h"
#include "output_channel.h"
#include "page_image.h"
#include "page_stream.h"

namespace rf {

namespace {

// The 1-bit page: fresh zero pages straight from the kernel (no clearing
// pass), asked for as huge pages, so that filling a page costs a few page
// faults rather than one per 4 KiB (a thousand for an A4 page at 600 dpi).
class MonoPage {
 public:
  MonoPage() = default;
  ~MonoPage() { release(); }
  MonoPage(const MonoPage&) = delete;
  MonoPage& operator=(const MonoPage&) = delete;

  bool allocate(size_t bytes) {
    release();
    constexpr size_t kHuge = size_t{2} << 20;
    const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* p = mmap(nullptr, rounded + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    base_ = p;
    length_ = rounded + kHuge;
    const uintptr_t at = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) / kHuge * kHuge;
    data_ = reinterpret_cast<uint8_t*>(at);
    madvise(data_, rounded, MADV_HUGEPAGE);  // only advice: without it the page is the same
    return true;
  }
  uint8_t* get() const { return data_; }

 private:
  void release() {
    if (base_) munmap(base_, length_);
    base_ = nullptr;
    data_ = nullptr;
  }
  void* base_ = nullptr;
  size_t length_ = 0;
  uint8_t* data_ = nullptr;
};

// Every buffer of one page, taken before anything of the page is sent so
// that a failed allocation never leaves a page half-framed.
struct PageBuffers {
  std::unique_ptr<uint8_t[]> line;  // one raster line, as the reader fills it
  std::unique_ptr<uint8_t[]> row;   // one image line padded with white, and its mirror image
  std::unique_ptr<uint8_t[]> grey;  // the 8-bit page, for the colour-management library only
  MonoPage mono;                    // the 1-bit page
  std::unique_ptr<uint8_t[]> work;  // rotation copy of the 8-bit page
  size_t lineSize = 0, greySize = 0, monoSize = 0;
};

// The library converts ModelListA pages when it is there; it needs the
// whole 8-bit page.
bool page_goes_to_cms() { return g_job.modelIsListA && g_job.cmsLoaded && cmsAvailable(); }

bool allocate_page(PageBuffers& b, const RasterJob& job, const PageGeometry& geo, bool turned,
                   bool wholeGrey) {
  const uint64_t w = geo.fwImgWPixel, hgt = geo.fwImgHPixel;
  const uint64_t mono = monoRowWidth(job, geo.fwImgWPixel) * hgt / 8;
  // Widths and heights are 16-bit in the page records; anything larger
  // cannot be printed and is not worth the memory.
  if (w == 0 || hgt == 0 || w > 65535 || hgt > 65535) return false;
  b.lineSize = std::max<size_t>(geo.fwImgWPixel, job.header.cupsBytesPerLine);
  b.monoSize = static_cast<size_t>(mono);
  b.line.reset(new (std::nothrow) uint8_t[b.lineSize]);
  b.row.reset(new (std::nothrow) uint8_t[2 * w]);
  if (!b.line || !b.row || !b.mono.allocate(b.monoSize)) return false;
  if (!wholeGrey) return true;
  b.greySize = static_cast<size_t>(w * hgt);
  b.grey.reset(new (std::nothrow) uint8_t[b.greySize]);
  if (turned) b.work.reset(new (std::nothrow) uint8_t[b.greySize]);
  if (!b.grey || (turned && !b.work)) return false;
  std::memset(b.grey.get(), 255, b.greySize);
  return true;
}

// Reads the page's lines and hands each image line (fwImgWPixel pixels:
// the middle of raster lines wider than the image, narrower ones
// left-aligned on white) to `take` with its line number, up to the image's
// height.  SIGTERM stops the reading, as does the end of the data; returns
// the image lines handed over, the rest of the page is white.
template <typename Take>
uint32_t read_lines(RasterJob& job, const PageGeometry& geo, PageBuffers& b, Take take) {
  const unsigned bpl = job.header.cupsBytesPerLine;
  const unsigned height = job.header.cupsHeight;
  const uint32_t w = geo.fwImgWPixel;
  uint8_t* line = b.line.get();
  uint8_t* padded = b.row.get();
  uint32_t taken = 0;
  for (unsigned y = 0; y < height && !g_job.cancelRequested; ++y) {
    if (y % 128 == 0)
      std::fprintf(stderr, "INFO: Printing page %d, %d%% complete...\n", g_job.pageCount,
                   static_cast<int>(uint64_t{y} * 100 / height));
    const uint8_t* image = line + (bpl > w ? (bpl - w) / 2 : 0);
    if (cups().cupsRasterReadPixels(job.raster, line, bpl) == 0) {
      if (!g_job.cancelRequested) break;
      std::memset(padded, 255, w);  // cancelled while reading: a white line, then the page ends
      image = padded;
    } else if (bpl < w) {
      std::memcpy(padded, line, bpl);
      std::memset(padded + bpl, 255, w - bpl);
      image = padded;
    }
    if (y < geo.fwImgHPixel) {
      take(image, y);
      ++taken;
    }
  }
  return taken;
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

// The built-in screen's share of the page after its dots are in place:
// the CUPS log lines, the dot count, the widened 1200-dpi lines.
void finish_builtin_page(RasterJob& job, const PageGeometry& geo, uint8_t* mono, uint64_t dots) {
  if (g_job.modelIsListA) {
    std::fputs("HalftoneDither二值化处理", stderr);
    g_job.cmsLoaded = 0;
  } else {
    std::fputs("默认使用halftone处理\n", stderr);
  }
  writeHalftoneNote(job.modelClass);
  // PLATFORM_M sends no coverage, so only the other two classes count.
  if (job.modelClass != PLATFORM_M) g_job.dotCount += dots;
  // At 1200 dpi these printers take lines of twice the pixels; the screen
  // made one bit per pixel, so each pixel is drawn twice across.
  // The coverage record counts the dots the printer receives: twice as many.
  if (widenedMode(job)) {
    widen_lines(mono, geo.fwImgWPixel / 8, geo.fwImgHPixel);
    g_job.dotCount *= 2;
  }
}

// Coding that starts while the page is dithered: band-mode pages band by
// band, other pages line by line from the top (so not when turned half).
// Pages turned a quarter, or widened at the end, are coded once whole.
void start_early_coding(const RasterJob& job, const PageGeometry& geo, const PageBuffers& b, bool half,
                        bool quarter, std::unique_ptr<EarlyBands>* early) {
  if (quarter || widenedMode(job)) return;
  const PageImageRecord rec = makePageImageRecord(job, geo, b.mono.get());
  if (rec.imageWidth % 8 != 0 || rec.imageWidth == 0) return;
  if (job.modelClass == PLATFORM_Z) {
    early->reset(new (std::nothrow) EarlyBands(b.mono.get(), rec.imageWidth, rec.imageHeight));
  } else if (!half) {
    const JbigBih bih = pageJbigParams(rec, job.modelClass);
    early->reset(new (std::nothrow) EarlyBands(b.mono.get(), rec.imageWidth, rec.imageHeight,
                                               static_cast<uint32_t>(bih.ParamL0)));
  }
}

// The page through the built-in screen, line by line (see the top).  The
// bands of a band-mode page go to the coder as their lines are done.
void stream_page(RasterJob& job, PageGeometry& geo, PageBuffers& b, int rot, bool quarter,
                 std::unique_ptr<EarlyBands>* early) {
  const JobSettings& s = job.settings;
  const uint32_t w = geo.fwImgWPixel, h = geo.fwImgHPixel;
  const bool half = rot == 1;
  LineDitherer ditherer(select_screen(job.modelClass, s[JobKey::DPI1200], g_job.modelName),
                        is_four_level(job.modelClass, s[JobKey::DPI1200]), s[JobKey::NegativePrint] != 0,
                        quarter ? h : w, quarter ? w : h, b.mono.get());
  start_early_coding(job, geo, b, half, quarter, early);
  EarlyBands* bands = early->get();
  uint8_t* mirror = b.row.get() + w;
  uint64_t dots = 0;
  auto take = [&](const uint8_t* image, uint32_t y) {
    if (half) {
      std::reverse_copy(image, image + w, mirror);
      image = mirror;
    }
    if (quarter) {
      dots += ditherer.column(image, half ? y : h - 1 - y);
      return;
    }
    const uint32_t row = half ? h - 1 - y : y;
    dots += ditherer.row(image, row);
    if (bands) bands->row_done(row);
  };
  const uint32_t taken = read_lines(job, geo, b, take);
  std::memset(b.row.get(), 255, w);
  for (uint32_t y = taken; y < h; ++y) take(b.row.get(), y);

  std::fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", g_job.pageCount, rot);
  if (quarter) std::swap(geo.fwImgWPixel, geo.fwImgHPixel);
  finish_builtin_page(job, geo, b.mono.get(), dots);
}

// The colour-management library's page for a ModelListA model.  In the
// 1200-dpi mode the library is asked for two bits a pixel (OutputBitMode
// 1) and fills the wide lines itself, so its page is not widened again.
// Its black dots feed the coverage record as the built-in screen's do.
bool make_cms_page(RasterJob& job, const PageGeometry& geo, PageBuffers& b, const PageStartRecord& rec) {
  const CmsPage page{b.grey.get(), b.mono.get(), static_cast<int>(b.monoSize), geo.fwImgWPixel,
                     geo.fwImgHPixel, &job.header, &rec, &job.settings};
  if (!convertPageWithCms(page)) return false;
  if (job.modelClass != PLATFORM_M) {
    uint64_t dots = 0;
    for (size_t i = 0; i < b.monoSize; ++i) dots += static_cast<uint64_t>(__builtin_popcount(b.mono.get()[i]));
    g_job.dotCount += dots;
  }
  return true;
}

// The page for the library: the whole grey page, turned in place.  When
// the library declines it, the built-in screen dithers the grey page.
void whole_grey_page(RasterJob& job, PageGeometry& geo, PageBuffers& b, int rot, bool quarter,
                     const PageStartRecord& rec) {
  const uint32_t w = geo.fwImgWPixel;
  read_lines(job, geo, b, [&](const uint8_t* image, uint32_t y) {
    std::memcpy(b.grey.get() + static_cast<size_t>(y) * w, image, w);
  });
  std::fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", g_job.pageCount, rot);
  if (rot == 1 && Rotate180(b.grey.get(), geo.fwImgWPixel, geo.fwImgHPixel, b.work.get()) == 0)
    failureReport("main() :: Rotate 180 Fail. \n");
  if (quarter) {
    RotatePage90(b.grey.get(), geo.fwImgWPixel, geo.fwImgHPixel, b.work.get());
    std::swap(geo.fwImgWPixel, geo.fwImgHPixel);
  }
  if (make_cms_page(job, geo, b, rec)) return;
  const JobSettings& s = job.settings;
  const Screen screen = select_screen(job.modelClass, s[JobKey::DPI1200], g_job.modelName);
  const size_t width = geo.fwImgWPixel, lines = geo.fwImgHPixel;
  uint64_t dots = 0;
  if (is_four_level(job.modelClass, s[JobKey::DPI1200]))
    dither_four_level(b.grey.get(), width, lines, screen, s[JobKey::NegativePrint] != 0, b.mono.get());
  else
    dots = dither_bilevel(b.grey.get(), width, lines, screen, s[JobKey::NegativePrint] != 0, b.mono.get());
  finish_builtin_page(job, geo, b.mono.get(), dots);
}

}  // namespace

PageOutcome convertAndSendPage(RasterJob& job, const std::function<bool()>& beginPage) {
  PageStartRecord rec;
  PageGeometry geo;
  fillPageStart(job, rec, geo);
  const int rot = rotate180Decision(job, rec);
  const bool quarter = rec.specFlagsB == 0x40;
  const bool wholeGrey = page_goes_to_cms();

  PageBuffers buffers;
  std::unique_ptr<EarlyBands> early;  // after the buffers: its coding reads the 1-bit page
  if (!allocate_page(buffers, job, geo, rot == 1 || quarter, wholeGrey)) {
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
  if (wholeGrey) whole_grey_page(job, geo, buffers, rot, quarter, rec);
  else stream_page(job, geo, buffers, rot, quarter, &early);

  g_job.outputBusy = 1;
  PageImageRecord image = makePageImageRecord(job, geo, buffers.mono.get());
  bandWideLines = widenedMode(job);
  if (Prnt_SendPage(&image, job.modelClass, early.get()) == 0) failureReport("main() :: Send page Fail!\n");
  std::fflush(stdout);
  PageEndRecord end = makePageEndRecord(job);
  if (Prnt_EndPage(&end, job.modelClass) == 0) failureReport("main() :: End page Fail ! \n");
  std::fflush(stdout);
  g_job.outputBusy = 0;
  job.lastPageStart = rec;
  return PageOutcome::Done;
}

}  // namespace rf
