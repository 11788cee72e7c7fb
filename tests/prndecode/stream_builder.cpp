#include "stream_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

extern "C" {
#include <jbig.h>
}

namespace prntest {

namespace {

const char kUel[] = "\x1b%-12345X";
const Bytes kUelC = {0x1B, 0xFF, '-', '1', '2', '3', '4', '5', 'X'};
const char kEndOfJob[] = "\x1b%-12345X@PJL\r\n@PJL EOJ\r\n\x1b%-12345X\r\n";

uint32_t next_random(uint32_t& state) {
  state = state * 1103515245u + 12345u;
  return state >> 8;
}

void filler(Bytes& out, const JobOptions& o) {
  if (o.fillers) put(out, {0, 0});
}

void collect(unsigned char* start, size_t len, void* file) {
  Bytes* out = static_cast<Bytes*>(file);
  out->insert(out->end(), start, start + len);
}

void chunk_header(Bytes& out, uint32_t length, uint32_t type, uint32_t items) {
  put_be32(out, length);
  put_be32(out, type);
  put_be32(out, items);
  put_be16(out, items * 12);
  put(out, {0x5A, 0x5A});
}

void item(Bytes& out, uint16_t id, uint32_t value) {
  put_be32(out, 12);
  put_be16(out, id);
  put(out, {1, 0});
  put_be32(out, value);
}

}  // namespace

Bitmap test_bitmap(uint32_t width, uint32_t height, unsigned seed) {
  Bitmap b{width, height, {}};
  b.bits.assign(b.row_bytes() * height, 0);
  uint32_t state = seed * 7919u + 1;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = b.bits.data() + y * b.row_bytes();
    if ((y + seed) % 37 < 6) continue;  // blank lines
    if (y > 0 && y % 5 == 0) {          // a copy of the line above (typical)
      std::memcpy(row, row - b.row_bytes(), b.row_bytes());
      continue;
    }
    for (size_t x = 0; x < b.row_bytes(); ++x) {
      uint32_t r = next_random(state);
      // Mostly white with black runs, like text.
      row[x] = (x + y / 3 + seed) % 11 < 3 ? uint8_t(r) : (r % 13 == 0 ? 0xFF : 0);
    }
  }
  if (width % 8) {
    for (uint32_t y = 0; y < height; ++y) b.bits[y * b.row_bytes() + b.row_bytes() - 1] &= uint8_t(0xFF << (8 - width % 8));
  }
  return b;
}

Bitmap noise_bitmap(uint32_t width, uint32_t height, unsigned seed) {
  Bitmap b{width, height, {}};
  b.bits.resize(b.row_bytes() * height);
  uint32_t state = seed + 17;
  for (uint8_t& v : b.bits) v = uint8_t(next_random(state));
  return b;
}

Bitmap bitmap_lines(const Bitmap& b, uint32_t from, uint32_t count) {
  Bitmap part{b.width, count, {}};
  auto begin = b.bits.begin() + ptrdiff_t(size_t(from) * b.row_bytes());
  part.bits.assign(begin, begin + ptrdiff_t(size_t(count) * b.row_bytes()));
  return part;
}

uint64_t black_dots(const Bitmap& b) {
  uint64_t n = 0;
  for (uint8_t v : b.bits) n += unsigned(__builtin_popcount(v));
  return n;
}

Bytes jbig_stripes(const Bitmap& b, uint32_t l0) {
  Bytes out;
  Bytes copy = b.bits;
  unsigned char* planes[1] = {copy.data()};
  jbg_enc_state s;
  jbg_enc_init(&s, b.width, b.height, 1, planes, collect, &out);
  jbg_enc_layers(&s, 0);
  jbg_enc_options(&s, JBG_ILEAVE | JBG_SMID, JBG_LRLTWO | JBG_TPBON, l0, 0, 0);
  jbg_enc_out(&s);
  jbg_enc_free(&s);
  if (out.size() < 20) throw std::runtime_error("JBIG-KIT wrote no BIH");
  return Bytes(out.begin() + 20, out.end());
}

void put(Bytes& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(uint8_t(b));
}
void put(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void put_text(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
void put_le16(Bytes& out, uint32_t v) { put(out, {int(v & 0xFF), int((v >> 8) & 0xFF)}); }
void put_le32(Bytes& out, uint32_t v) {
  put(out, {int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
}
void put_be16(Bytes& out, uint32_t v) { put(out, {int((v >> 8) & 0xFF), int(v & 0xFF)}); }
void put_be32(Bytes& out, uint32_t v) {
  put(out, {int(v >> 24), int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF)});
}

Bytes record(uint8_t id, const Bytes& payload) {
  Bytes r = {0x0B, uint8_t(payload.size() + 4), id};
  put(r, payload);
  unsigned sum = 0;
  for (uint8_t b : r) sum += b;
  r.push_back(uint8_t(0x100 - (sum & 0xFF)));
  return r;
}

Bytes c_prologue(const JobOptions& o) {
  Bytes out = kUelC;
  put(out, {0x0B, 0x04, 0x16, 0xDB});  // abortCmd
  put_text(out, kEndOfJob);
  put_text(out, "versions=3.1.2.1");
  filler(out, o);
  put_text(out, std::string(kUel) + "@PJL\r\n");
  put_text(out, "@PJL ENTER LANGUAGE=PL\r\n");
  filler(out, o);
  put(out, record(0x11, {0x2A, 0x10}));  // cmdJobSpec: job 42, flags 0x10
  filler(out, o);
  put(out, record(0x19, {0}));  // cmdTonerSave
  filler(out, o);
  put(out, record(0x15, {2}));  // cmdDensity
  Bytes time;
  put_le16(time, 2025);
  put(time, {7, 3});
  put(out, record(0x1F, time));  // cmdSysTime 2025-07-03
  return out;
}

Bytes c_page(const Page& page, const JobOptions& o) {
  uint32_t width = o.widened ? page.bitmap.width / 2 : page.bitmap.width;
  Bytes out;
  filler(out, o);
  Bytes spec = {uint8_t(page.custom ? 0xFF : page.paper), 0, 60, 60, 1, 0};
  put_le16(spec, 1);
  put_le16(spec, 0);
  put_le16(spec, 0);
  put_le16(spec, uint32_t(page.number));
  put(out, record(0x12, spec));
  filler(out, o);
  Bytes custom;
  put_le16(custom, page.custom ? 5000 : 0);
  put_le16(custom, page.custom ? 7000 : 0);
  put_le16(custom, page.custom ? width : 0);
  put_le16(custom, page.custom ? page.bitmap.height : 0);
  put(out, record(0x13, custom));
  filler(out, o);
  put(out, {0x0B, 0x04, 0x32, 0xBF});  // hostUseCmd
  filler(out, o);
  Bytes data = jbig_stripes(page.bitmap, o.stripe_lines);
  Bytes raster = {0, uint8_t(0x20 | (o.widened ? 1 : 0))};
  put_le16(raster, width);
  put_le16(raster, page.bitmap.height);
  put_le16(raster, width);
  put_le16(raster, o.stripe_lines);
  put_le32(raster, uint32_t(data.size()));
  put(out, record(0x0C, raster));
  put(out, data);
  put(out, kUelC);
  unsigned sum = 0x9E;
  for (uint8_t b : data) sum += b;
  filler(out, o);
  Bytes chk;
  put_le16(chk, sum & 0xFF);
  put(out, record(0x1A, chk));
  filler(out, o);
  Bytes coverage;
  put_le16(coverage, uint32_t(black_dots(page.bitmap) / 1000));
  put(out, record(0x1E, coverage));
  filler(out, o);
  put(out, {0x0B, 0x04, 0x18, 0xD9});  // formFeedCmd
  if (o.auto_duplex && page.number % 2 == 1) {
    filler(out, o);
    put(out, {0x0B, 0x04, 0x40, 0xB1});  // machineDuplexCmd
  }
  return out;
}

Bytes c_job(const std::vector<Page>& pages, const JobOptions& o) {
  Bytes out = c_prologue(o);
  for (size_t i = 0; i < pages.size(); ++i) {
    put(out, c_page(pages[i], o));
    if (i == 0 && o.manual_duplex_after_first) put(out, {0x0B, 0x04, 0x30, 0xC1});
  }
  if (o.end_duplex) {
    filler(out, o);
    put(out, {0x0B, 0x04, 0x40, 0xB1});
  }
  filler(out, o);
  put(out, {0x0B, 0x05, 0x31, 0x80, 0x3F});  // queryStatusCmd
  filler(out, o);
  put(out, {0x0B, 0x04, 0x17, 0xDA});  // resetCmd
  put_text(out, kEndOfJob);
  return out;
}

Bytes z_prologue(const JobOptions& o) {
  Bytes out;
  put_text(out, std::string(kUel) + "@PJL\r\n");
  if (o.txd) put_text(out, "@PJL LANGUAGEVERSION=1.0\r\n");
  put_text(out, "@PJL JOBTIME=05:09:03:07:2025\r\n");
  put_text(out, "@PJL JOBOWNER=testhost\r\n");
  if (o.blank_suppress) put_text(out, "@PJL SET BLANKSUPPRESS=DISABLE\n");
  put_text(out, "@PJL ENTER LANGUAGE=PL\r\n");
  filler(out, o);
  put(out, record(0x1F, {0}));  // cmdFineMode
  filler(out, o);
  put(out, {0x0B, 0x09, 0x11, 0x30, 0x02, 0x01, 0x00, 0x00, 0xA8});  // cmdJobSpec, job 258, flags 0x30 (worked example)
  filler(out, o);
  put(out, {0x0B, 0x05, 0x15, 0x00, 0xDB});  // cmdDensity 0 (worked example)
  if (o.txd || o.txf) {
    filler(out, o);
    Bytes t;
    if (o.txd) {
      t = {0x0B, 0x24, 0x1E, 0x00, 0x1E, 0x24, 0x26, 0x2F, 0x50, 0x06, 0x20, 0x20, 0x20, 0x28, 0x2C};
      t.insert(t.end(), 18, 0x20);
      put(t, {0x0A, 0x00});
    } else {
      t = {0x0B, 0x28, 0x1E, 0x00, 0x17, 0x26, 0x00, 0x30, 0x40, 0x20, 0x17, 0x20, 0x20, 0x00, 0x00};
      t.insert(t.end(), 17, 0x20);
      put(t, {0x08, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00});
    }
    unsigned sum = 0;
    for (uint8_t b : t) sum += b;
    t.push_back(uint8_t(0x100 - (sum & 0xFF)));
    put(out, t);
  }
  return out;
}

Bytes z_page(const Page& page, const JobOptions& o) {
  uint32_t width = o.widened ? page.bitmap.width / 2 : page.bitmap.width;
  uint32_t height = page.bitmap.height;
  Bytes out;
  filler(out, o);
  Bytes spec = {uint8_t(page.custom ? 0 : page.paper), 0, 60, 60, 1, 0};
  put_le16(spec, 1);
  put_le16(spec, 0);
  put_le16(spec, 0);
  put_le16(spec, uint32_t(page.number));
  put(out, record(0x12, spec));
  filler(out, o);
  Bytes custom;
  put_le16(custom, page.custom ? 5000 : 0);
  put_le16(custom, page.custom ? 7000 : 0);
  put_le16(custom, page.custom ? width : 0);
  put_le16(custom, page.custom ? height : 0);
  put(out, record(0x13, custom));
  filler(out, o);
  uint64_t d = black_dots(page.bitmap);
  put(out, record(0x19, Bytes{uint8_t(d / 1000 % 64), uint8_t(d / 64000 % 64), uint8_t(d / 4096000 % 16)}));
  filler(out, o);
  Bytes raster = {0, uint8_t(0x20 | (o.widened ? 1 : 0))};
  put_le16(raster, width);
  put_le16(raster, height);
  put_le16(raster, 0);
  put_le16(raster, 0);
  put_le32(raster, 0);
  put(out, record(0x0C, raster));
  for (uint32_t i = 0; i * 256 < height; ++i) {
    uint32_t lines = std::min<uint32_t>(256, height - i * 256);
    Bytes data = jbig_stripes(bitmap_lines(page.bitmap, i * 256, lines), lines);
    Bytes h = {0x0B, 0x30, 0x1A, 0, 0, 1, 0};
    put_le32(h, width);
    put_le32(h, lines);
    put_le32(h, lines);
    put(h, {0, 0, 3, 0x58});
    put_le32(h, uint32_t(data.size()));
    put_le32(h, uint32_t(data.size()));
    put(h, {0, 0, 0, 0, 0});
    put(h, {int(i & 0xFF), int((i >> 8) & 0xFF), int(i >> 16), 3});
    put(h, {0, 0, 0, 0, 0, 0, 0});
    unsigned sum = 0;
    for (uint8_t b : h) sum += b;
    h.push_back(uint8_t(0x100 - (sum & 0xFF)));
    put(out, h);
    put(out, data);
  }
  filler(out, o);
  put(out, {0x0B, 0x04, 0x18, 0xD9});
  return out;
}

Bytes z_job(const std::vector<Page>& pages, const JobOptions& o) {
  Bytes out = z_prologue(o);
  for (size_t i = 0; i < pages.size(); ++i) {
    put(out, z_page(pages[i], o));
    if (i == 0 && o.manual_duplex_after_first) put(out, {0x0B, 0x04, 0x1B, 0xD6});
  }
  put(out, {0x0B, 0x04, 0x17, 0xDA});
  put_text(out, kEndOfJob);
  return out;
}

Bytes m_page(const Page& page) {
  uint32_t coded = page.bitmap.width;
  uint32_t width = page.depth == 2 ? coded / 2 : coded;
  uint32_t height = page.bitmap.height;
  Bytes out;
  bool custom = page.custom;
  chunk_header(out, custom ? 220 : 184, 2, custom ? 17 : 14);
  item(out, 3, custom ? 0 : uint32_t(page.paper));
  if (custom) {
    item(out, 26, 0);
    item(out, 24, 5000);
    item(out, 25, 7000);
  }
  item(out, 4, 1);       // COPIES_PARAM
  item(out, 5, 1);       // INPUT_TRAY_PARAM
  item(out, 6, 0);       // MEDIA_TYPE_PARAM
  item(out, 7, 1);       // CHANNEL_NUM_PARAM
  item(out, 8, 600);     // H_RESOLUTION_PARAM
  item(out, 9, 600);     // V_RESOLUTION_PARAM
  item(out, 22, 0);      // RET_PARAM
  item(out, 12, coded);  // IMG_WIDTH_PARAM = width x depth
  item(out, 13, height);
  item(out, 16, uint32_t(page.depth));
  item(out, 17, width);
  item(out, 18, height);
  item(out, 0xFF00, 2);  // DENSITY_PARAM
  chunk_header(out, 36, 4, 0);
  put(out, {0, 0, 1, 0});
  put_be32(out, coded);
  put_be32(out, height);
  put_be32(out, 256);
  put(out, {0, 0, 3, 0x5C});
  Bytes data = jbig_stripes(page.bitmap, 256);
  for (size_t at = 0; at < data.size(); at += 65536) {
    size_t piece = std::min<size_t>(65536, data.size() - at);
    chunk_header(out, uint32_t(16 + piece), 5, 0);
    out.insert(out.end(), data.begin() + ptrdiff_t(at), data.begin() + ptrdiff_t(at + piece));
  }
  chunk_header(out, 16, 6, 0);  // JBIG_END_CMD
  chunk_header(out, 16, 3, 0);  // END_PAGE_CMD
  return out;
}

Bytes m_job(const std::vector<Page>& pages) {
  Bytes out;
  put_text(out, kUel);
  put_text(out, "JZJZ");
  chunk_header(out, 88, 17, 0);
  const uint16_t toner[36] = {0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,  100,
                              100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                              120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100};
  for (uint16_t v : toner) put_be16(out, v);
  chunk_header(out, 52, 0, 3);
  item(out, 0, 0);
  item(out, 1, 0);
  item(out, 2, 1);
  for (const Page& p : pages) put(out, m_page(p));
  chunk_header(out, 16, 1, 0);  // END_DOC_CMD
  put_text(out, kUel);
  return out;
}

size_t find(const Bytes& hay, const Bytes& needle, size_t from) {
  auto it = std::search(hay.begin() + ptrdiff_t(std::min(from, hay.size())), hay.end(), needle.begin(), needle.end());
  return size_t(it - hay.begin());
}

}  // namespace prntest
