// The CUPS functions rasterfilter calls, as a table of pointers.  At job
// start they are taken from the CUPS libraries at fixed paths when those
// can be opened, else from the functions linked into the program.  Tests
// may replace single entries.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

namespace rf {

struct CupsBinding {
  void* cupsHandle;       // "/usr/lib/libcups.so", null when not opened
  void* cupsImageHandle;  // "/usr/lib/libcupsimage.so", null when not opened

  // libcups group
  void (*ppdClose)(ppd_file_t*);
  ppd_file_t* (*ppdOpenFile)(const char*);
  const char* (*ppdLocalizeIPPReason)(ppd_file_t*, const char*, const char*, char*, size_t);
  const char* (*cupsGetOption)(const char*, int, cups_option_t*);
  int (*cupsParseOptions)(const char*, int, cups_option_t**);
  int (*cupsTempFd)(char*, int);
  ppd_option_t* (*ppdFindOption)(ppd_file_t*, const char*);

  // libcupsimage group
  unsigned (*cupsRasterReadPixels)(cups_raster_t*, unsigned char*, unsigned);
  void (*cupsRasterClose)(cups_raster_t*);
  unsigned (*cupsRasterReadHeader2)(cups_raster_t*, cups_page_header2_t*);
  cups_raster_t* (*cupsRasterOpen)(int, cups_mode_t);
};

extern const char kCupsLibraryPath[];       // "/usr/lib/libcups.so"
extern const char kCupsImageLibraryPath[];  // "/usr/lib/libcupsimage.so"

// The job-wide binding; starts out bound to the linked functions.
CupsBinding& cups();

// Bind the libcups group: 1 when the library was opened, 0 when the linked
// functions were bound.  A second call closes the first handle.
int loadCupsLibrary();
int loadCupsImageLibrary();
// Same, with the library path given (tests use it).
int loadCupsLibraryFrom(const char* path);
int loadCupsImageLibraryFrom(const char* path);

// Close both handles and go back to the linked functions.
void unloadCupsLibrary();
void unloadCupsImageLibrary();

}  // namespace rf
