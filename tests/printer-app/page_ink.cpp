#include "page_ink.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace testing_support {

namespace {

// A PBM (P4) or PGM (P5) page as prndecode writes it: black where a dot
// is set (PBM) or darker than half (PGM).
PageInk read_picture(const std::string& data) {
  std::istringstream in(data);
  std::string magic;
  int w = 0, h = 0, maxval = 1;
  in >> magic >> w >> h;
  if (magic == "P5") in >> maxval;
  in.get();
  PageInk ink;
  ink.width = w;
  ink.height = h;
  ink.left = w;
  ink.top = h;
  size_t pos = static_cast<size_t>(in.tellg());
  const size_t stride = magic == "P4" ? (w + 7) / 8 : w;
  double sx = 0, sy = 0;
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = reinterpret_cast<const unsigned char*>(data.data() + pos + y * stride);
    if (pos + (y + 1) * stride > data.size()) break;
    for (int x = 0; x < w; ++x) {
      bool black = magic == "P4" ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x] < (maxval + 1) / 2;
      if (!black) continue;
      ++ink.dots;
      sx += x;
      sy += y;
      if (x < ink.left) ink.left = x;
      if (x > ink.right) ink.right = x;
      if (y < ink.top) ink.top = y;
      if (y > ink.bottom) ink.bottom = y;
    }
  }
  if (ink.dots) {
    ink.cx = sx / ink.dots;
    ink.cy = sy / ink.dots;
  }
  return ink;
}

}  // namespace

std::string PageInk::heavyCorner() const {
  std::string c = cy < (top + bottom) / 2.0 ? "t" : "b";
  return c + (cx < (left + right) / 2.0 ? "l" : "r");
}

std::vector<PageInk> pageInk(const std::string& stream) {
  TempDir dir;
  writeFile(dir.file("job.prn"), stream);
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  runProcess({binPath("prndecode"), "--no-png", "-o", dir.file("pages"), dir.file("job.prn")}, quiet);
  std::vector<std::string> names = dirEntries(dir.file("pages"));
  std::sort(names.begin(), names.end());  // page-001.pbm, page-002.pbm, ...
  std::vector<PageInk> pages;
  for (const std::string& name : names)
    if (name.size() > 4 && (name.substr(name.size() - 4) == ".pbm" || name.substr(name.size() - 4) == ".pgm"))
      pages.push_back(read_picture(readFile(dir.file("pages/" + name))));
  return pages;
}

std::string framePdf(int pages, int widthPt, int heightPt) {
  TempDir dir;
  const double mm20 = 20 * 72 / 25.4;
  std::ostringstream ps;
  ps << "%!PS\n<< /PageSize [" << widthPt << " " << heightPt << "] >> setpagedevice\n"
     << "/m " << mm20 << " def /w " << widthPt << " def /h " << heightPt << " def\n"
     << "1 1 " << pages << " { /n exch def\n"
     // A 2 pt frame whose outer edge is 20 mm inside the page's.
     << "  4 setlinewidth m 2 add m 2 add w m 2 mul sub 4 sub h m 2 mul sub 4 sub rectstroke\n"
     << "  n 1 eq { m 10 add h m sub 70 sub 60 60 rectfill } if showpage } for\n";
  writeFile(dir.file("doc.ps"), ps.str());
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  ProcessResult r = runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                                "-dFIXEDMEDIA", "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPt),
                                "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPt),
                                "-sOutputFile=" + dir.file("doc.pdf"), dir.file("doc.ps")},
                               quiet);
  if (r.exitStatus != 0) throw std::runtime_error("gs failed: " + r.err);
  return readFile(dir.file("doc.pdf"));
}

}  // namespace testing_support
