#include "app_paths.h"

#include <unistd.h>

#include <climits>

namespace tpa {

namespace {

bool exists(const std::string& path, int mode) { return access(path.c_str(), mode) == 0; }

AppPaths find_paths() {
  AppPaths p{TESVEL_INSTALLED_FILTER, TESVEL_INSTALLED_PPD_DIR, TESVEL_GHOSTSCRIPT};
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return p;
  self[n] = '\0';
  std::string dir(self);
  dir.resize(dir.rfind('/'));
  // A build tree keeps every program in <build>/bin and every PPD in
  // <build>/ppd; an installed application has neither beside it.
  if (exists(dir + "/rasterfilter", X_OK) && exists(dir + "/../ppd", R_OK | X_OK)) {
    p.filter = dir + "/rasterfilter";
    p.ppdDir = dir + "/../ppd";
  }
  return p;
}

}  // namespace

const AppPaths& appPaths() {
  static const AppPaths paths = find_paths();
  return paths;
}

std::string ppdPathFor(const rf::ModelInfo& model) { return appPaths().ppdDir + "/" + model.ppdName; }

}  // namespace tpa
