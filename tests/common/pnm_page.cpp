#include "pnm_page.h"

#include <fstream>

Page readPnm(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  Page page;
  std::string magic;
  // A number of the header, past any comment line (Ghostscript writes one).
  auto number = [&f] {
    f >> std::ws;
    for (std::string comment; f.peek() == '#'; f >> std::ws) std::getline(f, comment);
    uint32_t v = 0;
    f >> v;
    return v;
  };
  f >> magic;
  page.width = number();
  page.height = number();
  if (magic == "P5") {
    number();  // maxval
    page.depth = 2;
  }
  f.get();
  page.ink.resize(size_t{page.width} * page.height);
  if (magic == "P4") {
    const size_t rowBytes = (page.width + 7) / 8;
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t y = 0; y < page.height; ++y) {
      f.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(rowBytes));
      for (uint32_t x = 0; x < page.width; ++x)
        page.ink[size_t{y} * page.width + x] = (row[x / 8] >> (7 - x % 8)) & 1;
    }
  } else if (magic == "P5") {
    std::vector<uint8_t> row(page.width);
    for (uint32_t y = 0; y < page.height; ++y) {
      f.read(reinterpret_cast<char*>(row.data()), page.width);
      for (uint32_t x = 0; x < page.width; ++x) page.ink[size_t{y} * page.width + x] = static_cast<uint8_t>(3 - row[x]);
    }
  } else {
    page.width = page.height = 0;
    page.ink.clear();
  }
  return page;
}
