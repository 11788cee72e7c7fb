// Job-wide state of jobwrapper: one struct, one instance, one reset.
// cancel_job and g_bDammyEnd are shared with the SIGTERM handler and the
// monitor thread, so they are lock-free atomics (safe in a signal handler
// and between threads); everything else belongs to the main thread.
#pragma once

#include <atomic>
#include <cstdint>

#include <pthread.h>

namespace jw {

struct WrapperState {
  std::atomic<int> cancel_job;    // 1 once the job is cancelled (SIGTERM or the status thread)
  std::atomic<int> g_bDammyEnd;   // stop request for the keep-alive thread
  uint8_t g_bJobControlModel;     // the printer is one of JobControlModels
  int g_nPageWidth;               // requested PageSize in points, 0 = not found
  int g_nPageHeight;
  uint8_t g_bCollate;             // collated copies requested
  int g_nCopies;                  // copies (fourth argument) when g_bCollate is set
  uint8_t g_bA5LongEdge;          // A5 fed long edge first
  pthread_t queryThread;          // status thread, 0 when none runs
  pthread_t dummyThread;          // keep-alive thread, 0 when none runs
  bool sideChannelSilent;         // a device-ID request timed out: the backend is not asked again
  int outFd;                      // where the printer job goes (standard output)
  int pagesWritten;               // page comments copied so far (for the PAGE: lines)
  int pageCopies;                 // copies the printer makes of a page: the job's count, else 1
  char lineHead[48];              // start of the line being written, while it may be a comment
  int lineHeadLen;                // bytes in lineHead; -1 once the line is of no interest
  bool outputFailed;              // a write of the printer job failed: the job did not arrive whole
};

static_assert(std::atomic<int>::is_always_lock_free,
              "cancel_job is set from a signal handler");

extern WrapperState g_wrap;

// Back to the state of a fresh process (every test fixture calls this).
void resetWrapperState();

}  // namespace jw
