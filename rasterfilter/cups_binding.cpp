#include "cups_binding.h"

#include <dlfcn.h>

namespace rf {

const char kCupsLibraryPath[] = "/usr/lib/libcups.so";
const char kCupsImageLibraryPath[] = "/usr/lib/libcupsimage.so";

namespace {

CupsBinding linked_binding() {
  CupsBinding b{};
  b.ppdClose = ::ppdClose;
  b.ppdOpenFile = ::ppdOpenFile;
  b.ppdLocalizeIPPReason = ::ppdLocalizeIPPReason;
  b.cupsGetOption = ::cupsGetOption;
  b.cupsParseOptions = ::cupsParseOptions;
  b.cupsTempFd = ::cupsTempFd;
  b.ppdFindOption = ::ppdFindOption;
  b.cupsRasterReadPixels = ::cupsRasterReadPixels;
  b.cupsRasterClose = ::cupsRasterClose;
  b.cupsRasterReadHeader2 = ::cupsRasterReadHeader2;
  b.cupsRasterOpen = ::cupsRasterOpen;
  return b;
}

CupsBinding g_binding = linked_binding();

// Resolve one symbol into a typed pointer.  A library that lacks the
// function keeps the linked one, so no entry is ever left null.
template <typename Fn>
void bind(void* handle, const char* name, Fn& slot, Fn linked) {
  void* sym = dlsym(handle, name);
  slot = sym ? reinterpret_cast<Fn>(sym) : linked;
}

}  // namespace

CupsBinding& cups() { return g_binding; }

int loadCupsLibraryFrom(const char* path) {
  CupsBinding linked = linked_binding();
  if (g_binding.cupsHandle) {
    dlclose(g_binding.cupsHandle);
    g_binding.cupsHandle = nullptr;
  }
  void* h = dlopen(path, RTLD_LAZY);
  if (h == nullptr) {
    g_binding.ppdClose = linked.ppdClose;
    g_binding.ppdOpenFile = linked.ppdOpenFile;
    g_binding.ppdLocalizeIPPReason = linked.ppdLocalizeIPPReason;
    g_binding.cupsGetOption = linked.cupsGetOption;
    g_binding.cupsParseOptions = linked.cupsParseOptions;
    g_binding.cupsTempFd = linked.cupsTempFd;
    g_binding.ppdFindOption = linked.ppdFindOption;
    return 0;
  }
  g_binding.cupsHandle = h;
  bind(h, "ppdClose", g_binding.ppdClose, linked.ppdClose);
  bind(h, "ppdOpenFile", g_binding.ppdOpenFile, linked.ppdOpenFile);
  bind(h, "ppdLocalizeIPPReason", g_binding.ppdLocalizeIPPReason, linked.ppdLocalizeIPPReason);
  bind(h, "cupsGetOption", g_binding.cupsGetOption, linked.cupsGetOption);
  bind(h, "cupsParseOptions", g_binding.cupsParseOptions, linked.cupsParseOptions);
  bind(h, "cupsTempFd", g_binding.cupsTempFd, linked.cupsTempFd);
  bind(h, "ppdFindOption", g_binding.ppdFindOption, linked.ppdFindOption);
  return 1;
}

int loadCupsImageLibraryFrom(const char* path) {
  CupsBinding linked = linked_binding();
  if (g_binding.cupsImageHandle) {
    dlclose(g_binding.cupsImageHandle);
    g_binding.cupsImageHandle = nullptr;
  }
  void* h = dlopen(path, RTLD_LAZY);
  if (h == nullptr) {
    g_binding.cupsRasterReadPixels = linked.cupsRasterReadPixels;
    g_binding.cupsRasterClose = linked.cupsRasterClose;
    g_binding.cupsRasterReadHeader2 = linked.cupsRasterReadHeader2;
    g_binding.cupsRasterOpen = linked.cupsRasterOpen;
    return 0;
  }
  g_binding.cupsImageHandle = h;
  bind(h, "cupsRasterReadPixels", g_binding.cupsRasterReadPixels, linked.cupsRasterReadPixels);
  bind(h, "cupsRasterClose", g_binding.cupsRasterClose, linked.cupsRasterClose);
  bind(h, "cupsRasterReadHeader2", g_binding.cupsRasterReadHeader2, linked.cupsRasterReadHeader2);
  bind(h, "cupsRasterOpen", g_binding.cupsRasterOpen, linked.cupsRasterOpen);
  return 1;
}

int loadCupsLibrary() { return loadCupsLibraryFrom(kCupsLibraryPath); }
int loadCupsImageLibrary() { return loadCupsImageLibraryFrom(kCupsImageLibraryPath); }

// Unloading points every entry back at the linked functions first, so a
// call after the unload never jumps into a closed library.
void unloadCupsLibrary() {
  CupsBinding linked = linked_binding();
  void* h = g_binding.cupsHandle;
  g_binding.ppdClose = linked.ppdClose;
  g_binding.ppdOpenFile = linked.ppdOpenFile;
  g_binding.ppdLocalizeIPPReason = linked.ppdLocalizeIPPReason;
  g_binding.cupsGetOption = linked.cupsGetOption;
  g_binding.cupsParseOptions = linked.cupsParseOptions;
  g_binding.cupsTempFd = linked.cupsTempFd;
  g_binding.ppdFindOption = linked.ppdFindOption;
  g_binding.cupsHandle = nullptr;
  if (h) dlclose(h);
}

void unloadCupsImageLibrary() {
  CupsBinding linked = linked_binding();
  void* h = g_binding.cupsImageHandle;
  g_binding.cupsRasterReadPixels = linked.cupsRasterReadPixels;
  g_binding.cupsRasterClose = linked.cupsRasterClose;
  g_binding.cupsRasterReadHeader2 = linked.cupsRasterReadHeader2;
  g_binding.cupsRasterOpen = linked.cupsRasterOpen;
  g_binding.cupsImageHandle = nullptr;
  if (h) dlclose(h);
}

}  // namespace rf
