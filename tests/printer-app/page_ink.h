// Where the ink of each printed page lies, read back from a printer file
// with the stream inspector's page pictures, and the frame document whose
// ink shows how a page was laid out.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct PageInk {
  int width = 0, height = 0;      // the picture, in dots
  int left = 0, top = 0;          // the ink's bounding box, in dots
  int right = -1, bottom = -1;    // (right < left: a blank page)
  long dots = 0;                  // black dots
  double cx = 0, cy = 0;          // where the ink's weight lies, in dots
  double inkWidthMm() const { return (right - left + 1) * 25.4 / 600; }
  double inkHeightMm() const { return (bottom - top + 1) * 25.4 / 600; }
  // The corner of the ink's box its weight leans to: "tl", "tr", "bl", "br".
  std::string heavyCorner() const;
};

// Each page of a printer file, in order (empty when it does not decode).
std::vector<PageInk> pageInk(const std::string& stream);

// Each page of a PostScript model's printer file (the PostScript or PDF
// within the printer's job language), rendered by Ghostscript at 600 dpi.
std::vector<PageInk> psPageInk(const std::string& stream);

// The PostScript program of framePdf().
std::string framePostScript(int pages, int widthPt = 595, int heightPt = 842);

// A PDF of `pages` pages of widthPt x heightPt points, each with a frame
// 20 mm inside the page's edges (its outer edge there) and, on the first
// page only, a black square inside the frame's top-left corner.
std::string framePdf(int pages, int widthPt = 595, int heightPt = 842);

// How far apart the frame's outer edges are on the document's page, in mm.
inline double frameWidthMm(int widthPt) { return widthPt * 25.4 / 72 - 40; }
inline double frameHeightMm(int heightPt) { return heightPt * 25.4 / 72 - 40; }

}  // namespace testing_support
