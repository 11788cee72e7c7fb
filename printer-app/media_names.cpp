#include "media_names.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include <cups/cups.h>

namespace tpa {

namespace {

int hundredths_mm(int points) { return (points * 2540 + 36) / 72; }

bool near(int a, int b) { return std::abs(a - b) <= 1; }

std::string lower(const char* s) {
  std::string out;
  for (; *s; ++s) out += static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
  return out;
}

MediaRow row_for(const rf::PaperEntry& e) {
  MediaRow row;
  row.ppdName = e.name;
  row.widthPt = e.widthPt;
  row.heightPt = e.heightPt;
  row.width = hundredths_mm(e.widthPt);
  row.length = hundredths_mm(e.heightPt);
  // A registered size whose points agree with the table keeps its name;
  // CUPS's tolerant size lookup answers "custom_..." for anything else.
  pwg_media_t* pwg = pwgMediaForSize(row.width, row.length);
  if (pwg && pwg->pwg && std::string(pwg->pwg).compare(0, 7, "custom_") != 0 &&
      near(pointsFromHundredthsMm(pwg->width), e.widthPt) &&
      near(pointsFromHundredthsMm(pwg->length), e.heightPt)) {
    row.pwgName = pwg->pwg;
    row.width = pwg->width;
    row.length = pwg->length;
    return row;
  }
  char name[128];
  pwgFormatSizeName(name, sizeof name, "om", lower(e.name).c_str(), row.width, row.length, "mm");
  row.pwgName = name;
  return row;
}

}  // namespace

int pointsFromHundredthsMm(int v) { return static_cast<int>((static_cast<long>(v) * 72 + 1270) / 2540); }

PageMargins imageMargins(const rf::PaperEntry* table) {
  // Dots at 600 dpi to hundredths of millimetres, rounded up: 2540 / 600.
  auto up = [](long dots600) { return static_cast<int>((dots600 * 2540 + 599) / 600); };
  PageMargins m;
  for (const rf::PaperEntry* e = table; e && e->widthPt != -1; ++e) {
    // Page extents in dots, kept whole: a point is 600/72 dots.
    long pageW = (static_cast<long>(e->widthPt) * 600 + 71) / 72;
    long pageH = (static_cast<long>(e->heightPt) * 600 + 71) / 72;
    long spareW = pageW - static_cast<long>(e->imageWidth);
    long spareH = pageH - static_cast<long>(e->imageHeight);
    if (spareW > 0) m.leftRight = std::max(m.leftRight, up((spareW + 1) / 2));
    if (spareH > 0) m.bottomTop = std::max(m.bottomTop, up(spareH));
  }
  return m;
}

std::vector<MediaRow> mediaRowsFor(const rf::PaperEntry* table) {
  std::vector<MediaRow> rows;
  if (table == nullptr) return rows;
  for (const rf::PaperEntry* e = table; e->widthPt != -1; ++e) {
    bool seen = false;
    for (const MediaRow& r : rows) seen = seen || (r.widthPt == e->widthPt && r.heightPt == e->heightPt);
    if (!seen) rows.push_back(row_for(*e));
  }
  return rows;
}

const MediaRow* rowNear(const std::vector<MediaRow>& rows, int widthPt, int heightPt) {
  for (const MediaRow& r : rows)
    if (near(widthPt, r.widthPt) && near(heightPt, r.heightPt)) return &r;
  return nullptr;
}

std::string pageSizeForMedia(const std::vector<MediaRow>& rows, const rf::ModelInfo& model,
                             int width, int length) {
  int w = pointsFromHundredthsMm(width), h = pointsFromHundredthsMm(length);
  if (const MediaRow* r = rowNear(rows, w, h)) return r->ppdName;
  if (model.customMaxPt[0] == 0) return "";
  if (w < model.customMinPt[0] || h < model.customMinPt[1] || w > model.customMaxPt[0] ||
      h > model.customMaxPt[1])
    return "";
  return "Custom." + std::to_string(w) + "x" + std::to_string(h);
}

std::vector<std::string> customRangeNames(const rf::ModelInfo& model) {
  if (model.customMaxPt[0] == 0) return {};
  char lo[128], hi[128];
  pwgFormatSizeName(lo, sizeof lo, "custom", "min", hundredths_mm(model.customMinPt[0]),
                    hundredths_mm(model.customMinPt[1]), nullptr);
  pwgFormatSizeName(hi, sizeof hi, "custom", "max", hundredths_mm(model.customMaxPt[0]),
                    hundredths_mm(model.customMaxPt[1]), nullptr);
  return {lo, hi};
}

}  // namespace tpa
