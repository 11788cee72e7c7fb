// Paper sizes of a model as IPP media names, and the way back from a job's
// media size to the PPD page size name the filter and the PPD know.
#pragma once

#include <string>
#include <vector>

#include "model_catalog.h"

namespace tpa {

struct MediaRow {
  std::string pwgName;  // IPP "media" keyword, e.g. "iso_a4_210x297mm"
  std::string ppdName;  // PPD PageSize choice, e.g. "A4"
  int widthPt = 0;      // the page as the paper table has it, in points
  int heightPt = 0;
  int width = 0;        // the IPP size, hundredths of millimetres
  int length = 0;
};

// One row per distinct size of the model's paper table, in table order
// (where a table lists a size twice, the first row is the one the filter
// uses).  Standard sizes get their registered IPP names; the others get a
// self-describing "om_" name.
std::vector<MediaRow> mediaRowsFor(const rf::PaperEntry* table);

// The row of a page within one point of it in both directions, or null.
const MediaRow* rowNear(const std::vector<MediaRow>& rows, int widthPt, int heightPt);

// The PPD page size for an IPP media size in hundredths of millimetres: the
// row within one point of it, else "Custom.WxH" (points) when the model
// takes custom sizes of that extent, else empty (not printable).
std::string pageSizeForMedia(const std::vector<MediaRow>& rows, const rf::ModelInfo& model,
                             int width, int length);

// The custom-size range as IPP media names ("custom_min_..." and
// "custom_max_..."), empty when the model has none.
std::vector<std::string> customRangeNames(const rf::ModelInfo& model);

// The edges of the page the printer leaves blank, in hundredths of
// millimetres: the filter sends the middle imageWidth dots of each line and
// the first imageHeight lines of the page, so a size's left and right edges
// are half its spare width and its bottom edge all of its spare height.
// PAPPL keeps one left/right and one bottom/top value per printer: these
// are the largest over the model's sizes, rounded up.
struct PageMargins {
  int leftRight = 0;
  int bottomTop = 0;
};
PageMargins imageMargins(const rf::PaperEntry* table);

// Points from hundredths of millimetres, rounded to the nearest point.
int pointsFromHundredthsMm(int v);

}  // namespace tpa
