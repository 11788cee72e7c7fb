// The catalogue of host-based models: one row per model, the one place that
// says what each printer has.  The raster PPDs are written from it, the
// filter's model lists agree with it, and the Printer Application builds
// its drivers from it.
#pragma once

#include <cstddef>

#include "model_classes.h"

namespace rf {

// Settings a model's PPD offers beyond page size, paper source, density,
// toner save, collation, resolution and two-sided printing, which every
// host-based model has.  A setting is offered only where it changes what
// the printer receives.
enum ModelFeature : unsigned {
  kFeatureManualDuplex = 1u << 0,   // "ManualDuplex": both sides by hand
  kFeatureNegativePrint = 1u << 1,  // "NegativePrint"
  kFeatureImageRotation = 1u << 2,  // "ImageRotation"
  kFeatureFeedLongEdge = 1u << 3,   // "FeedLongEdge": A5 long edge first
  kFeatureFineMode = 1u << 4,       // "FineMode"
  kFeatureDpi1200 = 1u << 5,        // "DPI1200": 1200-dpi quality
  kFeatureBlankSuppress = 1u << 6,  // "BlankSuppress": True, False, PrinterSetting
};

struct ModelInfo {
  const char* modelName;         // PPD ModelName, exactly as the filter classifies it
  const char* ppdName;           // the PPD's file name, e.g. "tesvel-tz3010.ppd"
  ModelClass cls;                // dialect
  const PaperEntry* paperTable;  // the table the filter uses for this model
  bool resolution1200;           // the Resolution option offers 1200dpi
  bool duplexUnit;               // the printer turns the sheet itself; false: by hand
  unsigned features;             // ModelFeature bits
  int customMinPt[2];            // smallest custom page, width and height in points
  int customMaxPt[2];            // largest custom page; {0, 0} when none is offered
};

// Every host-based model, in the order of the PPD list.
extern const ModelInfo kModelCatalog[];
extern const size_t kModelCatalogSize;

// The row of a model name (exact match), or null.
const ModelInfo* findModelInfo(const char* modelName);

}  // namespace rf
