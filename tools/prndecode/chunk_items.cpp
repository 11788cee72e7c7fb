// PLATFORM_M: the bodies of the chunks (Parts 3.3, 3.4, 3.6): page items,
// the JBIG header, the data pieces and the page image they make.
#include <string>
#include <vector>

#include "bytes.h"
#include "chunk_walker.h"
#include "jbig_page.h"

namespace prndecode {
namespace chunks {

uint32_t ChunkWalker::read_item(size_t pos, size_t k, const char* chunk, const ItemId& expect, Item& it) {
  const uint8_t* p = w_.data + pos + kHeader + k * kItem;
  std::string where = std::string(chunk) + " item " + std::to_string(k) + " (" + expect.name + ")";
  if (be32(p) != kItem) w_.violation(pos, where + ": item length " + std::to_string(be32(p)) + ", expected 12");
  if (be16(p + 4) != expect.id) {
    w_.violation(pos, where + ": item id " + std::to_string(be16(p + 4)) + ", expected " + std::to_string(expect.id));
  }
  if (p[6] != 1) w_.violation(pos, where + ": value kind " + std::to_string(p[6]) + ", expected 1");
  if (p[7] != 0) w_.violation(pos, where + ": reserved byte " + hex_byte(p[7]) + ", expected 0");
  uint32_t value = be32(p + 8);
  it.num(expect.name, value);
  return value;
}

void ChunkWalker::start_doc(size_t pos, Item& it) {
  static const ItemId kDocItems[3] = {{0, "item0"}, {1, "item1"}, {2, "item2"}};
  for (size_t k = 0; k < 3; ++k) {
    uint32_t v = read_item(pos, k, "START_DOC_CMD", kDocItems[k], it);
    uint32_t want = k == 2 ? 1 : 0;
    if (v != want) {
      w_.violation(pos, "START_DOC_CMD item " + std::to_string(k) + " has value " + std::to_string(v) +
                            ", expected " + std::to_string(want));
    }
  }
}

void ChunkWalker::start_page(size_t pos, uint32_t count, Item& it) {
  const char* name = "START_PAGE_CMD";
  bool custom = count == 17;
  size_t k = 0;
  items_ = PageItemsSeen{};
  items_.paper = read_item(pos, k++, name, kPaperSize, it);
  if (custom) {
    uint32_t unit = read_item(pos, k++, name, kCustomItems[0], it);
    read_item(pos, k++, name, kCustomItems[1], it);
    read_item(pos, k++, name, kCustomItems[2], it);
    if (unit != 0) w_.violation(pos, "CUSTOM_PAPER_UNIT_PARAM is " + std::to_string(unit) + ", expected 0");
  }
  if (custom != (items_.paper == 0)) {
    w_.violation(pos, custom ? "custom paper items with PAPER_SIZE_PARAM " + std::to_string(items_.paper) +
                                   " (they come with paper code 0 only)"
                             : std::string("PAPER_SIZE_PARAM 0 (custom size) without the custom paper items"));
  }
  uint32_t v[13];
  for (size_t j = 0; j < 13; ++j) v[j] = read_item(pos, k++, name, kPageItems[j], it);
  for (size_t j : {0, 1, 2, 4, 5, 8, 10, 11}) {  // values from 16-bit sources
    if (v[j] > 0xFFFF) w_.violation(pos, std::string(kPageItems[j].name) + " " + std::to_string(v[j]) + " exceeds 16 bits");
  }
  if (v[3] != 1) w_.violation(pos, "CHANNEL_NUM_PARAM is " + std::to_string(v[3]) + ", expected 1");
  if (v[6] != 0) w_.violation(pos, "RET_PARAM is " + std::to_string(v[6]) + ", expected 0");
  if (v[12] > 0xFF) w_.violation(pos, "DENSITY_PARAM " + std::to_string(v[12]) + " exceeds a byte");
  items_.img_width = v[7];
  items_.img_height = v[8];
  items_.depth = v[9];
  items_.video_width = v[10];
  items_.video_height = v[11];
  if (items_.depth != 1 && items_.depth != 2) {
    w_.violation(pos, "VIDEO_DEPTH_PARAM is " + std::to_string(items_.depth) + ", expected 1 or 2");
  } else if (uint64_t(items_.video_width) * items_.depth != items_.img_width) {
    w_.violation(pos, "IMG_WIDTH_PARAM " + std::to_string(items_.img_width) + " is not VIDEO_WIDTH_PARAM " +
                          std::to_string(items_.video_width) + " x VIDEO_DEPTH_PARAM " + std::to_string(items_.depth));
  }
  if (items_.img_width >> 24) w_.violation(pos, "IMG_WIDTH_PARAM " + std::to_string(items_.img_width) + " has a nonzero top byte");
  if (items_.img_height != items_.video_height) {
    w_.violation(pos, "IMG_HEIGHT_PARAM " + std::to_string(items_.img_height) + " differs from VIDEO_HEIGHT_PARAM " +
                          std::to_string(items_.video_height));
  }
  w_.page.depth = items_.depth == 2 ? 2 : 1;
}

void ChunkWalker::jbig_param(size_t pos, Item& it) {
  const uint8_t* b = w_.data + pos + kHeader;
  params_ = JbigParams{be32(b + 4), be32(b + 8), be32(b + 12)};
  have_params_ = true;
  spans_.clear();
  short_piece_size_ = 0;
  it.num("DL", b[0]).num("D", b[1]).num("P", b[2]).num("XD", params_.width).num("YD", params_.height);
  it.num("L0", params_.l0).num("MX", b[16]).num("MY", b[17]).num("order", b[18]).hex("options", b[19]);
  struct Want {
    const char* name;
    uint32_t got, want;
  };
  const Want fixed[] = {{"DL", b[0], 0}, {"D", b[1], 0},  {"P", b[2], 1},      {"byte 3", b[3], 0},     {"L0", params_.l0, 256},
                        {"MX", b[16], 0}, {"MY", b[17], 0}, {"order", b[18], 3}, {"options", b[19], 0x5C}};
  for (const Want& f : fixed) {
    if (f.got != f.want) {
      w_.violation(pos, std::string("JBIG_PARAM_CMD ") + f.name + " is " + std::to_string(f.got) + ", expected " +
                            std::to_string(f.want));
    }
  }
  if (w_.page.open && params_.width != items_.img_width) {
    w_.violation(pos, "JBIG_PARAM_CMD XD " + std::to_string(params_.width) + " differs from IMG_WIDTH_PARAM " +
                          std::to_string(items_.img_width));
  }
  if (w_.page.open && params_.height != items_.img_height) {
    w_.violation(pos, "JBIG_PARAM_CMD YD " + std::to_string(params_.height) + " differs from IMG_HEIGHT_PARAM " +
                          std::to_string(items_.img_height));
  }
}

void ChunkWalker::jbig_data(size_t pos, uint32_t length, Item& it) {
  uint32_t piece = length - uint32_t(kHeader);
  it.num("piece", piece);
  if (piece == 0) w_.violation(pos, "JBIG_DATA_CMD without data");
  if (piece > kPiece) w_.violation(pos, "JBIG_DATA_CMD piece of " + std::to_string(piece) + " bytes exceeds 65536");
  if (short_piece_size_) {
    w_.violation(pos, "JBIG_DATA_CMD after a piece of " + std::to_string(short_piece_size_) + " bytes at offset " +
                          std::to_string(short_piece_offset_) + " (only the last piece of a page is shorter than 65536)");
    short_piece_size_ = 0;
  }
  if (piece < kPiece) {
    short_piece_offset_ = pos;
    short_piece_size_ = piece;
  }
  spans_.push_back(ByteSpan{pos + kHeader, w_.data + pos + kHeader, piece});
}

void ChunkWalker::decode_page(size_t pos) {
  if (!w_.page.open || !have_params_) return;
  w_.page.have_image = true;
  have_params_ = false;
  PageImage& img = w_.page.image;
  img.depth = w_.page.depth;
  img.width = img.depth == 2 ? params_.width / 2 : params_.width;
  img.height = params_.height;
  img.row_bytes = (size_t(params_.width) + 7) / 8;
  if (!w_.options.decode_images) return;
  JbigResult r = decode_jbig(params_, spans_);
  spans_.clear();
  if (!r.ok) w_.violation(r.error_offset ? r.error_offset : pos, r.error);
  if (r.complete) {
    img.bits = std::move(r.bits);
    img.complete = true;
  }
}

}  // namespace chunks
}  // namespace prndecode
