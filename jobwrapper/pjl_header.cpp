#include "pjl_header.h"

#include <cstdio>
#include <cstring>

#include "text_io.h"
#include "wrapper_state.h"

namespace jw {

const char kPjlPaperA5L[] = "@PJL SET PAPER=A5L\r\n";
const char kSpoolUelText[] = "<04><1B>%-12345X<0A>";

// "%%Trailer" .. "%%EOF\n" (58 bytes), EOT, ESC, "%-12345X", LF.
const char kCancelTrailer[kCancelTrailerLength + 1] =
    "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n"
    "\x04\x1b%-12345X\n";

static_assert(sizeof("%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n") - 1 == 58,
              "the PostScript part of the trailer is 58 bytes");

void build_pjl_additions(const char* owner, const char* jobId, PjlAdditions* out) {
  snprintf(out->ownerLine, sizeof out->ownerLine, "@PJL SET JOBOWNER=\"%.*s\"\r\n",
           static_cast<int>(sizeof out->ownerLine - 24), owner != nullptr ? owner : "");
  snprintf(out->jobIdLine, sizeof out->jobIdLine, "@PJL SET JOBID=%.*s\r\n",
           static_cast<int>(sizeof out->jobIdLine - 18), jobId != nullptr ? jobId : "");
}

size_t pjl_addition_for_line(const char* line, size_t len, const PjlAdditions& add,
                             bool a5LongEdge, char* out, size_t outSize) {
  if (outSize == 0) return 0;
  out[0] = '\0';
  if (find_bytes(line, len, "@PJL JOB NAME") == nullptr) return 0;
  int n = snprintf(out, outSize, "%s%s%s", add.ownerLine, add.jobIdLine,
                   a5LongEdge ? kPjlPaperA5L : "");
  if (n < 0) return 0;
  return static_cast<size_t>(n) < outSize ? static_cast<size_t>(n) : outSize - 1;
}

int WriteCancelTrailer(char* buffer, size_t capacity, size_t length, int* trailerLength) {
  *trailerLength = 0;
  if (capacity <= kCancelTrailerLength) return 0;
  if (find_bytes(buffer, length, "%%EndSetup\n%%Page:") != nullptr) return 0;
  const char* page = find_bytes(buffer, length, "%%Page:");
  if (page == nullptr) return 0;
  fprintf(stderr, "find page end\n");
  out_write(buffer, static_cast<size_t>(page - buffer));
  std::memset(buffer, 0, length > capacity ? capacity : length);
  *trailerLength = static_cast<int>(kCancelTrailerLength);
  std::memcpy(buffer, kCancelTrailer, kCancelTrailerLength + 1);
  out_write(kCancelTrailer, kCancelTrailerLength);
  return 1;
}

bool end_job_if_cancelled(char* buffer, size_t capacity, size_t length) {
  if (!g_wrap.cancel_job.load()) return false;
  int trailer = 0;
  WriteCancelTrailer(buffer, capacity, length, &trailer);
  if (trailer == 0) return false;
  fprintf(stderr, "data_buf = %s, len = %d\n", buffer, trailer);
  return true;
}

}  // namespace jw
