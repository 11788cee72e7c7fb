// The raster job driver: start-up, the page loop, end of job, clean-up.
#pragma once

#include <string>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "job_settings.h"
#include "model_classes.h"
#include "stream_records.h"

namespace rf {

// State of one job run, kept for the whole loop.
struct RasterJob {
  int argc = 0;
  char** argv = nullptr;

  int inputFd = 0;                   // 0 = standard input
  cups_raster_t* raster = nullptr;
  ppd_file_t* ppd = nullptr;

  JobSettings settings = jobSettingsTemplate();
  cups_page_header2_t header{};

  ModelClass modelClass = MODEL_NONE;
  const PaperEntry* paperTable = nullptr;
  int supportManualDuplex = 0;
  int manualDuplexType = 0;
  int doubleWidth = 0;               // PLATFORM_M pages in 1200-dpi mode
  int replayCopies = 1;              // NumCopies of the first page

  std::string optionText;            // PLATFORM_Z: user options + PPD defaults
  int numOptions = 0;
  cups_option_t* options = nullptr;  // this page's parsed options

  PageStartRecord lastPageStart{};    // reused for blank back sides
  bool pageFailed = false;           // a page could not be converted: exit status 1
  bool unsupportedModel = false;     // no dialect for the model: exit status 1
  bool storeOpenFailed = false;     // a page store could not be made: exit status 1
  bool jobStarted = false;          // the job start went to the printer

  char platformText[1024] = {};
  char supportManualDuplexText[1024] = {};
  char manualDuplexPrompt[1024] = {};
};

// Runs one job as CUPS starts the filter; returns the exit status.
int runRasterJob(int argc, char* argv[]);

// Reads a PPD text by keyword (the text part of its cupsIPPReason entry);
// false when the PPD has no such entry.  `out` holds 1024 bytes.
bool readPpdText(ppd_file_t* ppd, const char* keyword, char* out);

// Page loop steps that decide the page's class, options and settings
// (exposed for tests).
void classifyPage(RasterJob& job);
void parsePageOptions(RasterJob& job);
void applyPageSettings(RasterJob& job);

}  // namespace rf
