// The monitor threads in-process, with the fake SNMP agent and the fake
// USB library linked in place of libusb.  This suite also runs built with
// ThreadSanitizer (monitor_tsan).  The threads run at a test pace: what is
// checked is the order and the count of what they do, and that a stop cuts
// a wait made far longer than any test could wait out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <string>

#include "fake_printer.h"
#include "monitor.h"
#include "monitor_wait.h"
#include "test_support.h"
#include "wrapper_state.h"

using monitortest::Clock;
using monitortest::waitUntil;

namespace {

// A wait no test sits out: a stop that does not cut it shows.
constexpr int kLongMs = 120 * 1000;
constexpr double kCutWithin = kLongMs / 1000.0 / 4;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

jw::MonitorPace pace(int turnMs, int keepAliveMs, int usbHoldMs, int replyWaitMs) {
  jw::MonitorPace p;
  p.turnMs = turnMs;
  p.keepAliveMs = keepAliveMs;
  p.usbHoldMs = usbHoldMs;
  p.replyWaitMs = replyWaitMs;
  return p;
}

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(agent.listening()) << "UDP port 161 needs root";
    jw::resetWrapperState();
    jw::set_monitor_pace(pace(20, 50, 20, 500));
    setenv("FAKE_USB_LOG", dir.file("usb.log").c_str(), 1);
    setenv("FAKE_USB_STATUS", dir.file("status").c_str(), 1);
    setenv("FAKE_USB_DEVICES", "0:,4:SN77", 1);
    unsetenv("DEVICE_URI");
    snprintf(arg.owner, sizeof arg.owner, "%s", "builder-7");
  }
  void TearDown() override {
    jw::stop_status_thread();
    jw::pthread_dammy_join();
    jw::set_monitor_pace(jw::MonitorPace());
    EXPECT_EQ(agent.malformed(), 0);
  }
  bool cancelled() const { return jw::g_wrap.cancel_job.load() == 1; }
  std::string usbLog() const { return testing_support::readFile(dir.file("usb.log")); }
  // The printer: the agent's address, its data port never reached.
  std::string printerUri() const { return "socket://" + agent.host() + ":9100"; }
  void start(const std::string& uri) {
    snprintf(arg.uri, sizeof arg.uri, "%s", uri.c_str());
    jw::Printer_cancle_query_tread(&arg);
    ASSERT_NE(jw::g_wrap.queryThread, 0u);
  }
  void startKeepAlive(const std::string& uri) {
    setenv("DEVICE_URI", uri.c_str(), 1);
    const char* argv[7] = {"tesvel"};
    jw::CreateDammyThread(argv);
    ASSERT_NE(jw::g_wrap.dummyThread, 0u);
  }

  monitortest::FakeSnmpAgent agent;
  testing_support::TempDir dir;
  jw::cancel_query_arg arg{};
};

TEST_F(ThreadTest, ANetworkCancelForOurOwnerIsSeenAtTheNextQueryAndEndsTheThread) {
  agent.answer(0x86, "someone-else");
  start(printerUri());
  ASSERT_TRUE(waitUntil([&] { return agent.getRequests() >= 2; }, 4));
  EXPECT_FALSE(cancelled()) << "another machine's job was cancelled";
  agent.answer(0x86, "builder-7");
  int asked = agent.getRequests();
  ASSERT_TRUE(waitUntil([&] { return cancelled(); }, 4));
  jw::stop_status_thread();
  // The agent counts a request before answering it: request asked + 1 got
  // the cancel at the latest, and the thread asked nothing after that.
  EXPECT_LE(agent.getRequests(), asked + 1);
}

TEST_F(ThreadTest, TheStatusThreadEndsAtOnceWhenTheJobEnds) {
  // The agent stays silent: the thread waits for a reply, then pauses.
  jw::set_monitor_pace(pace(20, kLongMs, kLongMs, kLongMs));
  start(printerUri());
  ASSERT_TRUE(waitUntil([&] { return agent.getRequests() >= 1; }, 4));
  auto stop = Clock::now();
  jw::stop_status_thread();
  EXPECT_LT(secondsSince(stop), kCutWithin) << "the reply wait was sat out";
  EXPECT_EQ(agent.getRequests(), 1);
  EXPECT_FALSE(cancelled());

  jw::set_monitor_pace(pace(kLongMs, kLongMs, kLongMs, kLongMs));
  start("usb://Tesvel/TP5010?serial=SN77");
  ASSERT_TRUE(waitUntil([&] { return usbLog().find("open 1\n") != std::string::npos; }, 3));
  stop = Clock::now();
  jw::stop_status_thread();
  EXPECT_LT(secondsSince(stop), kCutWithin) << "the pause was sat out";
  EXPECT_TRUE(usbLog().find("transfer") == std::string::npos) << usbLog();
  EXPECT_NE(usbLog().find("close 1\nexit\n"), std::string::npos) << usbLog();
}

TEST_F(ThreadTest, AUsbStatusOfSixCancelsAndAFailedReadDoesNot) {
  start("usb://Tesvel/TP5010?serial=SN77");
  // No status file: every transfer times out.
  ASSERT_TRUE(waitUntil([&] { return testing_support::countOf(usbLog(), "transfer") >= 2; }, 4));
  EXPECT_FALSE(cancelled());
  EXPECT_NE(usbLog().find("open 1\ntransfer 1 193 0 0 0 1024 2000\n"), std::string::npos)
      << usbLog();
  testing_support::writeFile(dir.file("status"), std::string("\x06\x00\x00\x00", 4));
  ASSERT_TRUE(waitUntil([&] { return cancelled(); }, 2));
  ASSERT_TRUE(waitUntil([&] { return usbLog().find("exit\n") != std::string::npos; }, 2))
      << "the thread releases the printer when it ends";
}

TEST_F(ThreadTest, TheKeepAliveSendsAfterEveryPauseAndIsJoinedAtOnce) {
  startKeepAlive(printerUri());
  ASSERT_TRUE(waitUntil([&] { return agent.setRequests() >= 3; }, 4));
  jw::pthread_dammy_join();
  EXPECT_EQ(jw::g_wrap.dummyThread, 0u);
  int sent = agent.setRequests();

  // One SetRequest, then a pause far longer than the test: the join cuts it.
  jw::resetWrapperState();
  jw::set_monitor_pace(pace(20, kLongMs, 20, 500));
  startKeepAlive(printerUri());
  ASSERT_TRUE(waitUntil([&] { return agent.setRequests() == sent + 1; }, 4));
  auto join = Clock::now();
  jw::pthread_dammy_join();
  EXPECT_LT(secondsSince(join), kCutWithin) << "the pause was sat out";
  EXPECT_EQ(agent.setRequests(), sent + 1);
}

TEST_F(ThreadTest, AKeepAliveWithoutAHostToSendToStillPauses) {
  timespec before, after;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
  startKeepAlive("file:///dev/null");  // resolves to an empty host
  std::this_thread::sleep_for(std::chrono::seconds(1));
  jw::pthread_dammy_join();
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
  double cpu = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
  EXPECT_LT(cpu, 0.3) << "the loop spun";
  EXPECT_EQ(agent.setRequests(), 0);
}

TEST_F(ThreadTest, TheKeepAliveNeedsAUriAndEndsWithACancelledJob) {
  const char* noUri[7] = {"tesvel"};
  testing::internal::CaptureStderr();
  jw::CreateDammyThread(noUri);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("argv error\n"), std::string::npos);
  EXPECT_EQ(jw::g_wrap.dummyThread, 0u);

  // argv[0] with a ":" serves as the URI; over USB the device is held open.
  const char* usbQueue[7] = {"usb://Tesvel/TP5010?serial=SN77"};
  jw::CreateDammyThread(usbQueue);
  ASSERT_NE(jw::g_wrap.dummyThread, 0u);
  ASSERT_TRUE(waitUntil([&] { return usbLog().find("open 1\n") != std::string::npos; }, 2));
  jw::g_wrap.cancel_job.store(1);
  ASSERT_TRUE(waitUntil([&] { return jw::g_wrap.g_bDammyEnd.load() == 1; }, 2));
  jw::pthread_dammy_join();
  EXPECT_EQ(usbLog().find("transfer"), std::string::npos) << "nothing is sent to hold the link";
  EXPECT_NE(usbLog().find("close 1\nexit\n"), std::string::npos) << usbLog();
}

}  // namespace
