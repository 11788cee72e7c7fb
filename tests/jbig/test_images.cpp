#include "test_images.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace jbigtest {

namespace {

// ScreenTable16A, the 16 x 16 clustered-dot screen of the 600-dpi models.
const uint8_t kScreen[16][16] = {
    {6, 82, 233, 254, 251, 226, 70, 5, 7, 85, 235, 255, 252, 228, 73, 5},
    {55, 121, 165, 218, 211, 152, 114, 49, 57, 122, 167, 220, 213, 156, 115, 47},
    {199, 134, 105, 41, 27, 95, 126, 192, 202, 136, 107, 45, 31, 97, 123, 190},
    {243, 180, 18, 3, 1, 13, 172, 238, 244, 182, 19, 3, 1, 12, 170, 237},
    {248, 222, 65, 4, 10, 79, 232, 253, 250, 224, 67, 4, 9, 76, 230, 252},
    {208, 145, 109, 53, 62, 119, 162, 216, 210, 149, 112, 51, 59, 117, 159, 215},
    {22, 88, 131, 197, 206, 142, 102, 38, 24, 91, 128, 195, 204, 139, 100, 34},
    {2, 16, 177, 241, 247, 187, 21, 2, 1, 15, 175, 240, 245, 185, 20, 2},
    {7, 85, 235, 255, 252, 228, 73, 5, 6, 82, 233, 254, 251, 226, 70, 5},
    {57, 122, 167, 220, 213, 156, 115, 47, 55, 121, 165, 218, 211, 152, 114, 49},
    {202, 136, 107, 45, 31, 97, 123, 190, 199, 134, 105, 41, 27, 95, 126, 192},
    {244, 182, 19, 3, 1, 12, 170, 237, 243, 180, 18, 3, 1, 13, 172, 238},
    {250, 224, 67, 4, 9, 76, 230, 252, 248, 222, 65, 4, 10, 79, 232, 253},
    {210, 149, 112, 51, 59, 117, 159, 215, 208, 145, 109, 53, 62, 119, 162, 216},
    {24, 91, 128, 195, 204, 139, 100, 34, 22, 88, 131, 197, 206, 142, 102, 38},
    {1, 15, 175, 240, 245, 185, 20, 2, 2, 16, 177, 241, 247, 187, 21, 2}};

struct Rng {
  uint32_t s;
  explicit Rng(uint32_t seed) : s(seed ? seed : 0x9E3779B9u) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  double unit() { return (next() >> 8) * (1.0 / 16777216.0); }
  int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1)); }
};

GreyPage white_page(int width, int height) {
  GreyPage p;
  p.width = width;
  p.height = height;
  p.grey.assign(static_cast<size_t>(width) * height, 255);
  return p;
}

// Glyphs: grey tiles (coverage 0..255) made of strokes, anti-aliased by
// 4 x 4 supersampling.
struct Glyph {
  int w = 0, h = 0;
  std::vector<uint8_t> cover;
};

constexpr int kGlyphH = 80;   // ascender to descender, 10 pt at 600 dpi
constexpr int kBaseline = 62;
constexpr int kXHeight = 42;
constexpr int kCapHeight = 58;

double seg_dist(double px, double py, double ax, double ay, double bx, double by) {
  const double vx = bx - ax, vy = by - ay;
  const double wx = px - ax, wy = py - ay;
  const double len2 = vx * vx + vy * vy;
  double t = len2 > 0 ? (wx * vx + wy * vy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double dx = px - (ax + t * vx), dy = py - (ay + t * vy);
  return std::sqrt(dx * dx + dy * dy);
}

Glyph make_glyph(Rng& rng) {
  Glyph g;
  g.w = rng.range(24, 44);
  g.h = kGlyphH;
  g.cover.assign(static_cast<size_t>(g.w) * g.h, 0);
  const bool tall = rng.next() % 3 == 0;
  const bool descender = !tall && rng.next() % 6 == 0;
  const double top = kBaseline - (tall ? kCapHeight : kXHeight);
  const double bottom = descender ? kGlyphH - 2 : kBaseline;
  const double left = 4, right = g.w - 5;
  const double stroke = 3.2;  // half width
  struct Seg { double ax, ay, bx, by; };
  std::vector<Seg> segs;
  const int parts = rng.range(2, 4);
  for (int k = 0; k < parts; ++k) {
    switch (rng.next() % 5) {
      case 0: {  // stem
        const double x = left + rng.unit() * (right - left);
        segs.push_back({x, top, x, bottom});
        break;
      }
      case 1: {  // bar
        const double y = top + rng.unit() * (kBaseline - top);
        segs.push_back({left, y, right, y});
        break;
      }
      case 2:  // diagonal
        segs.push_back({left, bottom, right, top});
        break;
      case 3:
        segs.push_back({left, top, right, kBaseline});
        break;
      default: {  // bowl: polygonal ellipse
        const double cx = (left + right) / 2, cy = (top + kBaseline) / 2;
        const double rx = (right - left) / 2, ry = (kBaseline - top) / 2;
        const int n = 16;
        for (int i = 0; i < n; ++i) {
          const double a0 = 2 * M_PI * i / n, a1 = 2 * M_PI * (i + 1) / n;
          segs.push_back({cx + rx * std::cos(a0), cy + ry * std::sin(a0), cx + rx * std::cos(a1),
                          cy + ry * std::sin(a1)});
        }
        break;
      }
    }
  }
  for (int y = 0; y < g.h; ++y) {
    for (int x = 0; x < g.w; ++x) {
      int hits = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
          for (const Seg& s : segs) {
            if (seg_dist(px, py, s.ax, s.ay, s.bx, s.by) <= stroke) {
              ++hits;
              break;
            }
          }
        }
      }
      g.cover[static_cast<size_t>(y) * g.w + x] = static_cast<uint8_t>(hits * 255 / 16);
    }
  }
  return g;
}

const std::vector<Glyph>& glyph_set() {
  static const std::vector<Glyph> glyphs = [] {
    Rng rng(12345);
    std::vector<Glyph> v;
    for (int i = 0; i < 64; ++i) v.push_back(make_glyph(rng));
    return v;
  }();
  return glyphs;
}

// Sets text into the rectangle [x0, x1) x [y0, y1) of the grey page.
void set_text(GreyPage& p, int x0, int y0, int x1, int y1, Rng& rng) {
  const std::vector<Glyph>& glyphs = glyph_set();
  const int pitch = 100;  // 12-point line spacing
  for (int top = y0; top + kGlyphH <= y1; top += pitch) {
    int x = x0;
    const int lineEnd = rng.next() % 9 == 0 ? x0 + (x1 - x0) / 2 : x1;  // paragraph ends
    while (x < lineEnd) {
      const int letters = rng.range(1, 9);
      int wordWidth = 0;
      std::vector<const Glyph*> word;
      for (int i = 0; i < letters; ++i) {
        word.push_back(&glyphs[rng.next() % glyphs.size()]);
        wordWidth += word.back()->w;
      }
      if (x + wordWidth > lineEnd) break;
      for (const Glyph* g : word) {
        for (int y = 0; y < g->h; ++y) {
          uint8_t* row = p.grey.data() + static_cast<size_t>(top + y) * p.width + x;
          const uint8_t* c = g->cover.data() + static_cast<size_t>(y) * g->w;
          for (int i = 0; i < g->w; ++i) {
            const int v = row[i] - c[i];
            row[i] = static_cast<uint8_t>(v < 0 ? 0 : v);
          }
        }
        x += g->w;
      }
      x += 28;  // word space
    }
  }
}

// A smooth picture with texture in [x0, x1) x [y0, y1): a low-resolution
// field of blobs and gradients, interpolated, plus fine noise.
void set_photo(GreyPage& p, int x0, int y0, int x1, int y1, Rng& rng) {
  const int cell = 16;
  const int gw = (x1 - x0) / cell + 2, gh = (y1 - y0) / cell + 2;
  std::vector<float> field(static_cast<size_t>(gw) * gh);
  struct Blob { double x, y, r, a; };
  std::vector<Blob> blobs;
  for (int i = 0; i < 40; ++i) {
    blobs.push_back({rng.unit() * gw, rng.unit() * gh, 4 + rng.unit() * gw / 4, rng.unit() * 200 - 100});
  }
  for (int j = 0; j < gh; ++j) {
    for (int i = 0; i < gw; ++i) {
      double v = 60 + 140.0 * i / gw + 30 * std::sin(j * 0.05) * std::cos(i * 0.07);
      for (const Blob& b : blobs) {
        const double dx = i - b.x, dy = j - b.y;
        v += b.a * std::exp(-(dx * dx + dy * dy) / (b.r * b.r));
      }
      field[static_cast<size_t>(j) * gw + i] = static_cast<float>(std::clamp(v, 0.0, 255.0));
    }
  }
  for (int y = y0; y < y1; ++y) {
    const int j = (y - y0) / cell;
    const float fy = static_cast<float>((y - y0) % cell) / cell;
    const float* r0 = field.data() + static_cast<size_t>(j) * gw;
    const float* r1 = r0 + gw;
    uint8_t* row = p.grey.data() + static_cast<size_t>(y) * p.width;
    for (int x = x0; x < x1; ++x) {
      const int i = (x - x0) / cell;
      const float fx = static_cast<float>((x - x0) % cell) / cell;
      const float top = r0[i] + (r0[i + 1] - r0[i]) * fx;
      const float bot = r1[i] + (r1[i + 1] - r1[i]) * fx;
      const int noise = static_cast<int>(rng.next() % 13) - 6;
      const int v = static_cast<int>(top + (bot - top) * fy) + noise;
      row[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  }
}

void fill_rect(GreyPage& p, int x0, int y0, int x1, int y1, uint8_t g) {
  for (int y = y0; y < y1; ++y) {
    std::memset(p.grey.data() + static_cast<size_t>(y) * p.width + x0, g, static_cast<size_t>(x1 - x0));
  }
}

}  // namespace

Bitmap blank_bitmap(int width, int height) {
  Bitmap b;
  b.width = width;
  b.height = height;
  b.bits.assign(b.bytes_per_line() * height, 0);
  return b;
}

Bitmap solid_bitmap(int width, int height) {
  Bitmap b = blank_bitmap(width, height);
  std::fill(b.bits.begin(), b.bits.end(), 0xFF);
  return b;
}

Bitmap random_bitmap(int width, int height, double density, uint32_t seed) {
  Bitmap b = blank_bitmap(width, height);
  Rng rng(seed);
  const uint32_t threshold = static_cast<uint32_t>(density * 4294967295.0);
  for (uint8_t& byte : b.bits) {
    uint8_t v = 0;
    for (int i = 0; i < 8; ++i) v = static_cast<uint8_t>(v << 1 | (rng.next() < threshold));
    byte = v;
  }
  return b;
}

Bitmap repeated_lines_bitmap(int width, int height, int repeat, uint32_t seed) {
  Bitmap b = random_bitmap(width, height, 0.3, seed);
  for (int y = 0; y < height; ++y) {
    if (y % repeat != 0) std::memcpy(b.line(y), b.line(y - 1), b.bytes_per_line());
  }
  return b;
}

Bitmap halftone(const GreyPage& page) {
  Bitmap b = blank_bitmap(page.width, page.height);
  for (int y = 0; y < page.height; ++y) {
    const uint8_t* g = page.grey.data() + static_cast<size_t>(y) * page.width;
    const uint8_t* t = kScreen[y % 16];
    uint8_t* out = b.line(y);
    for (int x = 0; x < page.width; x += 8) {
      uint8_t v = 0;
      for (int i = 0; i < 8; ++i) v = static_cast<uint8_t>(v << 1 | (g[x + i] < t[(x + i) % 16]));
      out[x / 8] = v;
    }
  }
  return b;
}

Bitmap text_page(int width, int height, uint32_t seed) {
  Rng rng(seed);
  GreyPage p = white_page(width, height);
  const int margin = width / 12;
  set_text(p, margin, height / 14, width - margin, height - height / 14, rng);
  return halftone(p);
}

Bitmap mixed_page(int width, int height, uint32_t seed) {
  Rng rng(seed);
  GreyPage p = white_page(width, height);
  const int margin = width / 12;
  const int mid = width / 2;
  auto at = [height](double f) { return static_cast<int>(f * height); };
  // Heading bar and rule.
  fill_rect(p, margin, at(0.05), width - margin, at(0.06), 40);
  fill_rect(p, margin, at(0.07), width - margin, at(0.07) + 6, 0);
  // Left column: text, a light and a mid grey box, text.  Right column: a
  // photo, then text.
  set_text(p, margin, at(0.09), mid - 60, at(0.5), rng);
  set_photo(p, mid + 60, at(0.09), width - margin, at(0.42), rng);
  set_text(p, mid + 60, at(0.44), width - margin, at(0.93), rng);
  fill_rect(p, margin, at(0.51), mid - 60, at(0.6), 200);
  fill_rect(p, margin + 100, at(0.62), mid - 160, at(0.7), 128);
  set_text(p, margin, at(0.72), mid - 60, at(0.93), rng);
  return halftone(p);
}

Bitmap photo_page(int width, int height, uint32_t seed) {
  Rng rng(seed);
  GreyPage p = white_page(width, height);
  set_photo(p, 0, 0, width, height, rng);
  return halftone(p);
}

uint64_t coded_pixels(const Bitmap& b) {
  uint64_t lines = 0;
  const size_t bpl = b.bytes_per_line();
  for (int y = 0; y < b.height; ++y) {
    const uint8_t* l = b.line(y);
    bool typical;
    if (y == 0) {
      typical = std::all_of(l, l + bpl, [](uint8_t v) { return v == 0; });
    } else {
      typical = std::memcmp(l, l - bpl, bpl) == 0;
    }
    if (!typical) ++lines;
  }
  return lines * static_cast<uint64_t>(b.width);
}

}  // namespace jbigtest
