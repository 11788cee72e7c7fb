// What placing a raster page of another size on the paper costs: a Letter
// page at 600 dpi onto A4, fitted, in the application's own line-by-line
// resampling, against the route through PDF (CUPS's rastertopdf and
// pdftopdf, then Ghostscript rendering the page at 600 dpi), for a text
// page and a photo.  Run by `make bench`; figures only, never a failure.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "raster_scaling.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// A Letter page of 8-bit grey PWG raster at 600 dpi: Ghostscript's text,
// or a photo-like page of fine grey detail that compresses poorly.
void write_page(const std::string& path, bool photo) {
  if (!photo) {
    std::string ps = "%!PS\n/Times-Roman findfont 9 scalefont setfont\n"
                     "760 -11 40 { 36 exch moveto (The quick brown fox jumps over the lazy dog, 0123456789; "
                     "pack my box with five dozen liquor jugs.) show } for showpage\n";
    ProcessOptions o;
    o.stdinData = ps;
    runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pwgraster", "-r600",
                "-sPAPERSIZE=letter", "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", "-sOutputFile=" + path, "-"},
               o);
    return;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
  cups_page_header2_t h = greyHeader(612, 792, 600);
  h.cupsColorSpace = CUPS_CSPACE_SW;  // sGray, as phones send it
  cupsRasterWriteHeader2(r, &h);
  std::vector<unsigned char> line(h.cupsBytesPerLine);
  for (unsigned y = 0; y < h.cupsHeight; ++y) {
    for (unsigned x = 0; x < h.cupsWidth; ++x)
      line[x] = static_cast<unsigned char>(((x / 40 + y / 40) & 1) ? 60 + (x * 7 + y * 3) % 97 : 200 - (x ^ y) % 50);
    cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
  }
  cupsRasterClose(r);
  close(fd);
}

// The page read and placed on A4, the output thrown away: wall, CPU ms.
std::pair<double, double> placed(const std::string& path) {
  double wall = wallMs(), cpu = cpuMs();
  int fd = open(path.c_str(), O_RDONLY);
  cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t in;
  while (cupsRasterReadHeader2(r, &in)) {
    tpa::RasterPlacer placer("fit", {595, 842, 14.17, 28.8});
    cups_page_header2_t out = greyHeader(595, 842, 600);
    std::string how;
    bool placing = placer.startPage(in, &out, [](const unsigned char*, size_t) { return true; }, &how);
    std::vector<unsigned char> line(in.cupsBytesPerLine);
    for (unsigned y = 0; y < in.cupsHeight; ++y) {
      cupsRasterReadPixels(r, line.data(), in.cupsBytesPerLine);
      if (placing) placer.push(line.data());
    }
    if (placing) placer.finish();
  }
  cupsRasterClose(r);
  close(fd);
  return {wallMs() - wall, cpuMs() - cpu};
}

// The same through PDF, each stage a process of its own: wall ms.
double through_pdf(const TempDir& dir, const std::string& path) {
  const std::string filters = "/usr/lib/cups/filter/";
  double wall = wallMs();
  ProcessOptions o;
  o.stdinFromDevNull = true;
  o.env = {"CONTENT_TYPE=image/pwg-raster", "FINAL_CONTENT_TYPE=application/pdf"};
  writeFile(dir.file("page.pdf"), runProcess({filters + "rastertopdf", "1", "u", "t", "1", "", path}, o).out);
  o.env = {"CONTENT_TYPE=application/pdf", "FINAL_CONTENT_TYPE=application/vnd.cups-raster"};
  writeFile(dir.file("a4.pdf"), runProcess({filters + "pdftopdf", "1", "u", "t", "1",
                                            "media=iso_a4_210x297mm print-scaling=fit", dir.file("page.pdf")},
                                           o).out);
  runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=cups", "-r600",
              "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", "-dDEVICEWIDTHPOINTS=595", "-dDEVICEHEIGHTPOINTS=842",
              "-dFIXEDMEDIA", "-sOutputFile=/dev/null", dir.file("a4.pdf")},
             o);
  return wallMs() - wall;
}

}  // namespace

int main() {
  TempDir dir;
  for (bool photo : {false, true}) {
    std::string page = dir.file(photo ? "photo.pwg" : "text.pwg");
    write_page(page, photo);
    auto [wall, cpu] = placed(page);
    double pdf = through_pdf(dir, page);
    printf("Letter %s page at 600 dpi fitted on A4: placed %.0f ms (%.0f ms CPU), through PDF %.0f ms "
           "(%zu kB of PDF)\n",
           photo ? "photo" : "text", wall, cpu, pdf, readFile(dir.file("a4.pdf")).size() / 1024);
  }
  return 0;
}
