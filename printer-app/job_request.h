// What a job asks of the printer, in the filter's own terms, and the two
// things made from it: the option text the filter reads (its fifth
// argument) and the Ghostscript command that renders documents to raster.
#pragma once

#include <string>
#include <vector>

#include <cups/cups.h>
#include <cups/raster.h>

#include "media_names.h"
#include "model_catalog.h"

namespace tpa {

enum class Sides { OneSided, LongEdge, ShortEdge };
enum class Source { Auto, Manual, Tray };

// A model setting that IPP has no standard attribute for: offered as a
// vendor attribute under `ipp`, sent to the filter as the PPD option `ppd`.
struct VendorSetting {
  const char* ipp;             // IPP attribute name
  const char* ppd;             // PPD option keyword
  rf::ModelFeature feature;    // models that offer it
};
// The boolean vendor settings, in the order the web page shows them.
extern const VendorSetting kVendorBooleans[];
extern const size_t kVendorBooleanCount;
// "tesvel-blank-suppress": off, on or printer-setting.
extern const char kBlankSuppressAttr[];

struct JobRequest {
  std::string pageSize = "A4";  // PPD PageSize: a table name or "Custom.WxH"
  int resolution = 600;         // dpi, both directions
  Sides sides = Sides::OneSided;
  Source source = Source::Auto;
  int density = 2;              // 0 lightest .. 4 darkest
  bool tonerSave = false;       // print-quality draft
  int copies = 1;
  bool collate = false;
  bool vendor[8] = {};          // kVendorBooleans order
  std::string blankSuppress = "off";
};

// What a job's IPP attributes and its printer's defaults say, as plain
// values (the way PAPPL hands them over).
struct JobAttributes {
  int mediaWidth = 0;    // media-size, hundredths of millimetres
  int mediaLength = 0;
  std::string mediaName;
  int resolution = 0;    // the job's printer-resolution in dpi; 0 when it names none
  int defaultResolution = 600;
  std::string sides = "one-sided";
  std::string source = "auto";      // media-source
  int darknessConfigured = 50;      // the printer's darkness, 0..100
  int printDarkness = 0;            // the job's print-darkness, -100..100
  bool draft = false;               // print-quality draft
  int copies = 1;
  std::string documentHandling;     // multiple-document-handling, "" when absent
  std::string vendor[8];            // kVendorBooleans order: the job's value, else the default
  std::string blankSuppress;
};

// The job's settings for a model.  False (with the reason) when the job
// asks for a paper the model cannot print.
bool jobRequestFrom(const JobAttributes& attrs, const std::vector<MediaRow>& media,
                    const rf::ModelInfo& model, JobRequest* out, std::string* why);

// The five density levels from PAPPL's darkness: the printer's configured
// darkness (0..100) moved by the job's print-darkness (-100..100).
int densityFromDarkness(int configured, int jobDarkness);

// The value of a vendor boolean or keyword as IPP writes it ("true",
// "false", a keyword); false for anything else.
bool vendorTrue(const char* value);

// The filter's option text: every setting the model offers, spelled as the
// model's PPD spells its choices, so that the filter sees what a CUPS queue
// with that PPD would send and nothing falls back to the PPD's defaults.
std::string optionText(const rf::ModelInfo& model, const JobRequest& request);

// Ghostscript's arguments to render `input` (PDF or PostScript) into
// 8-bit grey CUPS raster on standard output with the page header CUPS
// would make from the PPD.
// `firstPage` and `lastPage` (1-based, 0 for no limit) choose the pages.
std::vector<std::string> ghostscriptArgs(const std::string& gs, const cups_page_header2_t& header,
                                         const std::string& input, int firstPage = 0, int lastPage = 0);

}  // namespace tpa
