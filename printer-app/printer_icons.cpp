#include "printer_icons.h"

#include <png.h>

#include <algorithm>
#include <vector>

namespace tpa {

namespace {

// A filled box on a 100 x 100 canvas, in one grey (0 black, 255 white).
struct Box {
  double x0, y0, x1, y1;
  unsigned char grey;
};

// Back to front: the paper on top, the body, the front slot, the panel,
// the trays.
constexpr Box kPaper = {30, 14, 70, 34, 250};
constexpr Box kPaperEdge = {28, 12, 72, 34, 150};
constexpr Box kBody = {8, 30, 92, 76, 85};
constexpr Box kTop = {8, 30, 92, 40, 115};
constexpr Box kSlot = {20, 52, 80, 56, 40};
constexpr Box kPanel = {70, 42, 86, 48, 210};
constexpr Box kTray = {16, 76, 84, 86, 140};
constexpr Box kSecondTray = {16, 86, 84, 95, 115};   // the TC series
constexpr Box kOutputBin = {24, 22, 76, 30, 60};     // the TM series

std::vector<Box> drawing_for(rf::ModelClass cls) {
  std::vector<Box> boxes = {kPaperEdge, kPaper, kBody, kTop, kSlot, kPanel, kTray};
  if (cls == rf::PLATFORM_C) boxes.push_back(kSecondTray);
  if (cls == rf::PLATFORM_M) boxes.insert(boxes.begin() + 2, kOutputBin);
  return boxes;
}

// Grey and alpha per pixel, each pixel sampled 4 x 4 times so that edges
// are smooth at 48 pixels too.
std::vector<unsigned char> rasterize(const std::vector<Box>& boxes, int size) {
  constexpr int kSamples = 4;
  std::vector<unsigned char> out(static_cast<size_t>(size) * size * 2, 0);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      int covered = 0, grey = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          double u = (x + (sx + 0.5) / kSamples) * 100.0 / size, v = (y + (sy + 0.5) / kSamples) * 100.0 / size;
          const Box* top = nullptr;
          for (const Box& b : boxes)
            if (u >= b.x0 && u < b.x1 && v >= b.y0 && v < b.y1) top = &b;
          if (top) {
            ++covered;
            grey += top->grey;
          }
        }
      }
      unsigned char* px = &out[(static_cast<size_t>(y) * size + x) * 2];
      px[0] = static_cast<unsigned char>(covered ? grey / covered : 0);
      px[1] = static_cast<unsigned char>(covered * 255 / (kSamples * kSamples));
    }
  }
  return out;
}

void append_png(png_structp png, png_bytep data, png_size_t n) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), n);
}

std::string encode_png(const std::vector<unsigned char>& pixels, int size) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return "";
  }
  png_set_write_fn(png, &out, append_png, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(size), static_cast<png_uint_32>(size), 8,
               PNG_COLOR_TYPE_GRAY_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < size; ++y)
    png_write_row(png, const_cast<png_bytep>(&pixels[static_cast<size_t>(y) * size * 2]));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace

std::string drawIconPng(rf::ModelClass cls, int size) {
  return encode_png(rasterize(drawing_for(cls), size), size);
}

void setIcons(const rf::ModelInfo& model, pappl_pr_driver_data_t* data) {
  // PAPPL keeps the pointers: the icons live as long as the process.
  struct Family {
    std::string png[3];
  };
  static const std::vector<Family> families = [] {
    std::vector<Family> all(rf::PLATFORM_M + 1);
    for (int cls = rf::PLATFORM_C; cls <= rf::PLATFORM_M; ++cls)
      for (int i = 0; i < 3; ++i) all[cls].png[i] = drawIconPng(static_cast<rf::ModelClass>(cls), kIconSizes[i]);
    return all;
  }();
  int cls = std::clamp(static_cast<int>(model.cls), static_cast<int>(rf::PLATFORM_C), static_cast<int>(rf::PLATFORM_M));
  for (int i = 0; i < 3; ++i) {
    data->icons[i].filename[0] = '\0';
    data->icons[i].data = families[cls].png[i].data();
    data->icons[i].datalen = families[cls].png[i].size();
  }
}

}  // namespace tpa
