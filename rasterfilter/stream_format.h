// Byte layouts of the printer stream, both dialects.
//
// PLATFORM_M speaks a chunk stream: UEL, "JZJZ", then chunks with a 16-byte
// big-endian header ending in 5A 5A; page parameters travel as 12-byte items.
// PLATFORM_C and PLATFORM_Z speak PJL text followed by command records:
// 0B, total length, command id, little-endian payload, 8-bit checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rf {

// ---- Chunk stream (PLATFORM_M) ------------------------------------------

// Chunk header, 16 bytes, big-endian:
//   0-3   chunk length (header included)
//   4-7   chunk type
//   8-11  item count
//   12-13 item bytes (item count x 12)
//   14-15 mark 5A 5A
constexpr size_t kChunkHeaderSize = 16;
constexpr uint16_t kChunkMark = 0x5A5A;

// Item, 12 bytes, big-endian:
//   0-3  item length (always 12)
//   4-5  item id
//   6    value kind (always 1)
//   7    reserved 0
//   8-11 value
constexpr size_t kItemSize = 12;
constexpr uint8_t kItemKind = 1;

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

enum ItemId : uint16_t {
  JOB_ITEM_0 = 0,  // START_DOC_CMD items; the printer expects 0, 0, 1
  JOB_ITEM_1 = 1,
  JOB_ITEM_2 = 2,
  PAPER_SIZE_PARAM = 3,
  COPIES_PARAM = 4,
  INPUT_TRAY_PARAM = 5,
  MEDIA_TYPE_PARAM = 6,
  CHANNEL_NUM_PARAM = 7,
  H_RESOLUTION_PARAM = 8,
  V_RESOLUTION_PARAM = 9,
  IMG_WIDTH_PARAM = 12,
  IMG_HEIGHT_PARAM = 13,
  VIDEO_DEPTH_PARAM = 16,
  VIDEO_WIDTH_PARAM = 17,
  VIDEO_HEIGHT_PARAM = 18,
  RET_PARAM = 22,
  CUSTOM_WIDTH_PARAM = 24,
  CUSTOM_HEIGHT_PARAM = 25,
  CUSTOM_PAPER_UNIT_PARAM = 26,
  DENSITY_PARAM = 0xFF00,
};

constexpr uint32_t kStartDocChunkLength = 52;       // 3 items
constexpr uint32_t kStartDocItems = 3;
constexpr uint32_t kStartPageChunkLength = 184;     // 14 items, standard size
constexpr uint32_t kStartPageItems = 14;
constexpr uint32_t kStartPageCustomChunkLength = 220;  // 17 items, custom size
constexpr uint32_t kStartPageCustomItems = 17;
constexpr uint32_t kTonerParamChunkLength = 88;     // 16 + 36 x uint16
constexpr size_t kTonerParamValues = 36;
constexpr uint32_t kJbigParamChunkLength = 36;      // 16 + 20-byte T.82 header
constexpr size_t kBiLevelHeaderSize = 20;
constexpr size_t kJbigDataPieceMax = 65536;         // one JBIG_DATA_CMD carries at most this

// ---- Command records (PLATFORM_C, PLATFORM_Z) ---------------------------

// Record: 0 = 0B, 1 = total length, 2 = command id, 3.. payload, last = checksum.
constexpr uint8_t kRecordMark = 0x0B;

// Fixed records, sent as they are.
constexpr uint8_t abortCmd[] = {0x0B, 0x04, 0x16, 0xDB};             // PLATFORM_C job start
constexpr uint8_t resetCmd[] = {0x0B, 0x04, 0x17, 0xDA};             // job end
constexpr uint8_t formFeedCmd[] = {0x0B, 0x04, 0x18, 0xD9};          // page end
constexpr uint8_t manualDuplexCmdZ[] = {0x0B, 0x04, 0x1B, 0xD6};     // PLATFORM_Z, between passes
constexpr uint8_t manualDuplexCmdC[] = {0x0B, 0x04, 0x30, 0xC1};     // PLATFORM_C, between passes
constexpr uint8_t queryStatusCmd[] = {0x0B, 0x05, 0x31, 0x80, 0x3F};  // PLATFORM_C job end
constexpr uint8_t hostUseCmd[] = {0x0B, 0x04, 0x32, 0xBF};           // PLATFORM_C page start
constexpr uint8_t machineDuplexCmd[] = {0x0B, 0x04, 0x40, 0xB1};     // PLATFORM_C after odd pages

// Built records: command id and total length.  Ids 0x11, 0x19, 0x1A, 0x1E
// and 0x1F come in two lengths with different payloads.
constexpr uint8_t kIdRasterImage = 0x0C;
constexpr size_t kLenRasterImage = 18;
constexpr uint8_t kIdJobSpec = 0x11;
constexpr size_t kLenJobSpecC = 6;
constexpr size_t kLenJobSpecZ = 9;
constexpr uint8_t kIdPageSpec = 0x12;
constexpr size_t kLenPageSpec = 18;
constexpr uint8_t kIdCustomPaper = 0x13;
constexpr size_t kLenCustomPaper = 12;
constexpr uint8_t kIdDensity = 0x15;
constexpr size_t kLenDensity = 5;
constexpr uint8_t kIdTonerSave = 0x19;
constexpr size_t kLenTonerSave = 5;
constexpr uint8_t kIdCoverageZ = 0x19;
constexpr size_t kLenCoverageZ = 7;
constexpr uint8_t kIdImageChecksum = 0x1A;
constexpr size_t kLenImageChecksum = 6;
constexpr uint8_t kIdBandHeader = 0x1A;
constexpr size_t kLenBandHeader = 48;
constexpr uint8_t kIdCoverageC = 0x1E;
constexpr size_t kLenCoverageC = 6;
constexpr uint8_t kIdTonerParamTXD = 0x1E;
constexpr size_t kLenTonerParamTXD = 36;
constexpr size_t kLenTonerParamTXF = 40;
constexpr uint8_t kIdFineMode = 0x1F;
constexpr size_t kLenFineMode = 5;
constexpr uint8_t kIdSysTime = 0x1F;
constexpr size_t kLenSysTime = 8;

// The longest record any builder produces.
constexpr size_t kMaxRecordSize = 48;

// ---- Texts and markers ---------------------------------------------------

constexpr char UEL_CMD[] = "\x1b%-12345X";  // 9 bytes, PJL universal exit
constexpr uint8_t UEL_CMD_C[] = {0x1B, 0xFF, 0x2D, 0x31, 0x32, 0x33, 0x34, 0x35, 0x58};
constexpr char pjlJZJZ_TXE[] = "JZJZ";
constexpr char PJLheader[] = "\x1b%-12345X@PJL\r\n";
constexpr char endOfJobCmd[] = "\x1b%-12345X@PJL\r\n@PJL EOJ\r\n\x1b%-12345X\r\n";  // 36 bytes
constexpr char pjlPosCmd[] = "@PJL ENTER LANGUAGE=PL\r\n";
constexpr char pjlVersion[] = "@PJL LANGUAGEVERSION=1.0\r\n";
constexpr char pjlJobTime[] = "@PJL JOBTIME=";
constexpr char pjlJobOwner[] = "@PJL JOBOWNER=";
constexpr char pjlLineEnd[] = "\r\n";
// The blank-suppress lines end in a bare line feed; the printer takes them so.
constexpr char pjlBlankSuppressDisable[] = "@PJL SET BLANKSUPPRESS=DISABLE\n";
constexpr char pjlBlankSuppressEnable[] = "@PJL SET BLANKSUPPRESS=ENABLE\n";
constexpr char fwVersionText[] = "versions=3.1.2.1";  // 16 bytes, no line end
constexpr uint8_t kZeroFiller[] = {0x00, 0x00};

// Sum of the UEL_CMD_C bytes modulo 256; part of every imageChecksum.
constexpr uint8_t kUelCmdCSum = 0x9E;

}  // namespace rf
