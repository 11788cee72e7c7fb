// PLATFORM_C and PLATFORM_Z: the checks of single job and page records
// that need what came before them (Parts 3.2, 3.4, 3.6).
#include <cstring>
#include <string>

#include "bytes.h"
#include "jbig_page.h"
#include "record_walker.h"

namespace prndecode {

namespace {

bool two_digits(const uint8_t* p, int lo, int hi) {
  if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9') return false;
  int v = (p[0] - '0') * 10 + (p[1] - '0');
  return v >= lo && v <= hi;
}

}  // namespace

void RecordWalker::job_time(const Token& t) {
  // "@PJL JOBTIME=" minute:hour:day:month:year "\r\n" (formatJobTime).
  const uint8_t* p = w_.data + t.pos + 13;
  bool ok = t.len == 13 + 18 && two_digits(p, 0, 59) && p[2] == ':' && two_digits(p + 3, 0, 23) && p[5] == ':' &&
            two_digits(p + 6, 1, 31) && p[8] == ':' && two_digits(p + 9, 1, 12) && p[11] == ':' &&
            two_digits(p + 12, 0, 99) && two_digits(p + 14, 0, 99) && p[16] == '\r' && p[17] == '\n';
  if (!ok) w_.violation(t.pos, "JOBTIME line \"" + token_text(w_, t) + "\" is not minute:hour:day:month:year\\r\\n");
}

void RecordWalker::job_owner(const Token& t) {
  size_t host = t.len - 14;
  bool crlf = t.len >= 16 && w_.data[t.pos + t.len - 2] == '\r' && w_.data[t.pos + t.len - 1] == '\n';
  if (crlf) host -= 2;
  if (!crlf || host == 0 || host > 31 || std::memchr(w_.data + t.pos + 14, '\r', host)) {
    w_.violation(t.pos, "JOBOWNER line \"" + token_text(w_, t) + "\" does not carry a host name of 1 to 31 characters and \\r\\n");
  }
}

void RecordWalker::blank_suppress(const Token& t) {
  blank_suppress_ = true;
  static const char kDisable[] = "@PJL SET BLANKSUPPRESS=DISABLE\n";
  static const char kEnable[] = "@PJL SET BLANKSUPPRESS=ENABLE\n";
  bool ok = (t.len == sizeof kDisable - 1 && std::memcmp(w_.data + t.pos, kDisable, t.len) == 0) ||
            (t.len == sizeof kEnable - 1 && std::memcmp(w_.data + t.pos, kEnable, t.len) == 0);
  if (!ok) w_.violation(t.pos, "BLANKSUPPRESS line \"" + token_text(w_, t) + "\" is neither DISABLE\\n nor ENABLE\\n");
  if (filler_mode_) {
    w_.violation(first_filler_, "zero filler in a job with a BLANKSUPPRESS line (ModelListA models send no filler)");
  }
}

void RecordWalker::page_spec(const Token& t) {
  const uint8_t* r = w_.data + t.pos;
  w_.open_page(t.pos, int(le16(r + 15)));
  pf_ = PageFacts{};
  pf_.paper = r[3];
}

void RecordWalker::custom_paper(const Token& t) {
  const uint8_t* r = w_.data + t.pos;
  int custom_code = d_ == Dialect::PlatformC ? 0xFF : 0;
  if (pf_.paper == custom_code) {
    pf_.have_custom = true;
    pf_.custom_offset = t.pos;
    pf_.custom_width = le16(r + 7);
    pf_.custom_height = le16(r + 9);
  } else {
    for (size_t k = 3; k <= 10; ++k) {
      if (r[k]) {
        w_.violation(t.pos, "cmdCustomPaper carries sizes for the standard paper code " + std::to_string(pf_.paper) +
                                " (bytes 3-10 are 0 unless the paper is custom, code " + std::to_string(custom_code) + ")");
        break;
      }
    }
  }
}

void RecordWalker::raster_image(const Token& t) {
  const uint8_t* r = w_.data + t.pos;
  uint32_t width = le16(r + 5), height = le16(r + 7);
  if (d_ == Dialect::PlatformZ && le32(r + 13) != 0) {
    w_.violation(t.pos, "cmdRasterImage dataSize " + std::to_string(le32(r + 13)) +
                            " is not 0 (PLATFORM_Z band headers carry the sizes)");
  }
  if (d_ == Dialect::PlatformC && le16(r + 11) == 0) w_.violation(t.pos, "cmdRasterImage stripeLines is 0");
  if (pf_.have_custom && (pf_.custom_width != width || pf_.custom_height != height)) {
    w_.violation(t.pos, "cmdRasterImage image " + std::to_string(width) + " x " + std::to_string(height) +
                            " differs from the " + std::to_string(pf_.custom_width) + " x " +
                            std::to_string(pf_.custom_height) + " of cmdCustomPaper at offset " +
                            std::to_string(pf_.custom_offset));
  }
}

void RecordWalker::end_of_page(const Token& t) {
  (void)t;
  if (!w_.page.open) return;
  last_page_ = w_.page.number;
  const PageImage& img = w_.page.image;
  if (d_ == Dialect::PlatformZ && pf_.have_coverage && img.complete) {
    uint64_t dots = count_black(img.bits);
    uint8_t want[3] = {uint8_t(dots / 1000 % 64), uint8_t(dots / 64000 % 64), uint8_t(dots / 4096000 % 16)};
    bool zero = !pf_.coverage[0] && !pf_.coverage[1] && !pf_.coverage[2];
    // ModelListA models may binarise through the colour-management
    // library, which leaves the dot count at 0.
    if (std::memcmp(want, pf_.coverage, 3) != 0 && !(zero && blank_suppress_)) {
      w_.violation(pf_.coverage_offset,
                   "cmdCoverage carries " + std::to_string(pf_.coverage[0]) + " " + std::to_string(pf_.coverage[1]) +
                       " " + std::to_string(pf_.coverage[2]) + ", but the page has " + std::to_string(dots) +
                       " black dots, which give " + std::to_string(want[0]) + " " + std::to_string(want[1]) + " " +
                       std::to_string(want[2]));
    }
  }
  w_.close_page();
}

void RecordWalker::machine_duplex(const Token& t) {
  if (phase_ == Phase::End && last_page_ % 2 == 1) {
    w_.violation(t.pos, "machineDuplexCmd at the job end after odd page " + std::to_string(last_page_) +
                            " (sent for an odd page count, whose blank back side ends the job on an even page)");
  }
}

}  // namespace prndecode
