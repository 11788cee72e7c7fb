// Makes the PostScript agree with the paper the user chose: the page size
// from the PPD, the custom-size range, the A5 long-edge test and the
// rewrites of single PostScript lines.
#pragma once

#include <cstdint>

#include "text_io.h"

namespace jw {

// Custom sizes the printers can feed, in points, bounds included.
constexpr double kCustomMinWidth = 211, kCustomMaxWidth = 613;
constexpr double kCustomMinHeight = 418, kCustomMaxHeight = 1010;

// Size of the requested PageSize in the PPD.  Returns 0 when the option
// text or its PageSize is missing, else 1 (sizes untouched when the PPD
// does not open or does not know the size).
int GetPageSizeFromPpd(const char* const* argv, int* width, int* height);

// False only for a custom size outside the printable range, judged by the
// page dictionary's MediaBox and the pdfSetupPaper call in the job file.
bool IsCustomSizePrintable(const char* options, const char* jobPath);

// True for A5 fed long edge first.
bool isA5PageSize(const char* options, const char* jobPath);

// Rewrites one whole line in place: page-size operators, the copy-count
// block of collated jobs (cleared: len 0), the deferred media selection.
// *state is 1 inside the copy-count block.  Returns 1 when the line was
// changed or cleared.
int FixupMediaLine(LineBuffer* line, int width, int height, uint8_t* state);

}  // namespace jw
