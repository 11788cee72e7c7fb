// jobwrapper: CUPS filter of the PostScript models.  PostScript with a PJL
// job header in (PDF for the colour group), the printer job out.
#include <fcntl.h>

#include <cstdio>
#include <cstdlib>

#include "conversion.h"
#include "job_flow.h"

int main(int argc, char** argv) {
  // Standard descriptors the filter was started without are taken by
  // /dev/null, read-only: no file opened later gets their numbers, and
  // printer data written to a missing standard output fails as it should.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  setvbuf(stderr, nullptr, _IONBF, 0);
#ifdef JW_TEST_PATHS
  // jobwrapper_testpaths only: the tests put a failing or hanging pdftops
  // in the place of the CUPS filter.  The shipped program has no such way in.
  if (const char* pdftops = std::getenv("TESVEL_PDFTOPS")) jw::set_pdftops_path(pdftops);
#endif
  jw::install_sigterm_handler();
  return jw::run_job(argc, argv);
}
