// jobwrapper: CUPS filter of the PostScript models.  PostScript with a PJL
// job header in (PDF for the colour group), the printer job out.
#include <fcntl.h>

#include <cstdio>
#include <cstdlib>

#include "conversion.h"
#include "job_flow.h"
#include "monitor_wait.h"

#ifdef JW_TEST_PATHS
namespace {
// "turn,keep-alive,USB hold,reply wait" in milliseconds: the monitor
// tests' faster (or slower) pace.  Anything else leaves the printers' pace.
void set_test_pace(const char* text) {
  jw::MonitorPace pace;
  if (sscanf(text, "%d,%d,%d,%d", &pace.turnMs, &pace.keepAliveMs, &pace.usbHoldMs,
             &pace.replyWaitMs) == 4 &&
      pace.turnMs > 0 && pace.keepAliveMs > 0 && pace.usbHoldMs > 0 && pace.replyWaitMs > 0)
    jw::set_monitor_pace(pace);
}
}  // namespace
#endif

int main(int argc, char** argv) {
  // Standard descriptors the filter was started without are taken by
  // /dev/null, read-only: no file opened later gets their numbers, and
  // printer data written to a missing standard output fails as it should.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  setvbuf(stderr, nullptr, _IONBF, 0);
#ifdef JW_TEST_PATHS
  // jobwrapper_testpaths only: the tests put a failing or hanging pdftops
  // in the place of the CUPS filter, and set the monitor's pace.  The
  // shipped program has no such way in.
  if (const char* pdftops = std::getenv("TESVEL_PDFTOPS")) jw::set_pdftops_path(pdftops);
  if (const char* pace = std::getenv("TESVEL_MONITOR_PACE")) set_test_pace(pace);
#endif
  jw::install_sigterm_handler();
  return jw::run_job(argc, argv);
}
