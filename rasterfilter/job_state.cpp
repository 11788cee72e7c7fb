#include "job_state.h"

#include <unistd.h>

#include <cstring>

namespace rf {

JobState g_job;

void resetJobState() {
  g_job.pageCount = 0;
  g_job.cancelRequested = 0;
  g_job.outputBusy = 1;
  g_job.modelIsListA = 0;
  g_job.stdoutFailed = 0;
  g_job.storeFailed = 0;
  g_job.stdoutEnabled = 1;
  g_job.dpiMode = 0;
  std::memset(g_job.modelName, 0, sizeof g_job.modelName);
  g_job.copyStoreFd = 0;
  g_job.oddPageStoreFd = 0;
  g_job.evenPageStoreFd = 0;
  g_job.evenPageSizes.clear();
  g_job.copyStorePages.clear();
  g_job.oddStorePages.clear();
  std::memset(g_job.errorText, 0, sizeof g_job.errorText);
  g_job.cmsLoaded = 0;
  g_job.blankSuppress = 0;
  g_job.dotCount = 0;
  g_job.imageChecksum = 0;
  g_job.outputFd = STDOUT_FILENO;
  g_job.diagFd = STDERR_FILENO;
  g_job.keepAliveSeconds = 10;
  g_job.manualDuplexWaitSeconds = 10;
}

}  // namespace rf
