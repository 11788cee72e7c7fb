// PLATFORM_M: the walker of the chunk stream, shared by chunk_stream.cpp
// (framing and order) and chunk_items.cpp (chunk bodies and page images).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jbig_page.h"
#include "walk.h"

namespace prndecode {
namespace chunks {

inline constexpr char kUel[] = "\x1b%-12345X";
constexpr size_t kUelLen = 9;
constexpr size_t kHeader = 16;
constexpr size_t kItem = 12;
constexpr uint32_t kPiece = 65536;

enum ChunkType : uint32_t {
  START_DOC_CMD = 0,
  END_DOC_CMD = 1,
  START_PAGE_CMD = 2,
  END_PAGE_CMD = 3,
  JBIG_PARAM_CMD = 4,
  JBIG_DATA_CMD = 5,
  JBIG_END_CMD = 6,
  MANUAL_DUPLEX_CMD = 11,
  TONER_PARAM = 17,
};

inline const char* chunk_name(uint32_t type) {
  switch (type) {
    case START_DOC_CMD: return "START_DOC_CMD";
    case END_DOC_CMD: return "END_DOC_CMD";
    case START_PAGE_CMD: return "START_PAGE_CMD";
    case END_PAGE_CMD: return "END_PAGE_CMD";
    case JBIG_PARAM_CMD: return "JBIG_PARAM_CMD";
    case JBIG_DATA_CMD: return "JBIG_DATA_CMD";
    case JBIG_END_CMD: return "JBIG_END_CMD";
    case MANUAL_DUPLEX_CMD: return "MANUAL_DUPLEX_CMD";
    case TONER_PARAM: return "TONER_PARAM";
    default: return nullptr;
  }
}

// The 36 toner values of TONER_PARAM, in order.
inline const uint16_t kToner[36] = {0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,  100,
                             100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                             120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100};

// Page item ids and names in the order the driver sends them.
struct ItemId {
  uint16_t id;
  const char* name;
};
inline const ItemId kPaperSize{3, "PAPER_SIZE_PARAM"};
inline const ItemId kCustomItems[3] = {{26, "CUSTOM_PAPER_UNIT_PARAM"}, {24, "CUSTOM_WIDTH_PARAM"}, {25, "CUSTOM_HEIGHT_PARAM"}};
inline const ItemId kPageItems[13] = {{4, "COPIES_PARAM"},       {5, "INPUT_TRAY_PARAM"},  {6, "MEDIA_TYPE_PARAM"},
                               {7, "CHANNEL_NUM_PARAM"},  {8, "H_RESOLUTION_PARAM"}, {9, "V_RESOLUTION_PARAM"},
                               {22, "RET_PARAM"},         {12, "IMG_WIDTH_PARAM"},  {13, "IMG_HEIGHT_PARAM"},
                               {16, "VIDEO_DEPTH_PARAM"}, {17, "VIDEO_WIDTH_PARAM"}, {18, "VIDEO_HEIGHT_PARAM"},
                               {0xFF00, "DENSITY_PARAM"}};

enum class State { Toner, StartDoc, Idle, PageItems, PageData, PageImageDone, DocEnded, Closed };

struct PageItemsSeen {
  uint32_t paper = 0, depth = 0, img_width = 0, img_height = 0, video_width = 0, video_height = 0;
};

class ChunkWalker {
 public:
  explicit ChunkWalker(Walk& w) : w_(w) {}
  void run();

 private:
  Walk& w_;
  State state_ = State::Toner;
  bool fragment_ = false;
  bool manual_duplex_seen_ = false;
  PageItemsSeen items_;
  JbigParams params_;
  bool have_params_ = false;
  std::vector<ByteSpan> spans_;
  uint64_t short_piece_offset_ = 0;  // a data piece shorter than 64 KiB (only the last may be)
  size_t short_piece_size_ = 0;
  size_t prev_offset_ = 0;  // the chunk before, for messages about a lost header
  uint32_t prev_length_ = 0;

  bool prologue();
  void chunk(size_t pos, uint32_t length, uint32_t type, uint32_t count, uint32_t item_bytes);
  bool check_shape(size_t pos, const char* name, uint32_t type, uint32_t length, uint32_t count, uint32_t bytes);
  uint32_t read_item(size_t pos, size_t k, const char* chunk, const ItemId& expect, Item& it);
  void start_doc(size_t pos, Item& it);
  void start_page(size_t pos, uint32_t count, Item& it);
  void jbig_param(size_t pos, Item& it);
  void jbig_data(size_t pos, uint32_t length, Item& it);
  void decode_page(size_t pos);
  void order(size_t pos, const char* name, uint32_t type);
  void finish();
};

}  // namespace chunks
}  // namespace prndecode
