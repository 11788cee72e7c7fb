#include "drv_writer.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "model_catalog.h"

namespace ppdgen {

namespace {

using rf::ModelInfo;
using rf::PaperEntry;

// What the print dialog shows for the paper tables' names; the other
// papers are shown by their names.
struct PaperLabel {
  const char* name;
  const char* label;
};
constexpr PaperLabel kPaperLabels[] = {
    {"Letter", "US Letter"},         {"B5", "B5 (JIS)"},        {"IOSB5", "B5 (ISO)"},
    {"EnvMonarch", "Envelope Monarch"}, {"EnvDL", "Envelope DL"}, {"EnvC5", "Envelope C5"},
    {"Com10Envelope", "Envelope #10"}, {"EnvC6", "Envelope C6"}, {"Legal", "US Legal"},
    {"Big32K", "Big 32K"},           {"Big16K", "Big 16K"},     {"ChinaElectronic", "China Electronic"},
};

const char* label_of(const char* name) {
  for (const PaperLabel& p : kPaperLabels)
    if (std::strcmp(p.name, name) == 0) return p.label;
  return name;
}

constexpr char kHeader[] = R"(// Raster models of the Tesvel printer line: one PPD per row of the model
// catalogue (rasterfilter/model_catalog.cpp).  Written by ppdgen at build
// time; edit the catalogue, not this file.  rasterfilter reads 8-bit grey
// raster (0 = black) that covers the whole sheet and crops it to the
// printer's image size itself, so the hardware margins are zero.
)";

constexpr char kDriver[] = R"(
Manufacturer "Tesvel"
Version 1.0
DriverType custom
ManualCopies No
ColorDevice No
Throughput 20
HWMargins 0 0 0 0

// rasterfilter takes the grey raster the CUPS pre-filters make for this PPD.
Attribute cupsFilter2 "" "application/vnd.cups-raster application/vnd.tesvel-printer 0 rasterfilter"

ColorModel Gray/Grayscale w chunky 0

// The job options rasterfilter reads.  "outputorder" (where the blank back
// side goes in manual duplex) stays a job option only: CUPS's own filters
// treat a PPD option of that name as their page-order setting.
Duplex normal

Group "General"
  Option "InputSlot/Paper Source" PickOne AnySetup 10
    *Choice "Auto/Automatic" ""
    Choice "ManualFeed/Manual Feed" ""
    Choice "AutoFeed/Tray" ""
  Option "Density/Print Density" PickOne AnySetup 10
    Choice "0/Lightest" ""
    Choice "1/Light" ""
    *Choice "2/Normal" ""
    Choice "3/Dark" ""
    Choice "4/Darkest" ""
  Option "TonerMode/Toner Save" Boolean AnySetup 10
    *Choice "False/Off" ""
    Choice "True/On" ""
  Option "Collate/Collate Copies" Boolean AnySetup 10
    *Choice "False/Off" ""
    Choice "True/On" ""
)";

// The options a model offers only where they change its printer data, in
// the order the PPDs list them.  Without choices: Off (the default) and On.
struct FeatureOption {
  unsigned feature;
  const char* keywordAndLabel;
  const char* choices;
};
constexpr FeatureOption kFeatureOptions[] = {
    {rf::kFeatureNegativePrint, "NegativePrint/Negative Print", nullptr},
    {rf::kFeatureImageRotation, "ImageRotation/Rotate Image 180 Degrees", nullptr},
    {rf::kFeatureFeedLongEdge, "FeedLongEdge/Feed Short Paper Long Edge First", nullptr},
    {rf::kFeatureFineMode, "FineMode/Fine Mode", nullptr},
    {rf::kFeatureManualDuplex, "ManualDuplex/Manual Duplex (Turn Stack by Hand)", nullptr},
    {rf::kFeatureDpi1200, "DPI1200/1200 dpi Quality", nullptr},
    {rf::kFeatureBlankSuppress, "BlankSuppress/Skip Blank Pages",
     "    *Choice \"False/Off\" \"\"\n"
     "    Choice \"True/On\" \"\"\n"
     "    Choice \"PrinterSetting/Printer Setting\" \"\"\n"},
};

constexpr char kOnOff[] =
    "    *Choice \"False/Off\" \"\"\n"
    "    Choice \"True/On\" \"\"\n";

// The prompt shown between the two passes of manual duplex.
constexpr char kManualDuplexPrompt[] =
    "  Attribute cupsIPPReason \"MDuplex/Turn the printed stack over, put it back in the tray and "
    "press OK.\" \"\"\n";

const char* platform_text(rf::ModelClass cls) {
  switch (cls) {
    case rf::PLATFORM_C: return "PLATFORM_C";
    case rf::PLATFORM_Z: return "PLATFORM_Z";
    case rf::PLATFORM_M: return "PLATFORM_M";
    default: return "";
  }
}

// Every paper of the catalogue once, in the order the models first name it.
std::vector<const PaperEntry*> all_papers() {
  std::vector<const PaperEntry*> papers;
  std::set<std::string> seen;
  for (size_t i = 0; i < rf::kModelCatalogSize; ++i)
    for (const PaperEntry* p = rf::kModelCatalog[i].paperTable; p->widthPt != -1; ++p)
      if (seen.insert(p->name).second) papers.push_back(p);
  return papers;
}

void write_options(std::ostream& out, const ModelInfo& m) {
  out << "  Group \"General\"\n";
  for (const FeatureOption& o : kFeatureOptions) {
    if ((m.features & o.feature) == 0) continue;
    out << "  Option \"" << o.keywordAndLabel << "\" " << (o.choices ? "PickOne" : "Boolean")
        << " AnySetup 10\n"
        << (o.choices ? o.choices : kOnOff);
  }
}

void write_paper(std::ostream& out, const ModelInfo& m) {
  std::set<std::string> seen;  // a table may list a size twice; the first row counts
  for (const PaperEntry* p = m.paperTable; p->widthPt != -1; ++p)
    if (seen.insert(p->name).second)
      out << "  " << (std::strcmp(p->name, "A4") == 0 ? "*" : "") << "MediaSize " << p->name << "\n";
  out << "  *Resolution - 8 0 0 0 \"600dpi/600 DPI\"\n";
  if (m.resolution1200) out << "  Resolution - 8 0 0 0 \"1200dpi/1200 DPI\"\n";
  if (m.customMaxPt[0] > 0 && m.customMaxPt[1] > 0) {
    out << "  VariablePaperSize Yes\n"
        << "  MinSize " << m.customMinPt[0] << " " << m.customMinPt[1] << "\n"
        << "  MaxSize " << m.customMaxPt[0] << " " << m.customMaxPt[1] << "\n";
  }
}

void write_model(std::ostream& out, const ModelInfo& m) {
  out << "\n{\n";
  // Options before the sizes and resolutions: the PPD lists them in the
  // order they are declared, and Resolution comes last.
  write_options(out, m);
  write_paper(out, m);
  if ((m.features & rf::kFeatureManualDuplex) != 0 || !m.duplexUnit) out << kManualDuplexPrompt;
  out << "  Attribute cupsIPPReason \"PlatForm/" << platform_text(m.cls) << "\" \"\"\n";
  // Only PLATFORM_Z jobs turn a two-sided request into manual duplex.
  if (m.cls == rf::PLATFORM_Z)
    out << "  Attribute cupsIPPReason \"SupportManualDuplex/" << (m.duplexUnit ? "FALSE" : "TRUE")
        << "\" \"\"\n";
  out << "  ModelName \"" << m.modelName << "\"\n"
      << "  PCFileName \"" << m.ppdName << "\"\n"
      << "}\n";
}

}  // namespace

void writeRasterDrv(std::ostream& out) {
  out << kHeader << "\n// Paper sizes in points, named as rasterfilter's paper tables name them.\n";
  for (const PaperEntry* p : all_papers())
    out << "#media \"" << p->name << "/" << label_of(p->name) << "\" " << p->widthPt << " "
        << p->heightPt << "\n";
  out << kDriver;
  for (size_t i = 0; i < rf::kModelCatalogSize; ++i) write_model(out, rf::kModelCatalog[i]);
}

}  // namespace ppdgen
