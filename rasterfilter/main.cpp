// rasterfilter: CUPS raster in, printer job out.
//   rasterfilter job-id user title copies options [file]
#include "job_loop.h"
#include "job_state.h"

int main(int argc, char* argv[]) {
  rf::resetJobState();
  return rf::runRasterJob(argc, argv);
}
