// ppdgen [file]: writes the raster models' ppdc driver source to `file`
// (standard output without one).  Exit status 1 when it cannot be written.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "drv_writer.h"

int main(int argc, char* argv[]) {
  if (argc > 2) {
    std::fputs("usage: ppdgen [output.drv]\n", stderr);
    return 1;
  }
  if (argc == 1) {
    ppdgen::writeRasterDrv(std::cout);
    return std::cout.flush() ? 0 : 1;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  ppdgen::writeRasterDrv(out);
  out.close();
  if (!out) {
    std::fprintf(stderr, "ppdgen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
