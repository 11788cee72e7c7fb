#include "raster_scaling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tpa {

std::string scalingFor(const std::string& keyword, double pageW, double pageH, const PaperArea& paper) {
  if (keyword == "none" || keyword == "fit" || keyword == "fill") return keyword;
  const double slack = 0.5;  // half a point: a rounding, not a larger page
  bool fits = pageW <= paper.width - 2 * paper.marginX + slack && pageH <= paper.height - 2 * paper.marginY + slack;
  if (keyword == "auto-fit") return fits ? "none" : "fit";
  bool sameOrientation = (pageW > pageH) == (paper.width > paper.height);
  bool nearSize = std::fabs(pageW / paper.width - 1) <= 0.05 && std::fabs(pageH / paper.height - 1) <= 0.05;
  return sameOrientation && nearSize ? "fill" : "fit";
}

Placement placePage(const std::string& scaling, int inW, int inH, const int inRes[2], int outW, int outH,
                    const int outRes[2], const PaperArea& paper) {
  double pageW = inW * 72.0 / inRes[0], pageH = inH * 72.0 / inRes[1];
  double s = 1;
  if (scaling == "fit")
    s = std::min((paper.width - 2 * paper.marginX) / pageW, (paper.height - 2 * paper.marginY) / pageH);
  else if (scaling == "fill")
    s = std::max(paper.width / pageW, paper.height / pageH);
  Placement p;
  p.scaleX = s * outRes[0] / inRes[0];
  p.scaleY = s * outRes[1] / inRes[1];
  p.left = static_cast<int>(std::lround((outW - inW * p.scaleX) / 2));
  p.top = static_cast<int>(std::lround((outH - inH * p.scaleY) / 2));
  return p;
}

LineScaler::LineScaler(int inW, int outW, int outH, int channels, const Placement& p, unsigned char white,
                       Emit emit)
    : outW_(outW), outH_(outH), channels_(channels), p_(p), white_(white), emit_(std::move(emit)), taps_(outW),
      line_(static_cast<size_t>(outW) * channels), acc_(line_.size(), 0.0f), out_(line_.size()) {
  // Each output column averages the input columns under it, each weighed
  // by how much of it lies there.
  for (int x = 0; x < outW; ++x) {
    double a = (x - p.left) / p.scaleX, b = (x + 1 - p.left) / p.scaleX;
    a = std::max(a, 0.0);
    b = std::min(b, static_cast<double>(inW));
    if (b <= a) continue;
    Tap& t = taps_[x];
    t.first = static_cast<int>(a);
    t.weights = weights_.size();
    for (int c = t.first; c < b; ++c, ++t.count)
      weights_.push_back(static_cast<float>((std::min(b, c + 1.0) - std::max(a, 1.0 * c)) / (b - a)));
  }
}

bool LineScaler::push(const unsigned char* line) {
  const int n = channels_;
  for (int x = 0; x < outW_; ++x) {
    const Tap& t = taps_[x];
    const float* w = weights_.data() + t.weights;
    const unsigned char* in = line + static_cast<size_t>(t.first) * n;
    for (int c = 0; c < n; ++c) {
      float v = t.count ? 0 : white_;
      for (int k = 0; k < t.count; ++k) v += w[k] * in[k * n + c];
      line_[x * n + c] = v;
    }
  }
  // The output rows over this input line take their share of it; each
  // that ends within it is complete.
  const double i = in_++;
  while (row_ < outH_) {
    double a = (row_ - p_.top) / p_.scaleY, b = (row_ + 1 - p_.top) / p_.scaleY;
    double share = std::min(b, i + 1) - std::max(a, i);
    if (share > 0) {
      for (size_t x = 0; x < acc_.size(); ++x) acc_[x] += static_cast<float>(share) * line_[x];
      weight_ += share;
    }
    if (b > i + 1 + 1e-9) break;
    if (!emit_row()) return false;
  }
  return true;
}

bool LineScaler::finish() {
  while (row_ < outH_)
    if (!emit_row()) return false;
  return true;
}

bool LineScaler::emit_row() {
  for (size_t x = 0; x < acc_.size(); ++x) {
    double v = weight_ > 0 ? acc_[x] / weight_ : white_;
    out_[x] = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    acc_[x] = 0;
  }
  weight_ = 0;
  ++row_;
  return emit_(out_.data(), out_.size());
}

bool RasterPlacer::startPage(const cups_page_header2_t& data, cups_page_header2_t* out, LineScaler::Emit emit,
                             std::string* how) {
  scaler_.reset();
  if (std::fabs(data.PageSize[0] - paper_.width) <= 1 && std::fabs(data.PageSize[1] - paper_.height) <= 1)
    return false;
  // Only pages of sizes and resolutions a printer can have are placed: any
  // other goes on as it came, for the filter to refuse.
  auto sane = [](unsigned v, unsigned low, unsigned high) { return v >= low && v <= high; };
  int channels = static_cast<int>(data.cupsBitsPerPixel / 8);
  if ((channels != 1 && channels != 3) || data.cupsBitsPerColor != 8 || !sane(data.HWResolution[0], 50, 9600) ||
      !sane(data.HWResolution[1], 50, 9600) || !sane(data.cupsWidth, 1, 200000) || !sane(data.cupsHeight, 1, 200000) ||
      !sane(out->HWResolution[0], 50, 9600) || !sane(out->HWResolution[1], 50, 9600) ||
      !sane(out->cupsWidth, 1, 200000) || !sane(out->cupsHeight, 1, 200000))
    return false;
  int inRes[2] = {static_cast<int>(data.HWResolution[0]), static_cast<int>(data.HWResolution[1])};
  int outRes[2] = {static_cast<int>(out->HWResolution[0]), static_cast<int>(out->HWResolution[1])};
  int inW = static_cast<int>(data.cupsWidth), outW = static_cast<int>(out->cupsWidth);
  int outH = static_cast<int>(out->cupsHeight);
  std::string s = scalingFor(scaling_, inW * 72.0 / inRes[0], data.cupsHeight * 72.0 / inRes[1], paper_);
  Placement p = placePage(s, inW, static_cast<int>(data.cupsHeight), inRes, outW, outH, outRes, paper_);
  out->cupsBitsPerColor = 8;
  out->cupsBitsPerPixel = data.cupsBitsPerPixel;
  out->cupsBytesPerLine = out->cupsWidth * static_cast<unsigned>(channels);
  out->cupsColorOrder = data.cupsColorOrder;
  out->cupsColorSpace = data.cupsColorSpace;
  out->cupsNumColors = static_cast<unsigned>(channels);
  unsigned char white = data.cupsColorSpace == CUPS_CSPACE_K ? 0 : 255;
  scaler_ = std::make_unique<LineScaler>(inW, outW, outH, channels, p, white, std::move(emit));
  char text[160];
  snprintf(text, sizeof text, "a %ux%u pt page placed on the %.0fx%.0f pt paper: %s, %.1f%%", data.PageSize[0],
           data.PageSize[1], paper_.width, paper_.height, s.c_str(), 100.0 * p.scaleX * inRes[0] / outRes[0]);
  *how = text;
  return true;
}

bool RasterPlacer::startPage(pappl_job_t* job, unsigned page, const cups_page_header2_t& data,
                             const cups_page_header2_t& asCame, cups_page_header2_t* placed, cups_raster_t* raster,
                             const bool* failed) {
  std::string how;
  auto emit = [raster, failed](const unsigned char* line, size_t bytes) {
    cupsRasterWritePixels(raster, const_cast<unsigned char*>(line), static_cast<unsigned>(bytes));
    return !*failed;
  };
  if (!startPage(data, placed, emit, &how)) {
    cups_page_header2_t h = asCame;
    return cupsRasterWriteHeader2(raster, &h) != 0;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Page %u: %s.", page, how.c_str());
  return cupsRasterWriteHeader2(raster, placed) != 0;
}

}  // namespace tpa
