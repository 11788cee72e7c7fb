// rasterfilter for the tests of the colour-management path: the same job,
// with the library taken from $TESVEL_CMS_LIBRARY when that is set.  The
// shipped filter only ever opens the installed library; this program lets
// the tests load the stand-in without writing to /opt.
#include <cstdlib>

#include "cms.h"
#include "job_loop.h"
#include "job_state.h"

int main(int argc, char* argv[]) {
  rf::resetJobState();
  if (const char* path = std::getenv("TESVEL_CMS_LIBRARY")) rf::setCmsLibraryPath(path);
  return rf::runRasterJob(argc, argv);
}
