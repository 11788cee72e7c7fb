// A page picture as the stream inspector (prndecode) writes it, read back:
// PBM (P4) for 1-bit pages, PGM (P5, maxval 3) for 2-bit ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A decoded or expected page: one byte per pixel, 0 white .. 3 darkest
// (1-bit pages use 0 and 1).
struct Page {
  uint32_t width = 0, height = 0;
  int depth = 1;
  std::vector<uint8_t> ink;
  uint8_t at(uint32_t x, uint32_t y) const { return ink[size_t{y} * width + x]; }
};

// Reads a P4 (1-bit) or P5 (maxval 3: 3 - ink) file written by prndecode.
Page readPnm(const std::string& path);
