// The four read-only model tables of the wrapper.  Names, sizes and entry
// forms are what the printers and the PPDs use (see model_tables.cpp).
#pragma once

#include <cstddef>

namespace jw {

constexpr size_t kModelNameSize = 64;
constexpr size_t kPsModelCount = 61;
constexpr size_t kColourModelCount = 8;
constexpr size_t kDeviceIdCount = 69;
constexpr size_t kColourDeviceIdCount = 8;  // entries 0-7 of DeviceIdTable
constexpr size_t kJobControlCount = 17;

// One IEEE-1284 device-ID entry: each field must occur in the printer's
// device ID exactly as written ("series" in lower case).
struct DeviceIdEntry {
  char mfg[kModelNameSize];  // "MFG:Tesvel;"
  char mdl[kModelNameSize];  // "MDL:<model> series;"
  char cls[kModelNameSize];  // "CLS:PRINTER;"
};

extern const char PsModelNames[kPsModelCount][kModelNameSize];
extern const char ColourModelNames[kColourModelCount + 1][kModelNameSize];  // "" ends it
extern const DeviceIdEntry DeviceIdTable[kDeviceIdCount];
extern const char JobControlModels[kJobControlCount][kModelNameSize];

}  // namespace jw
