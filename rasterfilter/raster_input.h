// Checks on CUPS raster page headers and reading a page's lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <cups/raster.h>

namespace rf {

// Largest raster line and page we accept: 60 inches at 1200 dpi.  The page
// records carry 16-bit sizes, so nothing the printer can take is larger.
constexpr uint32_t kMaxRasterDots = 65535;

// CUPS's own limit on the copies of a job (MaxCopies).
constexpr uint32_t kMaxCopies = 9999;

enum class HeaderVerdict {
  Printable,     // 8-bit grey, sizes the page records can carry
  SkipPage,      // not printable, but its lines can be read past safely
  StopReading,   // absurd sizes: reading on would mean reading garbage
};

// Judges a page header before anything else uses it.  `why` receives a
// short reason for the ERROR line when the verdict is not Printable.
HeaderVerdict checkRasterHeader(const cups_page_header2_t& header, std::string* why);

}  // namespace rf
