#include "model_catalog.h"

#include <cstring>

namespace rf {

namespace {

// What every host-based model's printer data responds to beyond the basic
// settings: two-sided printing by hand (the stores hold back the even
// pages), negative print and the 180-degree turn (the page image), long-edge
// A5 (its own paper code and a turned image) and DPI1200 (the screen, the
// four-level pages of PLATFORM_M, the widened lines of the 1200-dpi series).
constexpr unsigned kEveryModel = kFeatureManualDuplex | kFeatureNegativePrint |
                                 kFeatureImageRotation | kFeatureFeedLongEdge | kFeatureDpi1200;
// Only the PLATFORM_Z job header carries the fine-mode record.
constexpr unsigned kZModels = kEveryModel | kFeatureFineMode;
// Only the TXA series' job header carries the blank-suppress line.
constexpr unsigned kTxaModels = kZModels | kFeatureBlankSuppress;

// Custom page sizes, in points: from the narrowest and shortest paper any
// of the printers takes (Envelope Monarch 279 wide, A6 and Postcard 420
// long) to the widest and longest (US Legal, 612 x 1008), the range of
// the paper tables.  Well inside what the page records carry: at 1200 dpi
// a Legal sheet is 10200 x 16800 dots, and the 16-bit fields end at 65535.
constexpr int kCustomMin[2] = {279, 420};
constexpr int kCustomMax[2] = {612, 1008};

// A kind of model: dialect, paper table, resolutions, duplex and features.
struct Kind {
  ModelClass cls;
  const PaperEntry* paperTable;
  bool resolution1200;
  bool duplexUnit;
  unsigned features;
};
constexpr Kind kC1 = {PLATFORM_C, PaperTableC1, true, true, kEveryModel};
constexpr Kind kC2 = {PLATFORM_C, PaperTableC2, true, true, kEveryModel};
constexpr Kind kZWithDuplexUnit = {PLATFORM_Z, PaperTableZ, false, true, kZModels};
constexpr Kind kZByHand = {PLATFORM_Z, PaperTableZ, false, false, kZModels};
constexpr Kind kM = {PLATFORM_M, PaperTableM, false, true, kEveryModel};
constexpr Kind kTxa = {PLATFORM_Z, PaperTableZ, false, false, kTxaModels};
constexpr Kind kTxb = {PLATFORM_C, PaperTableC1, false, true, kEveryModel};

constexpr ModelInfo row(const char* modelName, const char* ppdName, const Kind& k) {
  return ModelInfo{modelName,    ppdName,      k.cls, k.paperTable, k.resolution1200, k.duplexUnit,
                   k.features,   {kCustomMin[0], kCustomMin[1]}, {kCustomMax[0], kCustomMax[1]}};
}

}  // namespace

const ModelInfo kModelCatalog[] = {
    // PLATFORM_C, first paper table: the Resolution option offers 1200 dpi.
    row("Tesvel TC1110 Series", "tesvel-tc1110.ppd", kC1),
    row("Tesvel TC1120 Series", "tesvel-tc1120.ppd", kC1),
    // PLATFORM_C, second paper table.
    row("Tesvel TC2110 Series", "tesvel-tc2110.ppd", kC2),
    row("Tesvel TC2120 Series", "tesvel-tc2120.ppd", kC2),
    // PLATFORM_Z.  TXD, TXF and TXG turn the sheet themselves; the others print
    // the back sides by hand.
    row("Tesvel TXD Series", "tesvel-txd.ppd", kZWithDuplexUnit),
    row("Tesvel TXF Series", "tesvel-txf.ppd", kZWithDuplexUnit),
    row("Tesvel TXG Series", "tesvel-txg.ppd", kZWithDuplexUnit),
    row("Tesvel TZ3010 Series", "tesvel-tz3010.ppd", kZByHand),
    row("Tesvel TZ3020 Series", "tesvel-tz3020.ppd", kZByHand),
    row("Tesvel TZ3030 Series", "tesvel-tz3030.ppd", kZByHand),
    row("Tesvel TZ3040 Series", "tesvel-tz3040.ppd", kZByHand),
    row("Tesvel TZ3050 Series", "tesvel-tz3050.ppd", kZByHand),
    row("Tesvel TZ3060 Series", "tesvel-tz3060.ppd", kZByHand),
    row("Tesvel TZ3070 Series", "tesvel-tz3070.ppd", kZByHand),
    row("Tesvel TZ3080 Series", "tesvel-tz3080.ppd", kZByHand),
    row("Tesvel TZ3090 Series", "tesvel-tz3090.ppd", kZByHand),
    row("Tesvel TZ3100 Series", "tesvel-tz3100.ppd", kZByHand),
    row("Tesvel TZ3110 Series", "tesvel-tz3110.ppd", kZByHand),
    row("Tesvel TZ3120 Series", "tesvel-tz3120.ppd", kZByHand),
    row("Tesvel TZ3130 Series", "tesvel-tz3130.ppd", kZByHand),
    row("Tesvel TZ3140 Series", "tesvel-tz3140.ppd", kZByHand),
    row("Tesvel TZ3150 Series", "tesvel-tz3150.ppd", kZByHand),
    row("Tesvel TZ3160 Series", "tesvel-tz3160.ppd", kZByHand),
    // PLATFORM_M: the chunk-stream printers.
    row("Tesvel TM4010 Series", "tesvel-tm4010.ppd", kM),
    row("Tesvel TM4020 Series", "tesvel-tm4020.ppd", kM),
    row("Tesvel TM4030 Series", "tesvel-tm4030.ppd", kM),
    row("Tesvel TM4040 Series", "tesvel-tm4040.ppd", kM),
    row("Tesvel TM4050 Series", "tesvel-tm4050.ppd", kM),
    row("Tesvel TM4060 Series", "tesvel-tm4060.ppd", kM),
    row("Tesvel TM4070 Series", "tesvel-tm4070.ppd", kM),
    row("Tesvel TM4080 Series", "tesvel-tm4080.ppd", kM),
    row("Tesvel TM4090 Series", "tesvel-tm4090.ppd", kM),
    row("Tesvel TM4100 Series", "tesvel-tm4100.ppd", kM),
    row("Tesvel TM4110 Series", "tesvel-tm4110.ppd", kM),
    row("Tesvel TM4120 Series", "tesvel-tm4120.ppd", kM),
    row("Tesvel TM4130 Series", "tesvel-tm4130.ppd", kM),
    row("Tesvel TM4140 Series", "tesvel-tm4140.ppd", kM),
    row("Tesvel TM4150 Series", "tesvel-tm4150.ppd", kM),
    row("Tesvel TM4160 Series", "tesvel-tm4160.ppd", kM),
    row("Tesvel TM4170 Series", "tesvel-tm4170.ppd", kM),
    row("Tesvel TM4180 Series", "tesvel-tm4180.ppd", kM),
    row("Tesvel TM4190 Series", "tesvel-tm4190.ppd", kM),
    row("Tesvel TM4200 Series", "tesvel-tm4200.ppd", kM),
    row("Tesvel TM4210 Series", "tesvel-tm4210.ppd", kM),
    row("Tesvel TM4220 Series", "tesvel-tm4220.ppd", kM),
    row("Tesvel TM4230 Series", "tesvel-tm4230.ppd", kM),
    row("Tesvel TM4240 Series", "tesvel-tm4240.ppd", kM),
    row("Tesvel TM4250 Series", "tesvel-tm4250.ppd", kM),
    row("Tesvel TM4260 Series", "tesvel-tm4260.ppd", kM),
    row("Tesvel TM4270 Series", "tesvel-tm4270.ppd", kM),
    row("Tesvel TM4280 Series", "tesvel-tm4280.ppd", kM),
    row("Tesvel TM4290 Series", "tesvel-tm4290.ppd", kM),
    row("Tesvel TM4300 Series", "tesvel-tm4300.ppd", kM),
    row("Tesvel TM4310 Series", "tesvel-tm4310.ppd", kM),
    // The 1200-dpi series: their class comes from the PPD's PlatForm text.
    row("Tesvel TXA Series", "tesvel-txa.ppd", kTxa),
    row("Tesvel TXA200 Series", "tesvel-txa200.ppd", kTxa),
    row("Tesvel TXA300 Series", "tesvel-txa300.ppd", kTxa),
    row("Tesvel TXA400 Series", "tesvel-txa400.ppd", kTxa),
    row("Tesvel TXA500 Series", "tesvel-txa500.ppd", kTxa),
    row("Tesvel TXA600 Series", "tesvel-txa600.ppd", kTxa),
    row("Tesvel TXB Series", "tesvel-txb.ppd", kTxb),
    row("Tesvel TXB200 Series", "tesvel-txb200.ppd", kTxb),
    row("Tesvel TXB300 Series", "tesvel-txb300.ppd", kTxb),
    row("Tesvel TXB400 Series", "tesvel-txb400.ppd", kTxb),
    row("Tesvel TXB500 Series", "tesvel-txb500.ppd", kTxb),
    row("Tesvel TXB600 Series", "tesvel-txb600.ppd", kTxb),
    row("Tesvel TXC Series", "tesvel-txc.ppd", kM),
    row("Tesvel TXC200 Series", "tesvel-txc200.ppd", kM),
    row("Tesvel TXC300 Series", "tesvel-txc300.ppd", kM),
    row("Tesvel TXC400 Series", "tesvel-txc400.ppd", kM),
    row("Tesvel TXC500 Series", "tesvel-txc500.ppd", kM),
    row("Tesvel TXC600 Series", "tesvel-txc600.ppd", kM),
};
const size_t kModelCatalogSize = sizeof kModelCatalog / sizeof kModelCatalog[0];

const ModelInfo* findModelInfo(const char* modelName) {
  if (modelName == nullptr) return nullptr;
  for (const ModelInfo& m : kModelCatalog)
    if (std::strcmp(m.modelName, modelName) == 0) return &m;
  return nullptr;
}

}  // namespace rf
