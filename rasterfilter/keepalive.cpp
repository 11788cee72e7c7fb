#include "keepalive.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "job_state.h"
#include "model_classes.h"
#include "output_channel.h"
#include "stream_format.h"

namespace rf {

namespace {

constexpr char kTimerNoteListA[] = "TXA_TXB机型删除定时器00命令\n";
constexpr char kInsertNoteListA[] = "TXC系列机器不插入00命令\n";

bool install(int signo, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // the raster reads carry on after a tick
  return sigaction(signo, &sa, nullptr) == 0;
}

}  // namespace

void onTerminate(int) { g_job.cancelRequested = 1; }

void onKeepAliveTimer(int) {
  const int saved = errno;
  if (g_job.modelIsListA) {
    if (::write(g_job.diagFd, kTimerNoteListA, sizeof kTimerNoteListA - 1) < 0) {
      // nothing to do about a lost note
    }
  } else if (!g_job.outputBusy && !g_job.stdoutFailed) {
    // One write(2) of both bytes; stdio is not safe here.
    if (::write(g_job.outputFd, kZeroFiller, sizeof kZeroFiller) != sizeof kZeroFiller)
      g_job.stdoutFailed = 1;
  }
  errno = saved;
}

void installSignalHandlers() {
  install(SIGTERM, onTerminate);
  install(SIGPIPE, SIG_IGN);
  // A page store that reaches the file-size limit gets EFBIG from write(2),
  // which the store's error path handles, instead of ending the process.
  install(SIGXFSZ, SIG_IGN);
}

bool startKeepAliveTimer() {
  g_job.modelIsListA = isModelListA(g_job.modelName) ? 1 : 0;
  if (g_job.keepAliveSeconds <= 0) return true;
  if (!install(SIGALRM, onKeepAliveTimer)) return false;
  struct itimerval period {};
  period.it_value.tv_sec = g_job.keepAliveSeconds;
  period.it_interval.tv_sec = g_job.keepAliveSeconds;
  return setitimer(ITIMER_REAL, &period, nullptr) == 0;
}

int Insert00() {
  if (isModelListA(g_job.modelName)) {
    writeDiag(kInsertNoteListA);
    return 1;
  }
  if (SendDataToFile(kZeroFiller, sizeof kZeroFiller, 1) == 1) return 1;
  prependErrorText("Insert00() :: Send 00 00 to file Fail0 ==  \n");
  return 0;
}

}  // namespace rf
