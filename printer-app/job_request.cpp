#include "job_request.h"

#include <strings.h>

#include <algorithm>

namespace tpa {

const VendorSetting kVendorBooleans[] = {
    {"tesvel-manual-duplex", "ManualDuplex", rf::kFeatureManualDuplex},
    {"tesvel-negative-print", "NegativePrint", rf::kFeatureNegativePrint},
    {"tesvel-image-rotation", "ImageRotation", rf::kFeatureImageRotation},
    {"tesvel-feed-long-edge", "FeedLongEdge", rf::kFeatureFeedLongEdge},
    {"tesvel-fine-mode", "FineMode", rf::kFeatureFineMode},
    {"tesvel-1200dpi-quality", "DPI1200", rf::kFeatureDpi1200},
};
const size_t kVendorBooleanCount = sizeof kVendorBooleans / sizeof kVendorBooleans[0];
static_assert(sizeof kVendorBooleans / sizeof kVendorBooleans[0] <= sizeof JobRequest{}.vendor &&
                  sizeof kVendorBooleans / sizeof kVendorBooleans[0] <= sizeof JobAttributes{}.vendor /
                                                                           sizeof(std::string),
              "every vendor setting has its place in a job");
const char kBlankSuppressAttr[] = "tesvel-blank-suppress";

namespace {

const char* bool_choice(bool on) { return on ? "True" : "False"; }

const char* duplex_choice(Sides s) {
  switch (s) {
    case Sides::LongEdge: return "DuplexNoTumble";
    case Sides::ShortEdge: return "DuplexTumble";
    default: return "None";
  }
}

const char* source_choice(Source s) {
  switch (s) {
    case Source::Manual: return "ManualFeed";
    case Source::Tray: return "AutoFeed";
    default: return "Auto";
  }
}

const char* blank_suppress_choice(const std::string& keyword) {
  if (keyword == "on") return "True";
  if (keyword == "printer-setting") return "PrinterSetting";
  return "False";
}

void add(std::string& text, const char* name, const std::string& value) {
  if (!text.empty()) text += ' ';
  text += name;
  text += '=';
  text += value;
}

}  // namespace

int densityFromDarkness(int configured, int jobDarkness) {
  int d = std::clamp(configured, 0, 100) + std::clamp(jobDarkness, -100, 100);
  d = std::clamp(d, 0, 100);
  return (d * 4 + 50) / 100;
}

bool vendorTrue(const char* value) { return value && strcasecmp(value, "true") == 0; }

bool jobRequestFrom(const JobAttributes& a, const std::vector<MediaRow>& media, const rf::ModelInfo& info,
                    JobRequest* r, std::string* why) {
  r->pageSize = pageSizeForMedia(media, info, a.mediaWidth, a.mediaLength);
  if (r->pageSize.empty()) {
    *why = "The paper size " + a.mediaName + " is not one this printer takes.";
    return false;
  }
  // PAPPL picks a resolution from print-quality when the job names none;
  // the printer's own default is what a CUPS queue with the PPD would use.
  int dpi = a.resolution > 0 ? a.resolution : a.defaultResolution;
  r->resolution = dpi >= 1200 && info.resolution1200 ? 1200 : 600;
  // Without a duplex unit the filter prints both sides by hand, as the PPD does.
  r->sides = Sides::OneSided;
  if (a.sides == "two-sided-long-edge") r->sides = Sides::LongEdge;
  if (a.sides == "two-sided-short-edge") r->sides = Sides::ShortEdge;
  r->source = a.source == "manual" ? Source::Manual : a.source == "tray-1" ? Source::Tray : Source::Auto;
  r->density = densityFromDarkness(a.darknessConfigured, a.printDarkness);
  r->tonerSave = a.draft;
  r->copies = a.copies > 0 ? a.copies : 1;
  r->collate = a.documentHandling != "separate-documents-uncollated-copies";
  for (size_t i = 0; i < kVendorBooleanCount; ++i)
    r->vendor[i] = (info.features & kVendorBooleans[i].feature) && vendorTrue(a.vendor[i].c_str());
  if (info.features & rf::kFeatureBlankSuppress) r->blankSuppress = a.blankSuppress;
  return true;
}

std::string optionText(const rf::ModelInfo& model, const JobRequest& r) {
  std::string text;
  // Every value below is one of a fixed set of choices or a number: nothing
  // a client sends reaches the filter's options as text.
  add(text, "PageSize", r.pageSize);
  add(text, "Resolution", r.resolution == 1200 && model.resolution1200 ? "1200dpi" : "600dpi");
  add(text, "Duplex", duplex_choice(r.sides));
  add(text, "InputSlot", source_choice(r.source));
  add(text, "Density", std::to_string(std::clamp(r.density, 0, 4)));
  add(text, "TonerMode", bool_choice(r.tonerSave));
  add(text, "Collate", bool_choice(r.collate));
  for (size_t i = 0; i < kVendorBooleanCount; ++i)
    if (model.features & kVendorBooleans[i].feature)
      add(text, kVendorBooleans[i].ppd, bool_choice(r.vendor[i]));
  if (model.features & rf::kFeatureBlankSuppress)
    add(text, "BlankSuppress", blank_suppress_choice(r.blankSuppress));
  return text;
}

std::vector<std::string> ghostscriptArgs(const std::string& gs, const cups_page_header2_t& h,
                                         const std::string& input, int firstPage, int lastPage) {
  std::vector<std::string> a = {gs,
                                "-dQUIET",
                                "-dSAFER",
                                "-dNOPAUSE",
                                "-dBATCH",
                                "-dNOINTERPOLATE",
                                "-dNOMEDIAATTRS",
                                "-dShowAcroForm",
                                "-sstdout=%stderr",
                                "-sOutputFile=%stdout",
                                "-sDEVICE=cups"};
  if (h.Duplex) a.push_back("-dDuplex");
  if (h.Tumble) a.push_back("-dTumble");
  a.push_back("-r" + std::to_string(h.HWResolution[0]) + "x" + std::to_string(h.HWResolution[1]));
  if (h.NumCopies > 1) a.push_back("-dNumCopies=" + std::to_string(h.NumCopies));
  // The page is the job's paper (pdftopdf has laid the document out on it).
  a.push_back("-dDEVICEWIDTHPOINTS=" + std::to_string(h.PageSize[0]));
  a.push_back("-dDEVICEHEIGHTPOINTS=" + std::to_string(h.PageSize[1]));
  a.push_back("-dFIXEDMEDIA");
  if (firstPage > 1) a.push_back("-dFirstPage=" + std::to_string(firstPage));
  if (lastPage > 0) a.push_back("-dLastPage=" + std::to_string(lastPage));
  a.push_back("-dcupsBitsPerColor=" + std::to_string(h.cupsBitsPerColor));
  a.push_back("-dcupsColorOrder=" + std::to_string(h.cupsColorOrder));
  a.push_back("-dcupsColorSpace=" + std::to_string(h.cupsColorSpace));
  if (h.cupsPageSizeName[0]) a.push_back(std::string("-scupsPageSizeName=") + h.cupsPageSizeName);
  a.push_back("-c");
  a.push_back("<</.HWMargins[0 0 0 0] /Margins[0 0]>>setpagedevice");
  a.push_back("-f");
  a.push_back(input);
  return a;
}

}  // namespace tpa
