// The zero filler, the keep-alive handler and the SIGTERM handler.
#include <sys/time.h>

#include <csignal>

#include "keepalive.h"
#include "stream_test_util.h"

namespace rf::test {
namespace {

constexpr char kModelZ[] = "Tesvel TZ3010 Series";
constexpr char kInsertNote[] = "TXC系列机器不插入00命令\n";
constexpr char kTimerNote[] = "TXA_TXB机型删除定时器00命令\n";

using KeepAlive = StreamTest;

TEST_F(KeepAlive, InsertedFillerIsPageDataAndGoesIntoTheStores) {
  Capture evenStore;
  setModel(kModelZ);
  EXPECT_EQ(Insert00(), 1);
  EXPECT_EQ(out.hexdump(), "00 00");
  // An even page of manual duplex: the filler waits in the even store.
  g_job.stdoutEnabled = 0;
  g_job.pageCount = 2;
  g_job.evenPageStoreFd = evenStore.fd();
  EXPECT_EQ(Insert00(), 1);
  EXPECT_EQ(out.hexdump(), "00 00");
  EXPECT_EQ(evenStore.hexdump(), "00 00");
  EXPECT_EQ(diag.text(), "");
}

TEST_F(KeepAlive, ListAModelsGetANoteInsteadOfFiller) {
  setModel(ModelListA.names[0]);
  EXPECT_EQ(Insert00(), 1);
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(diag.text(), kInsertNote);
}

TEST_F(KeepAlive, AFailedFillerSaysSoInFrontOfTheErrorText) {
  setModel(kModelZ);
  std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s", "older\n");
  FailingWrite::arm(out.fd(), 1);
  EXPECT_EQ(Insert00(), 0);
  EXPECT_STREQ(g_job.errorText, "Insert00() :: Send 00 00 to file Fail0 ==  \nolder\n");
}

TEST_F(KeepAlive, TimerTicksWriteFillerOnlyWhileTheDriverConverts) {
  const struct {
    const char* what;
    bool listA;
    int outputBusy, stdoutEnabled, stdoutFailed;
    std::string out, diag;
  } cases[] = {
      {"converting", false, 0, 1, 0, "00 00", ""},
      {"writing a record", false, 1, 1, 0, "", ""},
      {"even page of manual duplex", false, 0, 0, 0, "00 00", ""},
      {"printer stream gone", false, 0, 1, 1, "", ""},
      {"ModelListA model", true, 0, 1, 0, "", kTimerNote},
  };
  for (const auto& c : cases) {
    Capture o, d, store;
    resetJobState();
    g_job.outputFd = o.fd();
    g_job.diagFd = d.fd();
    g_job.modelIsListA = c.listA;
    g_job.outputBusy = c.outputBusy;
    g_job.stdoutEnabled = c.stdoutEnabled;
    g_job.stdoutFailed = c.stdoutFailed;
    g_job.pageCount = 1;
    g_job.copyStoreFd = store.fd();
    onKeepAliveTimer(SIGALRM);
    EXPECT_EQ(o.hexdump(), c.out) << c.what;
    EXPECT_EQ(d.text(), c.diag) << c.what;
    EXPECT_EQ(store.text(), "") << c.what << ": timer filler is never replayed";
  }
}

TEST_F(KeepAlive, AFillerThatCannotBeSentEndsTheJob) {
  std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  g_job.outputFd = fds[1];
  g_job.outputBusy = 0;
  onKeepAliveTimer(SIGALRM);
  EXPECT_EQ(g_job.stdoutFailed, 1);
  close(fds[1]);
  std::signal(SIGPIPE, SIG_DFL);
}

TEST_F(KeepAlive, SigtermOnlyAsksTheLoopToStopAndSigpipeIsHarmless) {
  installSignalHandlers();
  std::raise(SIGPIPE);
  EXPECT_EQ(g_job.cancelRequested, 0);
  std::raise(SIGTERM);
  EXPECT_EQ(g_job.cancelRequested, 1);
  EXPECT_EQ(out.text(), "");
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
}

TEST_F(KeepAlive, TheTimerExpiresEveryTenSeconds) {
  setModel(ModelListA.names[0]);
  ASSERT_TRUE(startKeepAliveTimer());
  itimerval now{};
  getitimer(ITIMER_REAL, &now);
  const itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  std::signal(SIGALRM, SIG_DFL);
  EXPECT_EQ(now.it_interval.tv_sec, 10);
  EXPECT_EQ(now.it_interval.tv_usec, 0);
  EXPECT_GT(now.it_value.tv_sec + now.it_value.tv_usec, 0);
  EXPECT_LE(now.it_value.tv_sec, 10);
  EXPECT_EQ(g_job.modelIsListA, 1) << "the handler needs the model test ready";
}

}  // namespace
}  // namespace rf::test
