#include "text_io.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "wrapper_state.h"

namespace jw {

bool read_line(FILE* in, LineBuffer* line) {
  line->len = 0;
  line->whole = true;
  int c = 0;
  while (line->len < kLineBufferSize - 1 && (c = getc_unlocked(in)) != EOF) {
    line->data[line->len++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line->data[line->len] = '\0';
  if (line->len == 0) return false;
  if (line->data[line->len - 1] != '\n' && line->len == kLineBufferSize - 1) {
    // Buffer full without a line end: a whole line only if the file ends here.
    int next = getc_unlocked(in);
    if (next != EOF) {
      ungetc(next, in);
      line->whole = false;
    }
  }
  return true;
}

const char* find_bytes(const char* hay, size_t len, const char* needle) {
  if (hay == nullptr || needle == nullptr) return nullptr;
  return static_cast<const char*>(memmem(hay, len, needle, std::strlen(needle)));
}

const char* find_bytes_nocase(const char* hay, size_t len, const char* needle) {
  if (hay == nullptr || needle == nullptr) return nullptr;
  size_t n = std::strlen(needle);
  if (n == 0) return hay;
  for (size_t i = 0; i + n <= len; ++i)
    if (strncasecmp(hay + i, needle, n) == 0) {
      // strncasecmp stops at a zero byte; make sure none sat inside.
      if (std::memchr(hay + i, '\0', n) == nullptr) return hay + i;
    }
  return nullptr;
}

bool contains(const char* text, const char* needle) {
  return text != nullptr && std::strstr(text, needle) != nullptr;
}

bool contains_nocase(const char* text, const char* needle) {
  return text != nullptr && strcasestr(text, needle) != nullptr;
}

// Counts "%%Page:" at line starts across writes of any size.
static void scan_page_comments(const char* data, size_t len) {
  static const char kPage[] = "%%Page:";
  for (size_t i = 0; i < len; ++i) {
    char c = data[i];
    if (c == '\n') {
      g_wrap.pageScan = 0;
      continue;
    }
    if (g_wrap.pageScan < 0) continue;
    if (c != kPage[g_wrap.pageScan]) {
      g_wrap.pageScan = -1;
      continue;
    }
    if (++g_wrap.pageScan == static_cast<int>(sizeof kPage - 1)) {
      g_wrap.pageScan = -1;
      fprintf(stderr, "PAGE: %d 1\n", ++g_wrap.pagesWritten);
    }
  }
}

bool out_write(const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  scan_page_comments(p, len);
  while (len > 0) {
    ssize_t n = write(g_wrap.outFd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      g_wrap.outputFailed = true;
      return false;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace jw
