// jobwrapper: CUPS filter of the PostScript models.  PostScript with a PJL
// job header in (PDF for the colour group), the printer job out.
#include <cstdio>

#include "job_flow.h"

int main(int argc, char** argv) {
  setvbuf(stderr, nullptr, _IONBF, 0);
  jw::install_sigterm_handler();
  return jw::run_job(argc, argv);
}
