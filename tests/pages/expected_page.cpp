#include "expected_page.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "screen_tables.h"

Page expectedPage(const GreyRaster& r, const PageRecipe& p) {
  // The grey page: the middle of wider lines, narrower lines on the left,
  // white where the raster has nothing.
  const uint32_t w = p.imageWidth, h = p.imageHeight;
  std::vector<uint8_t> grey(size_t{w} * h, 255);
  for (uint32_t y = 0; y < h && y < r.linesPresent; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      if (r.width > w) grey[size_t{y} * w + x] = r.grey(x + (r.width - w) / 2, y);
      else if (x < r.width) grey[size_t{y} * w + x] = r.grey(x, y);
    }

  uint32_t ow = w, oh = h;
  std::vector<uint8_t> turned(grey.size());
  if (p.turn == Turn::Half) {
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) turned[size_t{h - 1 - y} * w + (w - 1 - x)] = grey[size_t{y} * w + x];
    grey.swap(turned);
  } else if (p.turn == Turn::Quarter) {  // clockwise
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) turned[size_t{x} * h + (h - 1 - y)] = grey[size_t{y} * w + x];
    grey.swap(turned);
    std::swap(ow, oh);
  }

  Page out;
  out.width = ow;
  out.height = oh;
  out.depth = p.fourLevel ? 2 : 1;
  out.ink.resize(size_t{ow} * oh);
  for (uint32_t y = 0; y < oh; ++y)
    for (uint32_t x = 0; x < ow; ++x) {
      const int g = grey[size_t{y} * ow + x];
      const int t = p.screen[(y % p.tile) * p.tile + (x % p.tile)];
      uint8_t v;
      if (p.fourLevel) {
        v = g == 0 ? 3 : rf::LevelMap[std::max(0, 255 - g - t)];
        if (p.negative) v = static_cast<uint8_t>(3 - v);
      } else {
        v = g < t ? 1 : 0;
        if (p.negative) v ^= 1;
      }
      out.ink[size_t{y} * ow + x] = v;
    }
  return out;
}

size_t countDifferences(const Page& a, const Page& b, std::string* where) {
  if (a.width != b.width || a.height != b.height) {
    if (where) {
      std::ostringstream s;
      s << "size " << a.width << "x" << a.height << " vs " << b.width << "x" << b.height;
      *where = s.str();
    }
    return static_cast<size_t>(-1);
  }
  size_t n = 0;
  for (uint32_t y = 0; y < a.height; ++y)
    for (uint32_t x = 0; x < a.width; ++x)
      if (a.at(x, y) != b.at(x, y) && n++ == 0 && where) {
        std::ostringstream s;
        s << "first at " << x << "," << y << ": " << int(a.at(x, y)) << " vs " << int(b.at(x, y));
        *where = s.str();
      }
  return n;
}
