#include "wrapper_state.h"

namespace jw {

WrapperState g_wrap;

void resetWrapperState() {
  g_wrap.cancel_job.store(0);
  g_wrap.g_bDammyEnd.store(0);
  g_wrap.g_bJobControlModel = 0;
  g_wrap.g_nPageWidth = 0;
  g_wrap.g_nPageHeight = 0;
  g_wrap.g_bCollate = 0;
  g_wrap.g_nCopies = 0;
  g_wrap.g_bA5LongEdge = 0;
  g_wrap.queryThread = 0;
  g_wrap.dummyThread = 0;
  g_wrap.sideChannelSilent = false;
  g_wrap.outFd = 1;
  g_wrap.pagesWritten = 0;
  g_wrap.pageCopies = 1;
  g_wrap.lineHeadLen = 0;
  g_wrap.outputFailed = false;
}

// Static initialisation gives zeros; the output descriptor must start at 1.
[[maybe_unused]] static const bool kInitialised = (resetWrapperState(), true);

}  // namespace jw
