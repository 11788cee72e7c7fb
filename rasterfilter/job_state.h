// Job-wide state of rasterfilter: one struct, one instance, one reset.
// Members whose fresh value is not 0 carry it as an initializer, so the
// state is right even before the first resetJobState().
// The signal handlers read and write the volatile sig_atomic_t members only.
#pragma once

#include <csignal>
#include <cstdint>
#include <vector>

namespace rf {

// Where each page begins in a store that is replayed from its start, so a
// replay stopped by SIGTERM can still end on a whole page.
struct StoredPageStarts {
  int lastPage = 0;              // the page the last block belonged to
  int64_t bytes = 0;             // bytes stored so far
  std::vector<int64_t> starts;   // offset of each page's first byte
  void add(int page, size_t length) {
    if (page != lastPage) starts.push_back(bytes), lastPage = page;
    bytes += static_cast<int64_t>(length);
  }
  void clear() { *this = StoredPageStarts(); }
};

struct JobState {
  int pageCount;                          // pages read so far (1-based while a page is produced)
  volatile std::sig_atomic_t cancelRequested;  // set by SIGTERM
  volatile std::sig_atomic_t outputBusy = 1;     // 1 while writers run: the keep-alive timer stays silent
  volatile std::sig_atomic_t modelIsListA;     // cached ModelListA test of modelName, for the handlers
  volatile std::sig_atomic_t stdoutFailed;     // a write to the printer failed: the job is over
  int storeFailed;                        // a page-store write failed: the stores are incomplete
  int stdoutEnabled = 1;                  // 0: writes reach the page stores only
  int dpiMode;                            // ModelListA: 1 = 600 dpi, 2 = 1200 dpi; others 0
  char modelName[1024];                   // the PPD's ModelName
  int copyStoreFd;                        // page stores; 0 = not open
  int oddPageStoreFd;
  int evenPageStoreFd;
  std::vector<int64_t> evenPageSizes;     // bytes of each stored even page; grows as needed
  StoredPageStarts copyStorePages;        // page starts in the copy and odd stores
  StoredPageStarts oddStorePages;
  char errorText[1024];                   // failure text shared by all writers
  uint8_t cmsLoaded;                      // colour-management library loaded
  int blankSuppress;                      // 0/2 disabled, 1 printer setting, 3 enabled
  uint64_t dotCount;                      // black dots of the current page (halftoning)
  uint8_t imageChecksum;                  // byte sum of the last compressed band + UEL_CMD_C
  int outputFd = 1;                       // the printer stream; standard output, tests point it elsewhere
  int diagFd = 2;                         // messages for CUPS; standard error, tests point it elsewhere
  // The printer's timings: the keep-alive period and the pause at the end
  // of a manual-duplex job.  Only in-process runs (fuzzing) set them to 0.
  int keepAliveSeconds = 10;
  int manualDuplexWaitSeconds = 10;
};

extern JobState g_job;

// Back to the state of a fresh process (every test fixture calls this).
void resetJobState();

}  // namespace rf
