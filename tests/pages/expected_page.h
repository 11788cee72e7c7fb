// What a printed page must look like, computed from the raster that went
// in, without the filter's own page code: crop or pad to the image size,
// turn as the paper path needs, dither against the screen.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pnm_page.h"

// Grey value of the input raster at (x, y), and its size.
struct GreyRaster {
  uint32_t width = 0, lines = 0, linesPresent = 0;
  std::function<uint8_t(uint32_t x, uint32_t y)> grey;
};

enum class Turn { None, Half, Quarter };

struct PageRecipe {
  uint32_t imageWidth = 0, imageHeight = 0;  // before any turn
  Turn turn = Turn::None;
  const uint8_t* screen = nullptr;           // tile x tile thresholds
  unsigned tile = 16;
  bool negative = false;
  bool fourLevel = false;
};

Page expectedPage(const GreyRaster& raster, const PageRecipe& recipe);

// Number of pixels that differ; the first difference in *where.
size_t countDifferences(const Page& a, const Page& b, std::string* where);
