#include "early_bands.h"

#include <algorithm>

#include "jbig.h"

namespace rf {

namespace {

void append_bytes(const uint8_t* bytes, size_t length, void* ctx) {
  auto* out = static_cast<std::vector<uint8_t>*>(ctx);
  out->insert(out->end(), bytes, bytes + length);
}

// A batch's output: image i's bytes to the i-th of the given vectors.
void append_batch(size_t image, const uint8_t* bytes, size_t length, void* ctx) {
  append_bytes(bytes, length, (*static_cast<std::vector<std::vector<uint8_t>*>*>(ctx))[image]);
}

// Band `index` of a page: an image of its own, one stripe high.
JbigImage band_image(const uint8_t* page, uint32_t width, uint32_t height, size_t index) {
  const uint32_t first = static_cast<uint32_t>(index) * kBandLines;
  const int lines = static_cast<int>(std::min(kBandLines, height - first));
  return JbigImage{static_cast<int>(width), lines, lines, page + size_t{first} * (width / 8)};
}

}  // namespace

EarlyBands::EarlyBands(const uint8_t* page, uint32_t width, uint32_t height)
    : page_(page), width_(width), height_(height), bands_((height + kBandLines - 1) / kBandLines) {
  // The pool's other threads code bands while this one reads and dithers
  // the page, which takes about a quarter of the coding time: about that
  // share of the bands is started early.  The rest are coded as one batch
  // when the page is sent, on every thread: bands queued early would be
  // waited for one by one, in order, with threads idle.
  earlyLimit_ = static_cast<size_t>(tesvel_jbig_threads() - 1) * bands_.size() / 4;
  for (size_t i = 0; i < bands_.size(); ++i)
    bands_[i].missing = std::min<uint32_t>(kBandLines, height - static_cast<uint32_t>(i) * kBandLines);
}

EarlyBands::EarlyBands(const uint8_t* page, uint32_t width, uint32_t height, uint32_t stripeLines)
    : page_(page), width_(width), height_(height), bands_(1) {
  image_ = tesvel_lines_start(static_cast<int>(width), static_cast<int>(height),
                              static_cast<int>(std::min(stripeLines, height)), page, &bands_[0].bytes,
                              append_bytes);
  if (image_ == nullptr) failed_ = true;
}

EarlyBands::~EarlyBands() {
  for (Band& band : bands_)
    if (band.pending) tesvel_compress_finish(band.pending);
  if (image_) {
    tesvel_lines_ready(image_, static_cast<int>(height_));
    tesvel_lines_finish(image_);
  }
}

bool EarlyBands::start(size_t index) {
  Band& band = bands_[index];
  const JbigImage image = band_image(page_, width_, height_, index);
  band.pending = tesvel_compress_start(&image, &band.bytes, append_bytes);
  if (band.pending == nullptr) failed_ = true;
  return band.pending != nullptr;
}

// The coder is told of new lines every kReadyStep lines: often enough to
// keep it busy, seldom enough to cost nothing.
constexpr uint32_t kReadyStep = 64;

void EarlyBands::row_done(uint32_t row) {
  if (row >= height_) return;
  if (image_) {
    if (row != linesReady_) return;  // out of order: all lines are made ready at the end
    ++linesReady_;
    if (linesReady_ % kReadyStep == 0 || linesReady_ == height_)
      tesvel_lines_ready(image_, static_cast<int>(linesReady_));
    return;
  }
  const size_t index = row / kBandLines;
  if (--bands_[index].missing == 0 && earlyStarts_ < earlyLimit_) {
    ++earlyStarts_;
    start(index);
  }
}

bool EarlyBands::collect_image(std::vector<std::vector<uint8_t>>* bands) {
  tesvel_lines_ready(image_, static_cast<int>(height_));
  const bool ok = tesvel_lines_finish(image_);
  image_ = nullptr;
  bands->clear();
  if (ok) bands->push_back(std::move(bands_[0].bytes));
  return ok;
}

bool EarlyBands::collect(std::vector<std::vector<uint8_t>>* bands) {
  if (image_) return collect_image(bands);
  // The bands not started yet are coded as one batch, on every thread.
  std::vector<JbigImage> rest;
  std::vector<std::vector<uint8_t>*> restBytes;
  for (size_t i = 0; i < bands_.size() && !failed_; ++i) {
    if (bands_[i].pending) continue;
    rest.push_back(band_image(page_, width_, height_, i));
    restBytes.push_back(&bands_[i].bytes);
  }
  bool ok = !failed_ && tesvel_compress_images(rest.data(), rest.size(), &restBytes, append_batch);
  for (Band& band : bands_) {
    if (band.pending && !tesvel_compress_finish(band.pending)) ok = false;
    band.pending = nullptr;
  }
  bands->clear();
  if (!ok) return false;
  for (Band& band : bands_) bands->push_back(std::move(band.bytes));
  return true;
}

}  // namespace rf
