// Writer records (filled by the job driver) and the pure builders that turn
// them into the printer's chunks, items and command records.
//
// Every builder fills a caller buffer of at least the record's size and
// returns the number of bytes it wrote; none of them writes to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model_classes.h"
#include "stream_format.h"

namespace rf {

// What precedes the first page of a job.
struct JobStartRecord {
  int32_t jobId;           // cmdJobSpec
  char jobTitle[32];       // first 32 bytes of the title; not sent
  int32_t jobSpecHighBit;  // nonzero: 0x80 in the job flags
  uint8_t duplexBits;      // ORed into the job flags
  uint8_t fineMode;        // value of cmdFineMode
  uint8_t jobSpecBits;     // ORed into the job flags
  int32_t jobSpecBit3;     // nonzero: 0x08
  int32_t jobSpecBit2;     // nonzero: 0x04
  int32_t jobSpecBit1;     // nonzero: 0x02
  int32_t jobSpecBit0;     // nonzero: 0x01
  int32_t tonerSave;       // low byte is the value of cmdTonerSave
  uint8_t density;         // value of cmdDensity
};

// What follows the last page of a job.
struct JobEndRecord {
  int32_t pageNumber;  // pages produced
  int32_t autoDuplex;  // 1 when the printer duplexes by itself
};

struct PageStartRecord {
  uint16_t paperCode;        // 0 = custom (PLATFORM_M, PLATFORM_Z), 0xFF = custom (PLATFORM_C)
  uint16_t mediaType;
  uint16_t xResolution;
  uint16_t yResolution;
  uint16_t inputTray;
  uint16_t specFlagsA;       // PLATFORM_C page flags, ORed into cmdPageSpec
  uint16_t specFlagsB;
  uint16_t specFlagsC;
  uint16_t copies;
  uint16_t offsetX;          // from the paper table row
  uint16_t offsetY;
  uint16_t pageNumber;
  uint16_t paperWidthDots;   // custom sizes
  uint16_t paperHeightDots;
  uint16_t imageWidth;       // pixels
  uint16_t imageHeight;      // lines
  int32_t doubleDepth;       // 1 = video depth 2 for models outside ModelListA
  uint8_t density;
};

struct PageEndRecord {
  int32_t pageNumber;
  int32_t autoDuplex;      // 1 = the printer duplexes by itself
  int32_t resolution;      // dots per inch
  int32_t paperSizeMm;     // paper dimension in millimetres
  int32_t densityLevel;
  uint32_t coverageValue;  // set by Prnt_EndPage: the last coverage value sent
};

struct PageImageRecord {
  uint8_t imageFlags0;   // byte 3 of cmdRasterImage
  uint8_t imageFlags1;   // ORed into byte 4
  uint8_t imageFlags2;
  uint8_t imageFlags3;
  uint16_t imageWidth;   // pixels per line, a multiple of 8
  uint16_t imageHeight;  // lines
  uint16_t imageParam;   // bytes 9-10 of cmdRasterImage
  uint64_t stripeLines;  // JBIG lines per stripe (PLATFORM_C)
  int32_t dataSize;      // compressed bytes sent after cmdRasterImage
  uint8_t* pageBitmap;   // 1-bit page, MSB first, 1 = black
};

// The T.82 bi-level image header carried by JBIG_PARAM_CMD.
struct BiLevelHeader {
  uint8_t dl = 0;
  uint8_t d = 0;
  uint8_t p = 1;
  uint32_t xd = 0;   // width in pixels
  uint32_t yd = 0;   // height in lines
  uint32_t l0 = 256; // lines per stripe
  uint8_t mx = 0;
  uint8_t my = 0;
  uint8_t order = 3;       // interleaved, SMID
  uint8_t options = 0x5C;  // LRLTWO, TPDON, TPBON, DPON
};

// The varying fields of one PLATFORM_Z band header.
struct BandHeaderFields {
  uint8_t p = 1;
  uint32_t width = 0;          // pixels
  uint32_t lines = 0;          // lines of this band (also lines per stripe)
  uint8_t mx = 0;
  uint8_t my = 0;
  uint8_t order = 3;
  uint8_t options = 0x58;      // LRLTWO, TPDON, TPBON
  uint32_t compressedSize = 0; // bytes of the band data that follows
  uint32_t bandIndex = 0;      // from 0, 24 bits sent
};

// One START_PAGE_CMD item with the name its failure report carries.
struct StartPageItem {
  const char* name;
  uint16_t id;
  uint32_t value;
};

// Two's complement of the 8-bit sum of the first count bytes; 0 for count <= 0.
uint8_t recordChecksum(const uint8_t* data, int count);

// ---- Chunk stream ----
size_t fillChunkHeader(uint8_t* buf, uint32_t length, uint32_t type, uint32_t itemCount,
                       uint16_t itemBytes, uint16_t mark);
size_t fillItem(uint8_t* buf, uint16_t id, uint8_t kind, uint32_t value);
// A chunk of header only (END_DOC_CMD, END_PAGE_CMD, JBIG_END_CMD, MANUAL_DUPLEX_CMD).
size_t fillEmptyChunk(uint8_t* buf, ChunkType type);
size_t fillTonerParamChunk(uint8_t* buf);
size_t fillJbigParamChunk(uint8_t* buf, const BiLevelHeader& bih);
// Piece lengths of the JBIG_DATA_CMD chunks for a compressed page of size bytes.
std::vector<size_t> jbigDataPieces(size_t size);
// The START_PAGE_CMD items in the printer's order; returns their count (14 or 17).
size_t buildStartPageItems(const PageStartRecord& rec, uint32_t videoDepth,
                           StartPageItem out[kStartPageCustomItems]);

// ---- Command records ----
uint8_t jobSpecFlags(const JobStartRecord& rec);
size_t fillCmdJobSpecC(uint8_t* buf, const JobStartRecord& rec);
size_t fillCmdJobSpecZ(uint8_t* buf, const JobStartRecord& rec);
size_t fillCmdPageSpec(uint8_t* buf, const PageStartRecord& rec, ModelClass cls);
size_t fillCmdCustomPaper(uint8_t* buf, const PageStartRecord& rec, ModelClass cls);
size_t fillCmdDensity(uint8_t* buf, uint8_t density);
size_t fillCmdTonerSave(uint8_t* buf, int32_t tonerSave);
size_t fillCmdFineMode(uint8_t* buf, uint8_t fineMode);
// 0 for a null buffer, the only builder that can fail.
size_t fillCmdSysTime(uint8_t* buf, int year, int month, int day);
size_t fillCmdCoverageZ(uint8_t* buf, uint64_t dotCount);
size_t fillCmdCoverageC(uint8_t* buf, uint16_t coverage);
size_t fillCmdImageDataChenksum(uint8_t* buf, uint8_t imageChecksum);
size_t fillCmdRasterImage(uint8_t* buf, const PageImageRecord& rec);
size_t fillCmdBandHeader(uint8_t* buf, const BandHeaderFields& band);
size_t fillCmdTonerParamTXD(uint8_t* buf);  // 36-byte form
size_t fillCmdTonerParamTXF(uint8_t* buf);  // 40-byte form

}  // namespace rf
