#include "stream_records.h"

#include <cstring>

namespace rf {

namespace {

void put_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void put_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Opens a command record: mark, total length, id; the payload is zeroed so a
// builder only sets the bytes it has values for.
void begin_record(uint8_t* buf, size_t length, uint8_t id) {
  std::memset(buf, 0, length);
  buf[0] = kRecordMark;
  buf[1] = static_cast<uint8_t>(length);
  buf[2] = id;
}

// Closes a command record with its checksum and returns its length.
size_t end_record(uint8_t* buf, size_t length) {
  buf[length - 1] = recordChecksum(buf, static_cast<int>(length - 1));
  return length;
}

// The printer's toner curve, sent once per PLATFORM_M job.
constexpr uint16_t kTonerValues[kTonerParamValues] = {
    0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,                      // 11
    100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,           // 13 x 100
    120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100};               // 12

constexpr uint8_t kTonerParamTXDHead[] = {0x0B, 0x24, 0x1E, 0x00, 0x1E, 0x24, 0x26, 0x2F,
                                          0x50, 0x06, 0x20, 0x20, 0x20, 0x28, 0x2C};
constexpr uint8_t kTonerParamTXFHead[] = {0x0B, 0x28, 0x1E, 0x00, 0x17, 0x26, 0x00, 0x30,
                                          0x40, 0x20, 0x17, 0x20, 0x20, 0x00, 0x00};
constexpr uint8_t kTonerParamTXFTail[] = {0x08, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00};

}  // namespace

uint8_t recordChecksum(const uint8_t* data, int count) {
  uint8_t sum = 0;
  for (int i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return static_cast<uint8_t>(0x100 - sum);
}

size_t fillChunkHeader(uint8_t* buf, uint32_t length, uint32_t type, uint32_t itemCount,
                       uint16_t itemBytes, uint16_t mark) {
  put_be32(buf + 0, length);     // 0-3   chunk length, header included
  put_be32(buf + 4, type);       // 4-7   chunk type
  put_be32(buf + 8, itemCount);  // 8-11  items that follow
  put_be16(buf + 12, itemBytes); // 12-13 their bytes
  put_be16(buf + 14, mark);      // 14-15 5A 5A
  return kChunkHeaderSize;
}

size_t fillItem(uint8_t* buf, uint16_t id, uint8_t kind, uint32_t value) {
  put_be32(buf + 0, kItemSize);  // 0-3  item length
  put_be16(buf + 4, id);         // 4-5  item id
  buf[6] = kind;                 // 6    value kind
  buf[7] = 0;                    // 7    reserved
  put_be32(buf + 8, value);      // 8-11 value
  return kItemSize;
}

size_t fillEmptyChunk(uint8_t* buf, ChunkType type) {
  return fillChunkHeader(buf, kChunkHeaderSize, type, 0, 0, kChunkMark);
}

size_t fillTonerParamChunk(uint8_t* buf) {
  fillChunkHeader(buf, kTonerParamChunkLength, TONER_PARAM, 0, 0, kChunkMark);
  for (size_t i = 0; i < kTonerParamValues; ++i)
    put_be16(buf + kChunkHeaderSize + 2 * i, kTonerValues[i]);
  return kTonerParamChunkLength;
}

size_t fillJbigParamChunk(uint8_t* buf, const BiLevelHeader& bih) {
  fillChunkHeader(buf, kJbigParamChunkLength, JBIG_PARAM_CMD, 0, 0, kChunkMark);
  uint8_t* h = buf + kChunkHeaderSize;
  h[0] = bih.dl;               // 0     DL
  h[1] = bih.d;                // 1     D
  h[2] = bih.p;                // 2     P
  h[3] = 0;                    // 3     fill
  put_be32(h + 4, bih.xd);     // 4-7   XD
  put_be32(h + 8, bih.yd);     // 8-11  YD
  put_be32(h + 12, bih.l0);    // 12-15 L0
  h[16] = bih.mx;              // 16    MX
  h[17] = bih.my;              // 17    MY
  h[18] = bih.order;           // 18    order
  h[19] = bih.options;         // 19    options
  return kJbigParamChunkLength;
}

std::vector<size_t> jbigDataPieces(size_t size) {
  std::vector<size_t> pieces(size / kJbigDataPieceMax, kJbigDataPieceMax);
  if (size % kJbigDataPieceMax != 0) pieces.push_back(size % kJbigDataPieceMax);
  return pieces;
}

size_t buildStartPageItems(const PageStartRecord& rec, uint32_t videoDepth,
                           StartPageItem out[kStartPageCustomItems]) {
  size_t n = 0;
  auto add = [&](const char* name, uint16_t id, uint32_t value) { out[n++] = {name, id, value}; };
  add("PAPER_SIZE_PARAM", PAPER_SIZE_PARAM, rec.paperCode);
  if (rec.paperCode == 0) {  // custom size: the printer wants its dimensions right here
    add("CUSTOM_PAPER_UNIT_PARAM", CUSTOM_PAPER_UNIT_PARAM, 0);
    add("CUSTOM_WIDTH_PARAM", CUSTOM_WIDTH_PARAM, rec.paperWidthDots);
    add("CUSTOM_HEIGHT_PARAM", CUSTOM_HEIGHT_PARAM, rec.paperHeightDots);
  }
  add("COPIES_PARAM", COPIES_PARAM, rec.copies);
  add("INPUT_TRAY_PARAM", INPUT_TRAY_PARAM, rec.inputTray);
  add("MEDIA_TYPE_PARAM", MEDIA_TYPE_PARAM, rec.mediaType);
  add("CHANNEL_NUM_PARAM", CHANNEL_NUM_PARAM, 1);
  add("H_RESOLUTION_PARAM", H_RESOLUTION_PARAM, rec.xResolution);
  add("V_RESOLUTION_PARAM", V_RESOLUTION_PARAM, rec.yResolution);
  add("RET_PARAM", RET_PARAM, 0);
  add("IMG_WIDTH_PARAM", IMG_WIDTH_PARAM, (rec.imageWidth * videoDepth) & 0xFFFFFFu);
  add("IMG_HEIGHT_PARAM", IMG_HEIGHT_PARAM, rec.imageHeight);
  add("VIDEO_DEPTH_PARAM", VIDEO_DEPTH_PARAM, videoDepth);
  add("VIDEO_WIDTH_PARAM", VIDEO_WIDTH_PARAM, rec.imageWidth);
  add("VIDEO_HEIGHT_PARAM", VIDEO_HEIGHT_PARAM, rec.imageHeight);
  add("DENSITY_PARAM", DENSITY_PARAM, rec.density);
  return n;
}

uint8_t jobSpecFlags(const JobStartRecord& rec) {
  uint8_t flags = rec.jobSpecHighBit ? 0x80 : 0x00;
  flags |= rec.duplexBits;
  flags |= rec.jobSpecBits;
  if (rec.jobSpecBit3) flags |= 0x08;
  if (rec.jobSpecBit2) flags |= 0x04;
  if (rec.jobSpecBit1) flags |= 0x02;
  if (rec.jobSpecBit0) flags |= 0x01;
  return flags;
}

size_t fillCmdJobSpecC(uint8_t* buf, const JobStartRecord& rec) {
  begin_record(buf, kLenJobSpecC, kIdJobSpec);
  buf[3] = static_cast<uint8_t>(rec.jobId);  // 3 low byte of the job id
  buf[4] = jobSpecFlags(rec);                // 4 job flags
  return end_record(buf, kLenJobSpecC);
}

size_t fillCmdJobSpecZ(uint8_t* buf, const JobStartRecord& rec) {
  begin_record(buf, kLenJobSpecZ, kIdJobSpec);
  buf[3] = jobSpecFlags(rec);                             // 3   job flags
  put_le32(buf + 4, static_cast<uint32_t>(rec.jobId));    // 4-7 job id
  return end_record(buf, kLenJobSpecZ);
}

size_t fillCmdPageSpec(uint8_t* buf, const PageStartRecord& rec, ModelClass cls) {
  begin_record(buf, kLenPageSpec, kIdPageSpec);
  buf[3] = static_cast<uint8_t>(rec.paperCode);    // 3 paper code
  buf[4] = static_cast<uint8_t>(rec.mediaType);    // 4 media type
  buf[5] = static_cast<uint8_t>(rec.xResolution);  // 5 x resolution, low byte
  buf[6] = static_cast<uint8_t>(rec.yResolution);  // 6 y resolution, low byte
  buf[7] = static_cast<uint8_t>(rec.inputTray);    // 7 input tray
  if (cls == PLATFORM_C)                           // 8 page flags (PLATFORM_Z: 0)
    buf[8] = static_cast<uint8_t>(static_cast<uint8_t>(rec.specFlagsB) |
                                  static_cast<uint8_t>(rec.specFlagsA) |
                                  static_cast<uint8_t>(rec.specFlagsC));
  put_le16(buf + 9, rec.copies);       // 9-10  copies
  put_le16(buf + 11, rec.offsetX);     // 11-12 printable-area offset x
  put_le16(buf + 13, rec.offsetY);     // 13-14 printable-area offset y
  put_le16(buf + 15, rec.pageNumber);  // 15-16 page number
  return end_record(buf, kLenPageSpec);
}

size_t fillCmdCustomPaper(uint8_t* buf, const PageStartRecord& rec, ModelClass cls) {
  begin_record(buf, kLenCustomPaper, kIdCustomPaper);
  const bool custom = (cls == PLATFORM_C && rec.paperCode == 0xFF) ||
                      (cls == PLATFORM_Z && rec.paperCode == 0);
  if (custom) {  // a standard size leaves bytes 3-10 zero
    put_le16(buf + 3, rec.paperWidthDots);   // 3-4  paper width, dots
    put_le16(buf + 5, rec.paperHeightDots);  // 5-6  paper height, dots
    put_le16(buf + 7, rec.imageWidth);       // 7-8  image width, pixels
    put_le16(buf + 9, rec.imageHeight);      // 9-10 image height, lines
  }
  return end_record(buf, kLenCustomPaper);
}

size_t fillCmdDensity(uint8_t* buf, uint8_t density) {
  begin_record(buf, kLenDensity, kIdDensity);
  buf[3] = density;  // 3 density level
  return end_record(buf, kLenDensity);
}

size_t fillCmdTonerSave(uint8_t* buf, int32_t tonerSave) {
  begin_record(buf, kLenTonerSave, kIdTonerSave);
  buf[3] = static_cast<uint8_t>(tonerSave);  // 3 toner-save value, low byte
  return end_record(buf, kLenTonerSave);
}

size_t fillCmdFineMode(uint8_t* buf, uint8_t fineMode) {
  begin_record(buf, kLenFineMode, kIdFineMode);
  buf[3] = fineMode;  // 3 fine-mode value
  return end_record(buf, kLenFineMode);
}

size_t fillCmdSysTime(uint8_t* buf, int year, int month, int day) {
  if (buf == nullptr) return 0;
  begin_record(buf, kLenSysTime, kIdSysTime);
  put_le16(buf + 3, static_cast<uint16_t>(year));  // 3-4 year, four digits
  buf[5] = static_cast<uint8_t>(month);            // 5   month 1-12
  buf[6] = static_cast<uint8_t>(day);              // 6   day 1-31
  return end_record(buf, kLenSysTime);
}

size_t fillCmdCoverageZ(uint8_t* buf, uint64_t dotCount) {
  begin_record(buf, kLenCoverageZ, kIdCoverageZ);
  buf[3] = static_cast<uint8_t>((dotCount / 1000) % 64);     // 3 thousands of dots
  buf[4] = static_cast<uint8_t>((dotCount / 64000) % 64);    // 4 units of 64000
  buf[5] = static_cast<uint8_t>((dotCount / 4096000) % 16);  // 5 units of 4096000
  return end_record(buf, kLenCoverageZ);
}

size_t fillCmdCoverageC(uint8_t* buf, uint16_t coverage) {
  begin_record(buf, kLenCoverageC, kIdCoverageC);
  put_le16(buf + 3, coverage);  // 3-4 weighted coverage
  return end_record(buf, kLenCoverageC);
}

size_t fillCmdImageDataChenksum(uint8_t* buf, uint8_t imageChecksum) {
  begin_record(buf, kLenImageChecksum, kIdImageChecksum);
  put_le16(buf + 3, imageChecksum);  // 3-4 image checksum, high byte 0
  return end_record(buf, kLenImageChecksum);
}

size_t fillCmdRasterImage(uint8_t* buf, const PageImageRecord& rec) {
  begin_record(buf, kLenRasterImage, kIdRasterImage);
  buf[3] = rec.imageFlags0;                                               // 3 flags
  buf[4] = static_cast<uint8_t>(rec.imageFlags1 | rec.imageFlags2 | rec.imageFlags3);  // 4
  put_le16(buf + 5, rec.imageWidth);                                      // 5-6 pixels
  put_le16(buf + 7, rec.imageHeight);                                     // 7-8 lines
  put_le16(buf + 9, rec.imageParam);                                      // 9-10
  put_le16(buf + 11, static_cast<uint16_t>(rec.stripeLines));             // 11-12 stripe lines
  put_le32(buf + 13, static_cast<uint32_t>(rec.dataSize));                // 13-16 image bytes
  return end_record(buf, kLenRasterImage);
}

size_t fillCmdBandHeader(uint8_t* buf, const BandHeaderFields& band) {
  begin_record(buf, kLenBandHeader, kIdBandHeader);  // 0-2 0B 30 1A, 3-4 zero
  buf[5] = band.p;                          // 5     P
  put_le32(buf + 7, band.width);            // 7-10  width, pixels
  put_le32(buf + 11, band.lines);           // 11-14 lines per stripe
  put_le32(buf + 15, band.lines);           // 15-18 lines of the band
  buf[19] = band.mx;                        // 19    MX
  buf[20] = band.my;                        // 20    MY
  buf[21] = band.order;                     // 21    order
  buf[22] = band.options;                   // 22    options
  put_le32(buf + 23, band.compressedSize);  // 23-26 band bytes
  put_le32(buf + 27, band.compressedSize);  // 27-30 the same again
  buf[36] = static_cast<uint8_t>(band.bandIndex);        // 36-38 band index, 24-bit
  buf[37] = static_cast<uint8_t>(band.bandIndex >> 8);
  buf[38] = static_cast<uint8_t>(band.bandIndex >> 16);
  buf[39] = 3;                              // 39    constant 3
  return end_record(buf, kLenBandHeader);
}

size_t fillCmdTonerParamTXD(uint8_t* buf) {
  std::memcpy(buf, kTonerParamTXDHead, sizeof kTonerParamTXDHead);  // 0-14
  std::memset(buf + 15, 0x20, 18);                                  // 15-32
  buf[33] = 0x0A;
  buf[34] = 0x00;
  return end_record(buf, kLenTonerParamTXD);
}

size_t fillCmdTonerParamTXF(uint8_t* buf) {
  std::memcpy(buf, kTonerParamTXFHead, sizeof kTonerParamTXFHead);  // 0-14
  std::memset(buf + 15, 0x20, 17);                                  // 15-31
  std::memcpy(buf + 32, kTonerParamTXFTail, sizeof kTonerParamTXFTail);  // 32-38
  return end_record(buf, kLenTonerParamTXF);
}

}  // namespace rf
