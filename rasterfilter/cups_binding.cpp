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

// Points one entry at the library's function of its name, or at the linked
// function when there is no library or it lacks the name: no entry is ever
// left null.
template <typename Fn>
void bind(void* handle, const char* name, Fn CupsBinding::*slot) {
  static const CupsBinding linked = linked_binding();
  void* sym = handle ? dlsym(handle, name) : nullptr;
  g_binding.*slot = sym ? reinterpret_cast<Fn>(sym) : linked.*slot;
}

void bind_cups(void* h) {
  bind(h, "ppdClose", &CupsBinding::ppdClose);
  bind(h, "ppdOpenFile", &CupsBinding::ppdOpenFile);
  bind(h, "ppdLocalizeIPPReason", &CupsBinding::ppdLocalizeIPPReason);
  bind(h, "cupsGetOption", &CupsBinding::cupsGetOption);
  bind(h, "cupsParseOptions", &CupsBinding::cupsParseOptions);
  bind(h, "cupsTempFd", &CupsBinding::cupsTempFd);
  bind(h, "ppdFindOption", &CupsBinding::ppdFindOption);
}

void bind_cups_image(void* h) {
  bind(h, "cupsRasterReadPixels", &CupsBinding::cupsRasterReadPixels);
  bind(h, "cupsRasterClose", &CupsBinding::cupsRasterClose);
  bind(h, "cupsRasterReadHeader2", &CupsBinding::cupsRasterReadHeader2);
  bind(h, "cupsRasterOpen", &CupsBinding::cupsRasterOpen);
}

// Closes a held handle, opens the library again and binds its group.
int load(void* CupsBinding::*handle, const char* path, void (*bindGroup)(void*)) {
  if (g_binding.*handle) {
    bindGroup(nullptr);  // never leave an entry pointing into a closed library
    dlclose(g_binding.*handle);
    g_binding.*handle = nullptr;
  }
  void* h = dlopen(path, RTLD_LAZY);
  g_binding.*handle = h;
  bindGroup(h);
  return h ? 1 : 0;
}

void unload(void* CupsBinding::*handle, void (*bindGroup)(void*)) {
  void* h = g_binding.*handle;
  bindGroup(nullptr);
  g_binding.*handle = nullptr;
  if (h) dlclose(h);
}

}  // namespace

CupsBinding& cups() { return g_binding; }

int loadCupsLibraryFrom(const char* path) { return load(&CupsBinding::cupsHandle, path, bind_cups); }
int loadCupsImageLibraryFrom(const char* path) {
  return load(&CupsBinding::cupsImageHandle, path, bind_cups_image);
}
int loadCupsLibrary() { return loadCupsLibraryFrom(kCupsLibraryPath); }
int loadCupsImageLibrary() { return loadCupsImageLibraryFrom(kCupsImageLibraryPath); }

void unloadCupsLibrary() { unload(&CupsBinding::cupsHandle, bind_cups); }
void unloadCupsImageLibrary() { unload(&CupsBinding::cupsImageHandle, bind_cups_image); }

}  // namespace rf
