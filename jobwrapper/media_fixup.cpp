#include "media_fixup.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <cups/cups.h>

#include "ppd_handle.h"
#include "wrapper_state.h"

namespace jw {

namespace {

// The job's parsed options, freed on every path.
struct Options {
  int count = 0;
  cups_option_t* list = nullptr;
  explicit Options(const char* text) {
    if (text != nullptr) count = cupsParseOptions(text, 0, &list);
  }
  ~Options() { cupsFreeOptions(count, list); }
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;
  const char* get(const char* name) const { return cupsGetOption(name, count, list); }
};

// The first line of the file that holds needle (any case), like
// "grep -i -m 1"; the line end is dropped.
bool first_line_with(const char* path, const char* needle, std::string* line) {
  FILE* f = path != nullptr ? fopen(path, "rb") : nullptr;
  if (f == nullptr) return false;
  char* buf = nullptr;
  size_t cap = 0;
  ssize_t n;
  bool found = false;
  while (!found && (n = getline(&buf, &cap, f)) > 0) {
    if (find_bytes_nocase(buf, static_cast<size_t>(n), needle) != nullptr) {
      line->assign(buf, static_cast<size_t>(n));
      while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
      found = true;
    }
  }
  free(buf);
  fclose(f);
  return found;
}

// Reads up to count numbers from *pos on: each starts at the next digit
// and runs to the next space, "]" or the end of the text.  Returns how
// many were found.
int read_numbers(const std::string& text, size_t pos, int count, std::string* out) {
  int found = 0;
  while (found < count) {
    pos = text.find_first_of("0123456789", pos);
    if (pos == std::string::npos) break;
    size_t end = text.find_first_of(" ]", pos);
    if (end == std::string::npos) end = text.size();
    out[found++] = text.substr(pos, end - pos);
    pos = end;
  }
  return found;
}

bool width_in_range(double w) { return w >= kCustomMinWidth && w <= kCustomMaxWidth; }
bool height_in_range(double h) { return h >= kCustomMinHeight && h <= kCustomMaxHeight; }

}  // namespace

int GetPageSizeFromPpd(const char* const* argv, int* width, int* height) {
  if (argv == nullptr || argv[5] == nullptr || width == nullptr || height == nullptr) return 0;
  Options options(argv[5]);
  const char* pageSize = options.get("PageSize");
  if (pageSize == nullptr) return 0;
  PpdHandle ppd;
  if (!ppd) return 1;
  ppd_size_t* size = ppdPageSize(ppd.get(), pageSize);
  if (size != nullptr) {
    *width = static_cast<int>(size->width);
    *height = static_cast<int>(size->length);
    fprintf(stderr, "pagesize:%s width:%d,heigh:%d\n", pageSize, *width, *height);
  }
  return 1;
}

bool IsCustomSizePrintable(const char* options, const char* jobPath) {
  Options opts(options);
  const char* size = opts.get("PageSize");
  if (size != nullptr) {
    fprintf(stderr, "PageSize:%s\n", size);
  } else {
    size = opts.get("media");
    if (size != nullptr) fprintf(stderr, "media=%s\n", size);
  }
  if (!contains_nocase(size, "Custom")) return true;

  // The job file is searched here, in-process: its path never reaches a shell.
  std::string line;
  if (first_line_with(jobPath, "<</Type/Page/MediaBox", &line)) {
    size_t open = line.find('[');
    if (open != std::string::npos && line.find(']') != std::string::npos) {
      std::string n[4];  // left, top, right, bottom
      if (read_numbers(line, open + 1, 4, n) == 4) {
        fprintf(stderr, "left:%s,top:%s,right:%s,bottom:%s\n", n[0].c_str(), n[1].c_str(),
                n[2].c_str(), n[3].c_str());
        double w = atof(n[2].c_str()) - atof(n[0].c_str());
        double h = atof(n[3].c_str()) - atof(n[1].c_str());
        if (!width_in_range(w) || !height_in_range(h)) return false;
      }
    }
  }
  if (first_line_with(jobPath, " pdfSetupPaper", &line)) {
    std::string n[2];  // width, height
    if (read_numbers(line, 0, 2, n) == 2) {
      fprintf(stderr, "pdfsetuppaper:width;%s,height:%s\n", n[0].c_str(), n[1].c_str());
      if (!width_in_range(atof(n[0].c_str())) || !height_in_range(atof(n[1].c_str())))
        return false;
    }
  }
  return true;
}

namespace {

// A number's integer part, read forwards from *p: the digit run, a
// fraction behind a point is skipped.  -1 when no digit follows.
int digits_forward(const char** p, const char* end) {
  const char* s = *p;
  while (s < end && !isdigit(static_cast<unsigned char>(*s))) ++s;
  if (s == end) return -1;
  int v = 0;
  while (s < end && isdigit(static_cast<unsigned char>(*s))) v = v * 10 + (*s++ - '0');
  if (s < end && *s == '.')
    for (++s; s < end && isdigit(static_cast<unsigned char>(*s));) ++s;
  *p = s;
  return v;
}

// The same backwards from just before *p (p moves to the start of the
// number).  "841.89" reads as 841.
int digits_backward(const char** p, const char* begin) {
  const char* s = *p;
  while (s > begin && !isdigit(static_cast<unsigned char>(s[-1]))) --s;
  const char* runEnd = s;
  while (s > begin && isdigit(static_cast<unsigned char>(s[-1]))) --s;
  if (s == runEnd) return -1;
  if (s - 1 > begin && s[-1] == '.' && isdigit(static_cast<unsigned char>(s[-2]))) {
    runEnd = --s;  // that was a fraction: the integer part comes before the point
    while (s > begin && isdigit(static_cast<unsigned char>(s[-1]))) --s;
  }
  *p = s;
  return atoi(std::string(s, static_cast<size_t>(runEnd - s)).c_str());
}

bool near(int v, int target) { return v >= target - 2 && v <= target + 2; }

// Scans the job file for its page size; true when it found A5.
bool file_is_a5(const char* path) {
  FILE* f = path != nullptr ? fopen(path, "rb") : nullptr;
  if (f == nullptr) {
    fprintf(stderr, "%s open file %s failed!,code:%d\n", "isA5PageSize", path ? path : "", errno);
    return false;
  }
  static const char kMediaBox[] = "<</Type/Page/MediaBox [0 0";
  LineBuffer line;
  int width = -1, height = -1;
  bool decided = false;
  while (!decided && read_line(f, &line)) {
    const char* end = line.data + line.len;
    const char* hit = find_bytes_nocase(line.data, line.len, kMediaBox);
    if (hit != nullptr) {
      const char* p = hit + sizeof kMediaBox - 1;
      width = digits_forward(&p, end);
      height = digits_forward(&p, end);
      decided = true;
      continue;
    }
    hit = find_bytes_nocase(line.data, line.len, "pdfSetupPaper");
    if (hit != nullptr && hit > line.data && hit[-1] != '/') {
      const char* p = hit;
      height = digits_backward(&p, line.data);
      width = digits_backward(&p, line.data);
      decided = true;
    }
  }
  fclose(f);
  return decided && near(width, 420) && near(height, 595);
}

bool long_edge_choice(const char* value) {
  bool longEdge = contains_nocase(value, "LongEdge");
  fprintf(stderr, longEdge ? "LongEdge =true\n" : "LongEdge =false\n");
  return longEdge;
}

}  // namespace

bool isA5PageSize(const char* options, const char* jobPath) {
  Options opts(options);
  const char* pageSize = opts.get("PageSize");
  bool a5 = pageSize != nullptr ? contains(pageSize, "A5") : file_is_a5(jobPath);
  if (!a5) return false;

  const char* feedEdge = opts.get("FeedEdge");
  if (feedEdge != nullptr) {
    fprintf(stderr, "FeedEdge=%s\n", feedEdge);
    return long_edge_choice(feedEdge);
  }
  PpdHandle ppd;
  ppd_option_t* option = ppd ? ppdFindOption(ppd.get(), "FeedEdge") : nullptr;
  if (option == nullptr) return true;
  return long_edge_choice(option->defchoice);
}

namespace {

// Replaces the whole line by text.  The printers' lines of interest are
// short; the buffer always holds the result.
int replace_line(LineBuffer* line, const char* text) {
  std::memset(line->data, 0, line->len < 1000 ? 1000 : line->len);
  snprintf(line->data, sizeof line->data, "%s", text);
  line->len = std::strlen(line->data);
  fprintf(stderr, "%s\n", line->data);
  return 1;
}

int clear_line(LineBuffer* line) {
  std::memset(line->data, 0, line->len < 1000 ? 1000 : line->len);
  line->len = 0;
  return 1;
}

}  // namespace

int FixupMediaLine(LineBuffer* line, int width, int height, uint8_t* state) {
  const char* d = line->data;
  size_t n = line->len;
  char text[128];
  if (find_bytes_nocase(d, n, "<</Type/Page/MediaBox [0 0") != nullptr) {
    if (width == 0 || height == 0) return 0;
    snprintf(text, sizeof text, "<</Type/Page/MediaBox [0 0 %d %d]\n", width, height);
    return replace_line(line, text);
  }
  if (find_bytes_nocase(d, n, "/pdfSetupPaper") != nullptr) return 0;  // the definition
  if (find_bytes_nocase(d, n, "pdfSetupPaper") != nullptr) {
    if (width == 0 || height == 0) return 0;
    snprintf(text, sizeof text, "%d %d pdfSetupPaper\n", width, height);
    return replace_line(line, text);
  }
  // Collated copies are made by repeating the whole document, so the
  // printer must not multiply each page as well.
  if (g_wrap.g_bCollate) {
    if (find_bytes_nocase(d, n, "%RBIBeginNonPPDFeature: *NumCopies") != nullptr) {
      *state = 1;
      return clear_line(line);
    }
    if (find_bytes_nocase(d, n, "%RBIEndNonPPDFeature") != nullptr) {
      *state = 0;
      return clear_line(line);
    }
    if (*state == 1) return clear_line(line);
  }
  const char* dict = find_bytes_nocase(d, n, "<<DeferredMediaSelection");
  if (dict != nullptr && find_bytes_nocase(d, n, ">>setpagedevice") != nullptr) {
    // The key must be a name: "<<DeferredMediaSelection" -> "<</DeferredMediaSelection".
    size_t at = static_cast<size_t>(dict - d) + 2;
    std::memmove(line->data + at + 1, line->data + at, line->len - at + 1);
    line->data[at] = '/';
    line->len += 1;
    fprintf(stderr, "Modified <</DeferredMediaSelection\n");
    return 1;
  }
  return 0;
}

}  // namespace jw
