#include "page_image.h"

#include <cstring>
#include <new>

#include "job_state.h"
#include "keepalive.h"
#include "output_channel.h"
#include "stream_format.h"

namespace rf {

namespace {

uint8_t byte_sum(const uint8_t* p, size_t n) {
  unsigned s = 0;
  for (size_t i = 0; i < n; ++i) s += p[i];
  return static_cast<uint8_t>(s);
}

bool send(const void* data, size_t n, const char* failure) {
  if (SendDataToFile(data, static_cast<int>(n), 1) == 1) return true;
  prependErrorText(failure);
  return false;
}

int send_chunk_stream(const JbigBih& bih, const std::vector<uint8_t>& out, size_t n) {
  uint8_t chunk[64];
  BiLevelHeader h;
  h.dl = bih.DL;
  h.d = bih.D;
  h.p = bih.P;
  // XD is the width the lines were coded at: in the widened 1200-dpi mode
  // each line holds twice ParamImgWidth pixels, and the printer decodes
  // the stripes with this header (the page start announces the same width).
  h.xd = static_cast<uint32_t>(bih.ParamImgWidth * (bandWideLines ? 2 : 1));
  h.yd = static_cast<uint32_t>(bih.ParamImgHeight);
  h.l0 = static_cast<uint32_t>(bih.ParamL0);
  h.mx = bih.MX;
  h.my = bih.MY;
  h.order = bih.Order;
  h.options = bih.Options;
  size_t len = fillJbigParamChunk(chunk, h);
  if (!send(chunk, len, "Prnt_SendPage() :: send JBIG_PARAM_CMD Fail 0 ==  \n")) return 0;
  size_t offset = 0;
  for (size_t piece : jbigDataPieces(n)) {
    len = fillChunkHeader(chunk, static_cast<uint32_t>(piece + kChunkHeaderSize), JBIG_DATA_CMD, 0, 0,
                          kChunkMark);
    if (!send(chunk, len, "Prnt_SendPage() :: send JBIG_DATA_CMD Fail 0 ==  \n")) return 0;
    if (!send(out.data() + offset, piece, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n"))
      return 0;
    offset += piece;
  }
  len = fillEmptyChunk(chunk, JBIG_END_CMD);
  if (!send(chunk, len, "Prnt_SendPage() :: send JBIG_END_CMD Fail 0 ==  \n")) return 0;
  return 1;
}

}  // namespace

namespace {

// The band header of band `index` in front of its data at `at`.
void put_band_header(std::vector<uint8_t>& out, size_t at, const JbigBih& bih, uint32_t lines,
                     uint32_t compressedSize, uint32_t index) {
  BandHeaderFields f;
  f.p = bih.P;
  f.width = static_cast<uint32_t>(bih.ParamImgWidth);
  f.lines = lines;
  f.mx = bih.MX;
  f.my = bih.MY;
  f.order = bih.Order;
  f.options = bih.Options;
  f.compressedSize = compressedSize;
  f.bandIndex = index;
  fillCmdBandHeader(out.data() + at, f);
}

void keep_checksum(const uint8_t* data, size_t n) {
  g_job.imageChecksum = static_cast<uint8_t>(byte_sum(data, n) + kUelCmdCSum);
}

// Bands of kBandLines lines, each its own JBIG image behind its header,
// coded together straight from the page, or taken from `early`.  `bih` is
// left as the last band's.
void compress_banded(const PageImageRecord& rec, JbigBih& bih, std::vector<uint8_t>& out, size_t height,
                     EarlyBands* early) {
  const size_t bandCount = (height + kBandLines - 1) / kBandLines;
  std::vector<std::vector<uint8_t>> coded;
  std::vector<uint32_t> sizes(bandCount, 0);
  bool ok = early && early->collect(&coded) && coded.size() == bandCount;
  const uint8_t* data = nullptr;
  if (ok) {
    for (size_t i = 0; i < bandCount; ++i) sizes[i] = static_cast<uint32_t>(coded[i].size());
  } else {
    coded.clear();
    bih.ParamL0 = kBandLines;
    ok = compressBands(rec.pageBitmap, bih, sizes.data()) == 1;
    data = bandOutputBuffer;
  }
  const uint8_t* last = nullptr;
  for (size_t i = 0; i < bandCount; ++i) {
    const size_t lines = (i + 1 == bandCount && height % kBandLines != 0) ? height % kBandLines : kBandLines;
    bih.ParamImgHeight = static_cast<int64_t>(lines);
    bih.ParamL0 = static_cast<int64_t>(lines);
    const size_t at = out.size();
    out.resize(at + kLenBandHeader);
    put_band_header(out, at, bih, static_cast<uint32_t>(lines), sizes[i], static_cast<uint32_t>(i));
    const uint8_t* band = coded.empty() ? data : coded[i].data();
    out.insert(out.end(), band, band + sizes[i]);
    last = band;
    if (coded.empty()) data += sizes[i];
  }
  if (ok && last) keep_checksum(last, sizes[bandCount - 1]);
}

}  // namespace

JbigBih pageJbigParams(const PageImageRecord& rec, ModelClass cls) {
  JbigBih b{};
  b.P = 1;
  b.ParamImgWidth = rec.imageWidth;
  b.ParamImgHeight = rec.imageHeight;
  if (cls == PLATFORM_C) {
    b.ParamL0 = static_cast<int64_t>(rec.stripeLines);
    b.MX = 8;
    b.Options = 0x08;
  } else if (cls == PLATFORM_Z) {
    b.DL = 0xFF;
    b.Order = 3;
    b.Options = 0x58;
  } else {
    b.ParamL0 = 256;
    b.Order = 3;
    b.Options = 0x5C;
  }
  return b;
}

size_t compressPageBands(PageImageRecord& rec, JbigBih& bih, std::vector<uint8_t>& out, int mode,
                         EarlyBands* early) {
  const bool wide = bandWideLines;
  const size_t lineBytes = static_cast<size_t>(bih.ParamImgWidth) / 8 * (wide ? 2 : 1);
  const size_t height = static_cast<size_t>(bih.ParamImgHeight);
  // The coder's buffer and `out` grow as needed; an eighth of the page is
  // room enough for most pages without reserving address space for the worst.
  const size_t room = lineBytes * height / 8 + 65536;
  out.clear();
  out.reserve(room);
  if (!band_output_allocate(room)) throw std::bad_alloc();
  if (mode == 2) {
    compress_banded(rec, bih, out, height, early);
  } else {
    std::vector<std::vector<uint8_t>> coded;
    if (early && early->collect(&coded) && coded.size() == 1) {
      out = std::move(coded[0]);
      keep_checksum(out.data(), out.size());
    } else {
      if (compressBand(rec.pageBitmap, bih) == 1) keep_checksum(bandOutputBuffer, bandOutputLength);
      out.insert(out.end(), bandOutputBuffer, bandOutputBuffer + bandOutputLength);
    }
  }
  bandOutputLength = 0;
  band_output_free();
  return out.size();
}

int Prnt_SendPage(PageImageRecord* rec, ModelClass cls, EarlyBands* early) {
  if (rec == nullptr) return 0;
  if (cls != PLATFORM_C && cls != PLATFORM_Z && cls != PLATFORM_M) return 0;

  std::vector<uint8_t> out;
  JbigBih bih = pageJbigParams(*rec, cls);
  size_t n = 0;
  try {
    n = compressPageBands(*rec, bih, out, cls == PLATFORM_Z ? 2 : 1, early);
  } catch (const std::bad_alloc&) {
    band_output_free();
    prependErrorText("Prnt_SendPage() :: malloc Fail .  \n");
    return 0;
  }

  if (cls == PLATFORM_M) {
    rec->dataSize = static_cast<int32_t>(n);
    return send_chunk_stream(bih, out, n);
  }

  uint8_t record[kMaxRecordSize];
  if (cls == PLATFORM_Z) {
    rec->dataSize = 0;
    size_t len = fillCmdCoverageZ(record, g_job.dotCount);
    if (!send(record, len, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n")) return 0;
    Insert00();
  } else {
    rec->dataSize = static_cast<int32_t>(n);
  }
  size_t len = fillCmdRasterImage(record, *rec);
  if (!send(record, len, "Prnt_SendPage() :: send cmdRasterImage Fail .  \n")) return 0;
  if (!send(out.data(), n, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n")) return 0;
  return 1;
}

}  // namespace rf
