#include "printer_icons.h"

#include <png.h>

#include <algorithm>
#include <mutex>
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

// Grey and alpha per pixel: each box painted over the ones before, with
// the share of each pixel it covers (so edges are smooth at 48 pixels too).
// The work is the boxes' area, not a pass over the canvas per box: the
// server draws the icons as its printers come up.
std::vector<unsigned char> rasterize(const std::vector<Box>& boxes, int size) {
  std::vector<double> grey(static_cast<size_t>(size) * size, 0.0), alpha(grey.size(), 0.0);  // grey premultiplied
  const double scale = size / 100.0;
  for (const Box& b : boxes) {
    double x0 = b.x0 * scale, x1 = b.x1 * scale, y0 = b.y0 * scale, y1 = b.y1 * scale;
    for (int y = static_cast<int>(y0); y < size && y < y1; ++y) {
      double cy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
      for (int x = static_cast<int>(x0); x < size && x < x1; ++x) {
        double cover = cy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
        size_t i = static_cast<size_t>(y) * size + x;
        grey[i] = b.grey * cover + grey[i] * (1 - cover);
        alpha[i] = cover + alpha[i] * (1 - cover);
      }
    }
  }
  std::vector<unsigned char> out(grey.size() * 2);
  for (size_t i = 0; i < grey.size(); ++i) {
    out[i * 2] = static_cast<unsigned char>(alpha[i] > 0 ? grey[i] / alpha[i] + 0.5 : 0);
    out[i * 2 + 1] = static_cast<unsigned char>(alpha[i] * 255 + 0.5);
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

namespace {

// Drawn once per family; PAPPL keeps the pointers, so they live as long as
// the process.
struct Family {
  std::once_flag drawn;
  std::string png[3];
};

Family& family(rf::ModelClass model) {
  static Family families[rf::PLATFORM_M + 1];
  int cls = std::clamp(static_cast<int>(model), static_cast<int>(rf::PLATFORM_C), static_cast<int>(rf::PLATFORM_M));
  Family& f = families[cls];
  std::call_once(f.drawn, [&] {
    for (int i = 0; i < 3; ++i) f.png[i] = drawIconPng(static_cast<rf::ModelClass>(cls), kIconSizes[i]);
  });
  return f;
}

}  // namespace

void drawIcons() {
  for (int cls = rf::PLATFORM_C; cls <= rf::PLATFORM_M; ++cls) family(static_cast<rf::ModelClass>(cls));
}

void setIcons(const rf::ModelInfo& model, pappl_pr_driver_data_t* data) {
  Family& f = family(model.cls);
  for (int i = 0; i < 3; ++i) {
    data->icons[i].filename[0] = '\0';
    data->icons[i].data = f.png[i].data();
    data->icons[i].datalen = f.png[i].size();
  }
}

}  // namespace tpa
