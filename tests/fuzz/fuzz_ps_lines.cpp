// PostScript and PJL text through the wrapper's line step: the PJL
// additions behind the job-name line and the media fix-ups.  Lines the
// fix-ups do not name pass through unchanged.
// Input: 1 control byte (collated or not), then the job text.
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "media_fixup.h"
#include "pjl_header.h"
#include "text_io.h"
#include "wrapper_state.h"

using namespace jw;

namespace {

bool names_a_fixup(const LineBuffer& l) {
  static const char* const keys[] = {"MediaBox", "pdfSetupPaper", "%RBIBeginNonPPDFeature",
                                     "%RBIEndNonPPDFeature", "<<DeferredMediaSelection"};
  for (const char* k : keys)
    if (find_bytes_nocase(l.data, l.len, k)) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  g_wrap.g_bCollate = data[0] & 1;
  FILE* in = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
  if (!in && size > 1) return 0;
  PjlAdditions add;
  build_pjl_additions("host", "42", &add);
  LineBuffer line;
  uint8_t state = 0;
  char extra[4096];
  while (in && read_line(in, &line)) {
    FUZZ_CHECK(line.len <= kLineBufferSize);
    const size_t n = pjl_addition_for_line(line.data, line.len, add, data[0] & 2, extra, sizeof extra);
    FUZZ_CHECK(n < sizeof extra);
    FUZZ_CHECK(n == 0 || find_bytes(line.data, line.len, "@PJL JOB NAME") != nullptr);
    if (!line.whole) continue;
    LineBuffer before = line;
    const bool inBlock = state == 1;
    const int changed = FixupMediaLine(&line, 595, 842, &state);
    FUZZ_CHECK(line.len <= kLineBufferSize + 1);
    if (!changed) {
      FUZZ_CHECK(line.len == before.len && std::memcmp(line.data, before.data, line.len) == 0);
    } else {
      FUZZ_CHECK(names_a_fixup(before) || inBlock);
    }
  }
  if (in) std::fclose(in);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  return {
      std::string("\x01") +
          "\x1b%-12345X@PJL JOB NAME=\"report\"\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS-Adobe-3.0\n"
          "%RBIBeginNonPPDFeature: *NumCopies 2\n2 /NumCopies exch def\n%RBIEndNonPPDFeature\n"
          "<</Type/Page/MediaBox [0 0 612 792]\n/pdfSetupPaper {pop pop} def\n612 792 pdfSetupPaper\n"
          "<<DeferredMediaSelection true>>setpagedevice\n%%Page: 1 1\nshowpage\n",
      std::string("\x02") + "@PJL JOB NAME=\"" + std::string(1500, 'x') + "\"\n%%Page: 1 1\n",
      std::string("\x00", 1) + std::string(1023, 'a') + "<<DeferredMediaSelection\n",
      std::string("\x00", 1) + std::string(1020, ' ') + "<<DeferredMediaSelection true>>setpagedevice\n",
  };
}
