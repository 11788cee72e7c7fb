#include "conversion.h"

#include <cstdio>

namespace jw {

void RotateDuplexPages(const char* const* /*argv*/, char* /*path*/, size_t /*pathSize*/) {
  fprintf(stderr, "DEBUG: duplex page rotation not available yet; pages left as they are\n");
}

int ConvertPdfToPs(char* /*path*/, size_t /*pathSize*/, const char* const* /*argv*/) {
  fprintf(stderr, "DEBUG: PDF to PostScript conversion not available yet\n");
  return -1;
}

}  // namespace jw
