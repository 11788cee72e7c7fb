// Where the application finds what it runs: the filter, the models' PPDs
// and Ghostscript.  An installed application uses the install locations;
// one started from a build tree uses the filter and PPDs built beside it.
#pragma once

#include <string>

#include "model_catalog.h"

namespace tpa {

struct AppPaths {
  std::string filter;       // rasterfilter
  std::string ppdDir;       // the compiled PPDs
  std::string ghostscript;  // gs
};

// Found once, from the location of the running program.
const AppPaths& appPaths();

std::string ppdPathFor(const rf::ModelInfo& model);

}  // namespace tpa
