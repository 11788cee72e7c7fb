// The three records through which a page is handed to the colour-management
// library, and its two entry points.  The library is built elsewhere and
// expects exactly these sizes and offsets (36, 18 and 35 bytes on a 64-bit
// system), so the records are packed and every offset is checked below.
// This header has no other dependencies: the stand-in library includes it
// as well.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rf {

#pragma pack(push, 1)

// The 8-bit grey page, one byte per pixel, 0 black, 255 white.
struct CmsSrcData {
  int32_t reserved;           //  0: always 0
  int32_t cbStructSize;       //  4: 36
  uint8_t* inputData;         //  8: the grey page
  int32_t cbSize;             // 16: InputDataWidth x InputDataHeight
  int16_t InputDataX;         // 20: 0
  int16_t InputDataY;         // 22: 0
  int16_t InputDataWidth;     // 24: pixels
  int16_t InputDataHeight;    // 26: lines
  int32_t InputDataLineByte;  // 28: bytes per line, equal to the width
  uint8_t tail[4];            // 32: 0
};

struct CmsSettings {
  int32_t reserved;           //  0: always 0
  int32_t cbStructSize;       //  4: 18
  uint16_t PaperSize;         //  8: the page-start record's paper code
  uint8_t DpiMode;            // 10: 1 at 1200 dpi, else 0
  uint8_t BitMode;            // 11: 1 at 1200 dpi (two bits a pixel), else 0
  uint8_t TonerSaveMode;      // 12: 0
  uint8_t TonerDensityLevel;  // 13: low byte of the Density entry
  uint8_t tail[4];            // 14: 0
};

// The 1-bit (or, with OutputBitMode 1, 2-bit) page the library fills.
struct CmsDstData {
  int32_t reserved;            //  0: always 0
  int32_t cbStructSize;        //  4: 35
  uint8_t* outputData;         //  8: zero-filled page buffer
  int32_t cbSize;              // 16: its size in bytes
  int16_t OutputDataX;         // 20
  int16_t OutputDataY;         // 22
  int16_t OutputDataWidth;     // 24: pixels
  int16_t OutputDataHeight;    // 26: lines
  int16_t OutputDataLineByte;  // 28: set by the library
  uint8_t OutputBitMode;       // 30: 1 = two bits a pixel
  uint8_t tail[4];             // 31: 0
};

#pragma pack(pop)

constexpr int32_t kCmsSrcDataSize = 36;
constexpr int32_t kCmsSettingsSize = 18;
constexpr int32_t kCmsDstDataSize = 35;

static_assert(sizeof(void*) == 8, "the colour-management records hold 64-bit pointers");
static_assert(sizeof(CmsSrcData) == kCmsSrcDataSize, "CmsSrcData layout");
static_assert(sizeof(CmsSettings) == kCmsSettingsSize, "CmsSettings layout");
static_assert(sizeof(CmsDstData) == kCmsDstDataSize, "CmsDstData layout");
static_assert(offsetof(CmsSrcData, inputData) == 8 && offsetof(CmsSrcData, cbSize) == 16 &&
                  offsetof(CmsSrcData, InputDataWidth) == 24 &&
                  offsetof(CmsSrcData, InputDataLineByte) == 28,
              "CmsSrcData offsets");
static_assert(offsetof(CmsSettings, PaperSize) == 8 && offsetof(CmsSettings, TonerDensityLevel) == 13,
              "CmsSettings offsets");
static_assert(offsetof(CmsDstData, outputData) == 8 && offsetof(CmsDstData, OutputDataLineByte) == 28 &&
                  offsetof(CmsDstData, OutputBitMode) == 30,
              "CmsDstData offsets");

// Entry points, resolved by name: "GetQuorvaVersion", "QuorvaCMSmain".
using GetQuorvaVersionFn = int (*)();
using QuorvaCMSmainFn = int (*)(CmsSrcData* srcData, CmsSettings* settings, CmsDstData* dstData);

}  // namespace rf
