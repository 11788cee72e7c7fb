// rasterfilter: CUPS raster in, printer job out.
//   rasterfilter job-id user title copies options [file]
#include <fcntl.h>

#include "job_loop.h"
#include "job_state.h"

int main(int argc, char* argv[]) {
  // Standard descriptors the filter was started without are taken by
  // /dev/null, read-only: no file opened later gets their numbers, and
  // printer data written to a missing standard output fails as it should.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  rf::resetJobState();
  return rf::runRasterJob(argc, argv);
}
