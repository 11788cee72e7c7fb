#include "text_io.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

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

namespace {

constexpr char kPageComment[] = "%%Page:";
// The copy-count block's first line: "...NumCopies N" asks the printer for
// N copies of every page that follows.
constexpr char kCopiesComment[] = "%RBIBeginNonPPDFeature: *NumCopies ";
constexpr size_t kCopiesCommentLen = sizeof kCopiesComment - 1;
constexpr size_t kMaxCopiesDigits = 4;  // CUPS makes at most 9999 copies

// True while the line start held may still become one of the two comments.
bool may_be_followed(const char* head, size_t n) {
  if (n < sizeof kPageComment && std::memcmp(head, kPageComment, n) == 0) return true;
  if (std::memcmp(head, kCopiesComment, n < kCopiesCommentLen ? n : kCopiesCommentLen) != 0)
    return false;
  char c = head[n - 1];
  return n <= kCopiesCommentLen || (c >= '0' && c <= '9') || c == '\r';
}

// At a line end: a whole copy-count line sets the copies of later pages.
void copies_line_ended(const char* head, size_t n) {
  if (n <= kCopiesCommentLen || std::memcmp(head, kCopiesComment, kCopiesCommentLen) != 0) return;
  std::string digits(head + kCopiesCommentLen, n - kCopiesCommentLen);
  if (!digits.empty() && digits.back() == '\r') digits.pop_back();
  if (digits.empty() || digits.size() > kMaxCopiesDigits ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return;
  int copies = std::atoi(digits.c_str());
  if (copies >= 1) g_wrap.pageCopies = copies;
}

// Follows the line starts across writes of any size: "%%Page:" makes a
// PAGE: line, the copy-count line sets the copies it reports.
void scan_line_starts(const char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    char c = data[i];
    int& n = g_wrap.lineHeadLen;
    if (c == '\n') {
      if (n > 0) copies_line_ended(g_wrap.lineHead, static_cast<size_t>(n));
      n = 0;
      continue;
    }
    if (n < 0) continue;
    if (n == static_cast<int>(sizeof g_wrap.lineHead)) {
      n = -1;
      continue;
    }
    g_wrap.lineHead[n++] = c;
    if (!may_be_followed(g_wrap.lineHead, static_cast<size_t>(n))) {
      n = -1;
    } else if (n == static_cast<int>(sizeof kPageComment - 1) &&
               std::memcmp(g_wrap.lineHead, kPageComment, sizeof kPageComment - 1) == 0) {
      fprintf(stderr, "PAGE: %d %d\n", ++g_wrap.pagesWritten, g_wrap.pageCopies);
      n = -1;
    }
  }
}

}  // namespace

bool out_write(const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  scan_line_starts(p, len);
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
