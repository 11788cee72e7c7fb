// The maker's colour-management library: an optional shared library that
// turns the grey page of a ModelListA model into the printer's page in
// place of the built-in halftone.  Loaded at job start when installed,
// unloaded at job end.
#pragma once

#include <cstdint>

#include <cups/raster.h>

#include "cms_records.h"
#include "job_settings.h"
#include "stream_records.h"

namespace rf {

// Where the driver's package installs the library.
extern const char kCmsLibraryPath[];  // "/opt/tesvel/lib/CMSlib/libQuorvaCMSLib-amd64.so"

// The path loadCmsLibrary opens; a null path restores kCmsLibraryPath.
// The filter itself never changes it: only tests (and the test build of
// the filter) point it at the stand-in.
void setCmsLibraryPath(const char* path);
const char* cmsLibraryPath();

// Closes a held handle, then opens the library and resolves both entry
// points.  1 and cmsLoaded = 1 when the library and both entry points are
// there; otherwise 0, the loader's reason on the CUPS log, and the pages
// use the built-in halftone.
int loadCmsLibrary();
// Closes the handle (if any) and forgets the entry points.
void unloadCmsLibrary();

// True while a library with both entry points is held.
bool cmsAvailable();

// The record fills of one page, each followed by its dump on the CUPS log.
void fillCmsSource(CmsSrcData& srcData, const cups_page_header2_t& header, uint8_t* grey,
                   const PageStartRecord& page);
void fillCmsSettings(CmsSettings& settings, const JobSettings& job,
                     const cups_page_header2_t& header, const PageStartRecord& page);
void fillCmsDestination(CmsDstData& dstData, uint8_t* mono, const CmsSrcData& srcData,
                        int monoSize);

// What the page path knows of the page when it hands it to the library.
struct CmsPage {
  uint8_t* grey;              // fwImgWPixel x fwImgHPixel bytes
  uint8_t* mono;              // monoSize bytes, zero-filled
  int monoSize;
  uint32_t fwImgWPixel;       // after any quarter turn
  uint32_t fwImgHPixel;
  const cups_page_header2_t* header;
  const PageStartRecord* record;
  const JobSettings* settings;
};

// The library's share of a page: sizes, the three records, the version,
// the conversion, the NegativePrint inversion and the destination dump.
// false (nothing done) when no library is held or the page-start record
// describes more pixels than the grey page has; the page then takes the
// built-in halftone.  Otherwise true, and *errorNumber (if given) receives
// the library's result, which is only reported: the page is sent whatever
// it is.
bool convertPageWithCms(const CmsPage& page, int* errorNumber = nullptr);

}  // namespace rf
