#include "page_ink.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "pnm_page.h"
#include "test_support.h"

namespace testing_support {

namespace {

// Where the black of a page picture lies: every dot of a 1-bit page,
// the darker half of a 2-bit one.
PageInk ink_of(const Page& page) {
  PageInk ink;
  ink.width = static_cast<int>(page.width);
  ink.height = static_cast<int>(page.height);
  ink.left = ink.width;
  ink.top = ink.height;
  double sx = 0, sy = 0;
  for (int y = 0; y < ink.height; ++y)
    for (int x = 0; x < ink.width; ++x) {
      if (page.at(x, y) < (page.depth == 1 ? 1 : 2)) continue;
      ++ink.dots;
      sx += x;
      sy += y;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
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
      pages.push_back(ink_of(readPnm(dir.file("pages/" + name))));
  return pages;
}

std::vector<PageInk> psPageInk(const std::string& stream) {
  size_t ps = stream.find("%!PS"), pdf = stream.find("%PDF");
  size_t from = std::min(ps, pdf), end = stream.rfind("%%EOF");
  if (from == std::string::npos || end == std::string::npos || end < from) return {};
  TempDir dir;
  writeFile(dir.file("job"), stream.substr(from, end + 5 - from));
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pbmraw", "-r600",
              "-sOutputFile=" + dir.file("page-%03d.pbm"), dir.file("job")},
             quiet);
  std::vector<std::string> names = dirEntries(dir.path());
  std::sort(names.begin(), names.end());
  std::vector<PageInk> pages;
  for (const std::string& name : names)
    if (name.compare(0, 5, "page-") == 0) pages.push_back(ink_of(readPnm(dir.file(name))));
  return pages;
}

std::string framePostScript(int pages, int widthPt, int heightPt) {
  const double mm20 = 20 * 72 / 25.4;
  std::ostringstream ps;
  ps << "%!PS\n<< /PageSize [" << widthPt << " " << heightPt << "] >> setpagedevice\n"
     << "/m " << mm20 << " def /w " << widthPt << " def /h " << heightPt << " def\n"
     << "1 1 " << pages << " { /n exch def\n"
     // A 2 pt frame whose outer edge is 20 mm inside the page's.
     << "  4 setlinewidth m 2 add m 2 add w m 2 mul sub 4 sub h m 2 mul sub 4 sub rectstroke\n"
     << "  n 1 eq { m 10 add h m sub 70 sub 60 60 rectfill } if showpage } for\n";
  return ps.str();
}

std::string framePdf(int pages, int widthPt, int heightPt) {
  TempDir dir;
  writeFile(dir.file("doc.ps"), framePostScript(pages, widthPt, heightPt));
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
