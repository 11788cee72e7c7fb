// The colour road's conversion call points: rotating the even pages of
// long-edge duplex jobs and turning the PDF into PostScript.
//
// The conversion (qpdf and the CUPS pdftops filter) is not built yet.
// Until it is, RotateDuplexPages leaves the job as it is and
// ConvertPdfToPs reports that conversion is not available and fails, so
// a colour job ends without sending the printer a PDF it cannot read.
#pragma once

#include <cstddef>

namespace jw {

// Not available yet: says so, leaves the job file unchanged.
void RotateDuplexPages(const char* const* argv, char* path, size_t pathSize);

// Not available yet: says so and returns -1 (path unchanged).
int ConvertPdfToPs(char* path, size_t pathSize, const char* const* argv);

}  // namespace jw
