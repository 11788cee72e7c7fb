// The page conversion path: one raster page from geometry to page end.
#pragma once

#include <cstdint>
#include <functional>

#include "job_loop.h"
#include "stream_records.h"

namespace rf {

// The page image as the printer receives it, in pixels and lines.
struct PageGeometry {
  uint32_t fwImgWPixel = 0;
  uint32_t fwImgHPixel = 0;
};

// Image size, resolution and the page-start record of the current page
// (geometry from the paper table, or from the PPD's margins for sizes the
// table does not have; long-edge A5 codes).  May set the FeedLongEdge entry.
void fillPageStart(RasterJob& job, PageStartRecord& record, PageGeometry& geometry);

// The page's 180-degree turn for duplex back sides and manual duplex.
int rotate180Decision(const RasterJob& job, const PageStartRecord& record);

// The 1200-dpi mode of the ModelListA models: every line of the page is
// coded with twice its pixels.  A page whose width is already doubled (the
// four-level PLATFORM_M mode) is not widened a second time: one width per
// page for the records, the buffer and the coder.
bool widenedMode(const RasterJob& job);

// Width in pixels of one line of the 1-bit page buffer: twice the image
// width for the double-width modes.
uint64_t monoRowWidth(const RasterJob& job, uint32_t fwImgWPixel);

PageImageRecord makePageImageRecord(const RasterJob& job, const PageGeometry& geometry,
                                    uint8_t* bitmap);
PageEndRecord makePageEndRecord(const RasterJob& job);

// Turns an 8-bit image of `lines` rows of `width` bytes in place, using
// `work` (width x lines bytes) as the copy, or a copy of its own when
// `work` is null.  0 when an argument is 0 or no copy can be had.
int Rotate180(uint8_t* buffer, uint32_t width, uint32_t lines, uint8_t* work = nullptr);
// Quarter turn clockwise; afterwards `width` rows of `lines` bytes.
int RotatePage90(uint8_t* buffer, uint32_t width, uint32_t lines, uint8_t* work = nullptr);

enum class PageOutcome {
  Done,        // the page was framed and sent (or skipped with a report)
  EndOfJob,    // memory exhausted: end the job
};

// Page loop step 15 for the header in job.header.  `beginPage`, when
// given, runs once the page's buffers are secured and before its page
// start is sent (the job loop starts the job there, so a first page that
// cannot get its memory sends nothing at all); false from it ends the job
// with nothing more sent.
PageOutcome convertAndSendPage(RasterJob& job, const std::function<bool()>& beginPage = {});

}  // namespace rf
