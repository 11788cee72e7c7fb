// The job's option table and the operations that fill it from the raster
// page header, the CUPS option text and the PPD.
#pragma once

#include <cstdint>
#include <string>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "model_classes.h"

namespace rf {

// Index of each entry; the order is the order of the table.
enum class JobKey : int {
  Duplex = 0,      // 0 simplex, 1 long-edge, 2 short-edge
  Sides,           // same coding as Duplex
  ManualDuplex,    // 1 when "true"
  Density,         // decimal value
  TonerMode,       // 1 when "true" (toner save)
  FeedLongEdge,
  outputorder,
  DPI1200,
  NegativePrint,
  InputSlot,       // 0 Auto/other, 1 ManualFeed, 2 AutoFeed
  ImageRotation,
  Collate,
  FineMode,
};
constexpr int kJobOptionCount = 13;

struct JobOption {
  const char* name;  // CUPS option keyword, also the entry's identity
  int32_t value;
};

struct JobSettings {
  JobOption entries[kJobOptionCount];

  int32_t& operator[](JobKey k) { return entries[static_cast<int>(k)].value; }
  int32_t operator[](JobKey k) const { return entries[static_cast<int>(k)].value; }
};

// A fresh table with every default.
JobSettings jobSettingsTemplate();

void readJobOptions(JobSettings& settings, int numOptions, cups_option_t* options,
                    const cups_page_header2_t& header);

// Appends " keyword" / " keyword=value" settings taken from the PPD's
// defaults for options the user's text does not mention.  The text grows
// as needed, so long user options are never cut.
void appendPpdDefaults(std::string& optionText, const char* userOptions, ppd_file_t* ppd);

// The resolution of the ModelListA models: 2 (1200 dpi) when the option
// text sets DPI1200 to true, yes or on, or names it bare; 1 (600 dpi) for
// false, no, off or "noDPI1200"; otherwise the PPD default decides.
int is1200dpiprint(const char* userOptions);
// The blank-suppress mode, read the same way: 3 on (true), 2 off (false,
// "noBlankSuppress"), 1 the printer's own setting ("PrinterSetting");
// otherwise the PPD default decides.
int blankSuppressMode(const char* userOptions);

// Copies the default choice of a PPD option (from the PPD named by $PPD)
// into out (64 bytes, zeroed by the caller); leaves it untouched when the
// PPD or the option is missing.
void getPpdDefaultChoice(const char* keyword, char* out);

void applyNamedPageSize(cups_page_header2_t& header, const PaperEntry* table, int numOptions,
                        cups_option_t* options);

void printRasterHeader(const cups_page_header2_t& header);

// The value a raster file put in a boolean header field.  The file may hold
// any number there, which is not a valid cups_bool_t, so it is read as the
// plain integer it is.
unsigned rawBool(const cups_bool_t& field);

}  // namespace rf
