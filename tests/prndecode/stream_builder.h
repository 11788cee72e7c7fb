// Printer streams built by hand for the prndecode tests, byte for byte from
// the printer's byte layouts, with page images compressed by
// JBIG-KIT's own encoder (never the driver's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace prntest {

using Bytes = std::vector<uint8_t>;

// A 1-bit picture: lines of (width + 7) / 8 bytes, most significant bit
// first, 1 = black.
struct Bitmap {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bits;
  size_t row_bytes() const { return (width + 7) / 8; }
};

// A picture with blank lines, repeated lines and noise, different per seed.
Bitmap test_bitmap(uint32_t width, uint32_t height, unsigned seed);
// Random bits everywhere (compresses badly: for the 64 KiB pieces).
Bitmap noise_bitmap(uint32_t width, uint32_t height, unsigned seed);
// Lines [from, from + count) of a bitmap.
Bitmap bitmap_lines(const Bitmap& b, uint32_t from, uint32_t count);
uint64_t black_dots(const Bitmap& b);

// JBIG-KIT's encoder with the driver encoder's coding (one layer, LRLTWO,
// TPBON, no AT), the 20-byte BIH cut off: the stripe data only.
Bytes jbig_stripes(const Bitmap& b, uint32_t l0);

// Byte helpers.
void put(Bytes& out, std::initializer_list<int> bytes);
void put(Bytes& out, const Bytes& more);
void put_text(Bytes& out, const std::string& text);
void put_le16(Bytes& out, uint32_t v);
void put_le32(Bytes& out, uint32_t v);
void put_be16(Bytes& out, uint32_t v);
void put_be32(Bytes& out, uint32_t v);
// A command record: 0x0B, length, id, payload, checksum.
Bytes record(uint8_t id, const Bytes& payload);

struct JobOptions {
  bool fillers = true;         // a model outside ModelListA: every Insert00
  bool txd = false;            // PLATFORM_Z TXD model: LANGUAGEVERSION line, 36-byte cmdTonerParamTXD
  bool txf = false;            // PLATFORM_Z TXF model: 40-byte cmdTonerParamTXD
  bool blank_suppress = false; // PLATFORM_Z ModelListA: the BLANKSUPPRESS line (then no fillers)
  bool auto_duplex = false;    // PLATFORM_C: machineDuplexCmd after odd pages
  bool end_duplex = false;     // PLATFORM_C: machineDuplexCmd at the job end
  bool widened = false;        // PLATFORM_C/Z: imageFlags bit 0, lines coded at twice the width
  bool manual_duplex_after_first = false;  // manual-duplex command after the first page
  uint32_t stripe_lines = 128; // PLATFORM_C stripe lines
};

// One page of a job: the bitmap as coded (for widened pages twice the
// announced width; for 2-bit PLATFORM_M pages two bits per pixel).
struct Page {
  Bitmap bitmap;
  int number = 1;
  int paper = 9;
  bool custom = false;
  int depth = 1;  // PLATFORM_M video depth
};

Bytes c_job(const std::vector<Page>& pages, const JobOptions& options = {});
Bytes z_job(const std::vector<Page>& pages, const JobOptions& options = {});
Bytes m_job(const std::vector<Page>& pages);

// The pieces, for tests that assemble streams of their own.
Bytes c_prologue(const JobOptions& options);
Bytes c_page(const Page& page, const JobOptions& options);
Bytes z_prologue(const JobOptions& options);
Bytes z_page(const Page& page, const JobOptions& options);
Bytes m_page(const Page& page);

// Offset of the first occurrence of `needle` at or after `from`.
size_t find(const Bytes& hay, const Bytes& needle, size_t from = 0);

}  // namespace prntest
