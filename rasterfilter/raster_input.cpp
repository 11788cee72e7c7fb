#include "raster_input.h"

namespace rf {

namespace {

// A page whose lines we can still read past without trusting its content:
// bounded line length and line count.
bool readable_sizes(const cups_page_header2_t& h) {
  return h.cupsBytesPerLine > 0 && h.cupsBytesPerLine <= (1u << 20) && h.cupsHeight > 0 &&
         h.cupsHeight <= (1u << 18);
}

}  // namespace

HeaderVerdict checkRasterHeader(const cups_page_header2_t& h, std::string* why) {
  auto verdict = [&](HeaderVerdict v, const char* reason) {
    if (why) *why = reason;
    return v;
  };
  const HeaderVerdict skip = readable_sizes(h) ? HeaderVerdict::SkipPage : HeaderVerdict::StopReading;

  if (!readable_sizes(h))
    return verdict(HeaderVerdict::StopReading, "raster line length or page height out of range");
  if (h.cupsBitsPerPixel != 8 || h.cupsBitsPerColor != 8)
    return verdict(skip, "raster is not 8 bits per pixel");
  if (h.cupsColorOrder != CUPS_ORDER_CHUNKED || h.cupsNumColors > 1)
    return verdict(skip, "raster has more than one colour");
  if (h.cupsWidth == 0 || h.cupsWidth > kMaxRasterDots || h.cupsHeight > kMaxRasterDots)
    return verdict(skip, "raster page size out of range");
  if (static_cast<uint64_t>(h.cupsWidth) != h.cupsBytesPerLine)
    return verdict(skip, "raster line length does not match its width");
  // More copies than CUPS lets a job ask for: every collated copy would be
  // sent again, so such a header could keep the printer busy for days.
  if (h.NumCopies > kMaxCopies)
    return verdict(skip, "copy count out of range");
  if (h.PageSize[0] == 0 || h.PageSize[1] == 0)
    return verdict(skip, "page size is zero");
  if (h.HWResolution[0] == 0 || h.HWResolution[1] == 0 || h.HWResolution[0] > 2400 ||
      h.HWResolution[1] > 2400)
    return verdict(skip, "resolution out of range");
  // The page start record carries the sheet size in dots as 16-bit values.
  const uint64_t wdots = static_cast<uint64_t>(h.HWResolution[0]) * h.PageSize[0] / 72;
  const uint64_t hdots = static_cast<uint64_t>(h.HWResolution[1]) * h.PageSize[1] / 72;
  if (wdots > kMaxRasterDots || hdots > kMaxRasterDots)
    return verdict(skip, "page size too large for the printer");
  if (why) why->clear();
  return HeaderVerdict::Printable;
}

}  // namespace rf
