#include "monitor.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "wrapper_state.h"

namespace jw {

void FindDeviceUri(const char* /*queueName*/, char* uri, size_t uriSize) {
  if (uri == nullptr || uriSize == 0) return;
  const char* env = std::getenv("DEVICE_URI");
  snprintf(uri, uriSize < 256 ? uriSize : 256, "%s", env != nullptr ? env : "");
}

void Printer_cancle_query_tread(cancel_query_arg* /*arg*/) {
  g_wrap.queryThread = 0;
  fprintf(stderr, "DEBUG: printer status monitor not available yet; job not monitored\n");
}

void CreateDammyThread(const char* const* /*argv*/) {
  g_wrap.dummyThread = 0;
  fprintf(stderr, "DEBUG: keep-alive monitor not available yet; job not monitored\n");
}

void pthread_dammy_join() {
  g_wrap.g_bDammyEnd.store(1);
  fprintf(stderr, "End::g_bDammyEnd = %d\n", g_wrap.g_bDammyEnd.load());
  if (g_wrap.dummyThread == 0) return;
  if (pthread_join(g_wrap.dummyThread, nullptr) != 0) {
    usleep(500 * 1000);
    pthread_cancel(g_wrap.dummyThread);
    fprintf(stderr, "gstopcl::pthread_dammy_join error value is %d \n", errno);
  }
  g_wrap.dummyThread = 0;
}

}  // namespace jw
