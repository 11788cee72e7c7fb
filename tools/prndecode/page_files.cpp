#include "page_files.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace prndecode {

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string open_error(const std::string& path) { return "cannot write " + path + ": " + std::strerror(errno); }

}  // namespace

unsigned pixel_ink(const PageImage& page, uint32_t x, uint32_t y) {
  const uint8_t* row = page.bits.data() + size_t(y) * page.row_bytes;
  if (page.depth == 2) return (row[x / 4] >> (6 - 2 * (x % 4))) & 3;
  return (row[x / 8] >> (7 - x % 8)) & 1;
}

std::vector<uint8_t> page_preview(const PageImage& page, uint32_t* width, uint32_t* height) {
  uint32_t fy = page.height > kPreviewLines ? (page.height + kPreviewLines - 1) / kPreviewLines : 1;
  uint32_t fx = fy * (page.widened ? 2 : 1);
  uint32_t w = (page.width + fx - 1) / fx, h = (page.height + fy - 1) / fy;
  unsigned max_ink = page.depth == 2 ? 3 : 1;
  std::vector<uint8_t> grey(size_t(w) * h, 255);
  std::vector<uint64_t> ink(w), count(w);
  for (uint32_t oy = 0; oy < h; ++oy) {
    std::fill(ink.begin(), ink.end(), 0);
    std::fill(count.begin(), count.end(), 0);
    for (uint32_t y = oy * fy; y < page.height && y < (oy + 1) * fy; ++y) {
      for (uint32_t x = 0; x < page.width; ++x) {
        ink[x / fx] += pixel_ink(page, x, y);
        count[x / fx] += max_ink;
      }
    }
    for (uint32_t ox = 0; ox < w; ++ox) {
      if (count[ox]) grey[size_t(oy) * w + ox] = uint8_t(255 - (255 * ink[ox] + count[ox] / 2) / count[ox]);
    }
  }
  *width = w;
  *height = h;
  return grey;
}

std::string write_png(const std::string& path, const std::vector<uint8_t>& grey, uint32_t width, uint32_t height) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return open_error(path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return "libpng cannot start";
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "libpng failed writing " + path;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, grey.data() + size_t(y) * width);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) return open_error(path);
  return "";
}

std::string page_file_stem(int index) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "page-%03d", index);
  return buf;
}

std::string write_page_files(const std::string& dir, const PageImage& page, bool png) {
  std::string stem = dir + "/" + page_file_stem(page.index);
  std::string path = stem + (page.depth == 2 ? ".pgm" : ".pbm");
  {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) return open_error(path);
    if (page.depth == 2) {
      std::fprintf(file.get(), "P5\n%u %u\n3\n", page.width, page.height);
      std::vector<uint8_t> row(page.width);
      for (uint32_t y = 0; y < page.height; ++y) {
        for (uint32_t x = 0; x < page.width; ++x) row[x] = uint8_t(3 - pixel_ink(page, x, y));
        std::fwrite(row.data(), 1, row.size(), file.get());
      }
    } else {
      std::fprintf(file.get(), "P4\n%u %u\n", page.width, page.height);
      std::fwrite(page.bits.data(), 1, page.bits.size(), file.get());
    }
    if (std::ferror(file.get()) || std::fflush(file.get()) != 0) return open_error(path);
  }
  if (!png) return "";
  uint32_t w = 0, h = 0;
  std::vector<uint8_t> grey = page_preview(page, &w, &h);
  return write_png(stem + ".png", grey, w, h);
}

}  // namespace prndecode
