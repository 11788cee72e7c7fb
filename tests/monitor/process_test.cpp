// jobwrapper as a whole, watched by its status thread.  The device URI
// comes from a real cupsd's destination list.  USB: the fake libusb is
// preloaded into jobwrapper, which runs as the test's child.  Network: the
// job goes through cupsd, pstops, jobwrapper and CUPS's socket backend to
// the fake printer's data port, while the fake agent answers the status
// queries; against a misbehaving agent jobwrapper runs as the test's child.
// The tests that start jobwrapper themselves run its test build at a test
// pace (TESVEL_MONITOR_PACE), and run again against its ThreadSanitizer
// build (monitor.tsan.process); through cupsd the shipped program runs at
// the printers' pace.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <cstdlib>
#include <string>
#include <vector>

#include "cupsd_harness.h"
#include "fake_printer.h"
#include "jw_test_support.h"
#include "pjl_header.h"

using monitortest::Clock;
using monitortest::waitUntil;
using testing_support::JobState;

namespace {

// The program under test: jobwrapper's test build, or its ThreadSanitizer
// build, which must end with status 0 and so fails the test on any report.
#ifndef JOBWRAPPER_PROGRAM
#define JOBWRAPPER_PROGRAM "jobwrapper_testpaths"
#endif
const std::string kProgram = JOBWRAPPER_PROGRAM;
const std::string kTsanOptions = "TSAN_OPTIONS=halt_on_error=1:exitcode=66";

// The monitor's pace for a child: turn, keep-alive, USB hold and reply
// wait in milliseconds.  kLongMs is a wait no test sits out: a job whose
// end waited for it would show.
constexpr int kLongMs = 120 * 1000;
constexpr double kCutWithin = kLongMs / 1000.0 / 4;
std::string paceEnv(int turnMs, int keepAliveMs, int replyWaitMs) {
  return "TESVEL_MONITOR_PACE=" + std::to_string(turnMs) + "," + std::to_string(keepAliveMs) +
         ",20," + std::to_string(replyWaitMs);
}

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

const std::string kTrailer(jw::kCancelTrailer, jw::kCancelTrailerLength);
constexpr int kPages = 400;

std::string hostName() {
  char host[256] = "";
  gethostname(host, sizeof host);
  return host;
}

// A DSC PostScript job of kPages pages, about 21 KB each.  Its 8 MB are
// more than the pipes and socket buffers between jobwrapper and a printer
// that stops reading can hold (on loopback the sender's buffer alone may
// grow to 4 MB), so the job waits for the printer.
std::string postScriptJob(int pages = kPages) {
  std::string ps = "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 595 842\n%%Pages: " +
                   std::to_string(pages) + "\n%%EndComments\n%%BeginProlog\n%%EndProlog\n"
                   "%%BeginSetup\n/Courier findfont 8 scalefont setfont\n%%EndSetup\n";
  for (int p = 1; p <= pages; ++p) {
    ps += "%%Page: " + std::to_string(p) + " " + std::to_string(p) + "\n";
    for (int line = 0; line < 100; ++line)
      ps += "36 " + std::to_string(800 - 8 * line) + " moveto (page " + std::to_string(p) +
            " line " + std::to_string(line) + " " + std::string(170, 'x') + ") show\n";
    ps += "showpage\n%%PageTrailer\n";
  }
  return ps + "%%Trailer\n%%EOF\n";
}

// The job as CUPS hands it to jobwrapper: the PJL job header around it.
std::string pjlJob(int pages = kPages) {
  return "\x1b%-12345X@PJL JOB\n@PJL JOB NAME = \"monitored\"\n@PJL ENTER LANGUAGE = "
         "POSTSCRIPT\n" + postScriptJob(pages) + "\x1b%-12345X@PJL EOJ\n\x1b%-12345X";
}

bool endsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// A job cut by the status thread: the trailer right behind a whole page,
// before the last one.
void expectCutAtPageBoundary(const std::string& out) {
  ASSERT_TRUE(endsWith(out, kTrailer)) << out.substr(out.size() > 200 ? out.size() - 200 : 0);
  std::string sent = out.substr(0, out.size() - kTrailer.size());
  EXPECT_TRUE(endsWith(sent, "%%PageTrailer\n")) << sent.substr(sent.size() - 100);
  EXPECT_LT(jwtest::countOf(sent, "\n%%Page: "), static_cast<size_t>(kPages));
}

void expectWhole(const std::string& out, int pages = kPages) {
  EXPECT_EQ(jwtest::countOf(out, "\n%%Page: "), static_cast<size_t>(pages));
  EXPECT_EQ(out.find(kTrailer), std::string::npos);
  EXPECT_TRUE(endsWith(out, "\x1b%-12345X")) << "the job's own end";
}

class MonitorProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(agent.listening()) << "UDP port 161 needs root";
    testing_support::CupsdSetup setup;
    setup.filters = {jwtest::binPath("jobwrapper")};
    setup.systemBackends = {"socket", "usb"};
    cupsd = std::make_unique<testing_support::PrivateCupsd>(setup);
    ASSERT_TRUE(cupsd->ready()) << cupsd->daemonOutput();
  }
  void TearDown() override { EXPECT_EQ(agent.malformed(), 0); }

  void addQueue(const std::string& uri) {
    testing_support::ProcessResult r = cupsd->addPrinter("tesvel", uri, jwtest::ppdPath("tp5010"));
    ASSERT_EQ(r.exitStatus, 0) << r.err;
  }

  monitortest::FakeSnmpAgent agent;
  std::unique_ptr<testing_support::PrivateCupsd> cupsd;
  jwtest::TempDir dir;
};

// --- USB ----------------------------------------------------------------

class UsbProcessTest : public MonitorProcessTest {
 protected:
  jwtest::ProcessOptions options(const std::string& devices) {
    jwtest::ProcessOptions o;
    o.argv0 = "tesvel";
    std::string asan = getenv("ASAN_OPTIONS") != nullptr ? getenv("ASAN_OPTIONS") : "";
    o.env = {"PPD=" + jwtest::ppdPath("tp5010"), "TMPDIR=" + dir.path(),
             "CUPS_SERVER=" + cupsd->socket(), "LD_PRELOAD=" FAKE_LIBUSB,
             // The preloaded library comes before the sanitizer runtime.
             "ASAN_OPTIONS=" + asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0",
             "FAKE_USB_DEVICES=" + devices, "FAKE_USB_LOG=" + dir.file("usb.log"),
             "FAKE_USB_STATUS=" + dir.file("status"), kTsanOptions, paceEnv(20, 20, 500)};
    return o;
  }
  std::vector<std::string> argv() {
    jwtest::writeFile(dir.file("job.ps"), pjlJob());
    return {jwtest::binPath(kProgram), "42", "alice", "t", "1", "PageSize=A4",
            dir.file("job.ps")};
  }
  std::string usbLog() const { return jwtest::readFile(dir.file("usb.log")); }

  // Holds the output until the printer has been asked `reads` times.
  std::string runHeld(const std::string& devices, int reads, int* exitStatus, std::string* err) {
    jwtest::Child child(argv(), options(devices));
    std::string out = child.read(4096);
    EXPECT_TRUE(waitUntil([&] { return jwtest::countOf(usbLog(), "transfer") >= size_t(reads); },
                          5))
        << child.errText();
    out += child.readToEnd();
    *exitStatus = child.wait();
    *err = child.errText();
    return out;
  }
};

TEST_F(UsbProcessTest, TheSerialInTheUriPicksTheDeviceAndItsCancelEndsTheJob) {
  addQueue("usb://Tesvel/TP5010%20Series?serial=SN12345");
  // Device 0 has no serial string, device 1 another serial, device 2 an
  // empty one (which names any printer); device 3's serial occurs in the
  // URI, devices 4 and 5 have the URI's serial: each better match displaces
  // the one held, and the first exact one ends the search.
  const std::string devices = "0:SN12345,5:XYZ,1:,3:SN1234,2:SN12345,6:SN12345";

  // A status read that fails is no cancel.
  int status = -1;
  std::string err;
  std::string out = runHeld(devices, 2, &status, &err);
  EXPECT_EQ(status, 0);
  EXPECT_NE(err.find("uri:usb://Tesvel/TP5010%20Series?serial=SN12345,jobid:42"),
            std::string::npos) << err;
  EXPECT_NE(err.find("libusb find device handle\nStatus_query::handle yes\n"), std::string::npos);
  EXPECT_NE(err.find("libusb_control_transfer fail (code=-7)\n"), std::string::npos);
  expectWhole(out);
  std::string log = usbLog();
  EXPECT_TRUE(log.rfind("init\nopen 0\nclose 0\nopen 1\nclose 1\nopen 2\nopen 3\nclose 2\n"
                        "open 4\nclose 3\ntransfer 4 193 0 0 0 1024 2000\n", 0) == 0)
      << log;
  EXPECT_TRUE(endsWith(log, "close 4\nexit\n")) << "the job's end releases the printer";

  // A printer whose serial reads back empty is watched: the job is
  // cancelled on its panel.
  unlink(dir.file("usb.log").c_str());
  jwtest::writeFile(dir.file("status"), std::string("\x06\x00\x00\x00", 4));
  out = runHeld("0:SN12345,5:XYZ,1:", 1, &status, &err);
  EXPECT_EQ(status, 0);
  EXPECT_NE(usbLog().find("open 2\ntransfer 2 "), std::string::npos) << usbLog();
  expectCutAtPageBoundary(out);
}

TEST_F(UsbProcessTest, NoMatchingDeviceOrAnOverlongUriLeavesTheJobUnwatched) {
  addQueue("usb://Tesvel/TP5010%20Series?serial=SN12345");
  jwtest::ProcessResult r = jwtest::runProcess(argv(), options("0:SN12345,4:OTHER"));
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.err.find("querythread::handle is null\n"), std::string::npos) << r.err;
  expectWhole(r.out);
  EXPECT_TRUE(endsWith(usbLog(), "close 1\nexit\n")) << usbLog();

  // A device URI too long for the status thread's buffer is not cut short
  // (a cut URI could name another printer): the job goes unwatched.
  unlink(dir.file("usb.log").c_str());
  addQueue("usb://Tesvel/TP5010%20Series?serial=SN12345&x=" + std::string(220, 'x'));
  r = jwtest::runProcess(argv(), options("3:SN12345"));
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.err.find("FindDeviceUri::device uri longer than 255, job not monitored\n"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("querythread::no device uri, job not monitored\n"), std::string::npos);
  expectWhole(r.out);
  EXPECT_EQ(usbLog(), "") << "the printer is not opened";
}

// --- Network, through cupsd -------------------------------------------------

class NetworkProcessTest : public MonitorProcessTest {
 protected:
  void SetUp() override {
    MonitorProcessTest::SetUp();
    if (HasFatalFailure()) return;
    addQueue("socket://" + agent.host() + ":" + std::to_string(port.port()));
    jwtest::writeFile(dir.file("job.ps"), postScriptJob());
    chmod(dir.path().c_str(), 0755);  // cupsd reads the file as the submitting user
  }

  // Submits the job with the data port held, so that the job waits for
  // the printer, until the status thread has asked the agent once.
  int submitHeld() {
    port.hold(true);
    int before = agent.getRequests();
    int id = cupsd->submit("tesvel", dir.file("job.ps"));
    EXPECT_GT(id, 0);
    EXPECT_TRUE(waitUntil([&] { return agent.getRequests() > before; }, 20))
        << cupsd->jobLog(id);
    return id;
  }

  monitortest::FakeDataPort port{agent.host()};
};

TEST_F(NetworkProcessTest, AJobPrintsWholeUnlessThePrinterCancelsItForThisHost) {
  // The printer says nothing, then reports another machine's job cancelled.
  for (int job = 0; job < 2; ++job) {
    if (job == 1) agent.answer(0x86, "another-host");
    int id = submitHeld();
    port.hold(false);
    // However slow the build, the job is over when its data is.
    ASSERT_TRUE(port.waitForJobs(job + 1, 20)) << cupsd->jobLog(id);
    expectWhole(port.job(job));
    EXPECT_EQ(cupsd->waitForJob(id, testing_support::deadlineSeconds(20)), JobState::Completed)
        << cupsd->jobLog(id);
  }
  std::string log = cupsd->jobLog(1);
  EXPECT_NE(log.find("uri:socket://" + agent.host() + ":" + std::to_string(port.port())), std::string::npos)
      << log;
}

TEST_F(NetworkProcessTest, ACancelOnThePrinterEndsTheJobAtThePageAfterTheNextQuery) {
  agent.answer(0x03, hostName());  // printing
  int id = submitHeld();
  agent.answer(0x86, hostName());
  int asked = agent.getRequests();
  // The job stays held until the status thread has been told of the cancel
  // (the agent counts a request before answering it).
  EXPECT_TRUE(waitUntil([&] { return agent.getRequests() > asked; }, 20)) << cupsd->jobLog(id);
  port.hold(false);
  ASSERT_TRUE(port.waitForJobs(1, 20)) << cupsd->jobLog(id);
  expectCutAtPageBoundary(port.job(0));
  EXPECT_EQ(cupsd->waitForJob(id, testing_support::deadlineSeconds(20)), JobState::Completed)
      << "exit status 0";
}

// --- A broken or hostile SNMP agent ----------------------------------------

// jobwrapper as CUPS starts it for a network queue, on its own: its output
// pipe is the printer's data link, and the test holds it until the status
// thread has had the agent's answer.  The thread asks every 100 ms and
// waits for a reply far longer than the test.
TEST_F(MonitorProcessTest, NoGarbledOrForgedReplyCancelsTheJobOrHoldsItsEndBack) {
  using How = monitortest::FakeSnmpAgent::Misbehaviour;
  constexpr int kSmallJob = 40;  // about 850 KB: far more than a pipe holds
  addQueue("socket://" + agent.host() + ":9100");
  jwtest::writeFile(dir.file("job.ps"), pjlJob(kSmallJob));
  const std::vector<std::string> argv = {jwtest::binPath(kProgram), "42", "alice", "t", "1",
                                         "PageSize=A4", dir.file("job.ps")};
  jwtest::ProcessOptions o;
  o.argv0 = "tesvel";
  o.env = {"PPD=" + jwtest::ppdPath("tp5010"), "TMPDIR=" + dir.path(),
           "CUPS_SERVER=" + cupsd->socket(), kTsanOptions, paceEnv(20, 5000, kLongMs)};
  // What the status thread writes once it has taken the answer in; a
  // silent agent leaves the thread waiting for one when the job ends.
  const struct {
    How how;
    std::string seen;
  } cases[] = {
      {How::kNone, ""},
      {How::kOneByte, "nRecv = 1\n"},
      {How::kTail59, "nRecv = 59\n"},
      {How::kGarbage1024, "nRecv = 1024\n"},
      {How::kOtherAddress, "<SNMP> datagram from " + agent.otherHost() + ":161 ignored, not the printer\n"},
      {How::kOtherPort, "ignored, not the printer\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.how));
    agent.misbehave(c.how, hostName());
    int asked = agent.getRequests();
    jwtest::Child child(argv, o);
    std::string out = child.read(4096);
    ASSERT_TRUE(waitUntil([&] { return agent.getRequests() > asked; }, 5)) << child.errText();
    if (!c.seen.empty()) {
      EXPECT_TRUE(waitUntil([&] { return child.errText().find(c.seen) != std::string::npos; }, 3))
          << child.errText();
    }
    auto released = Clock::now();
    out += child.readToEnd();
    EXPECT_EQ(child.wait(), 0) << child.errText();
    EXPECT_LT(secondsSince(released), kCutWithin)
        << "the status thread ends with the job, even in a reply wait";
    expectWhole(out, kSmallJob);
  }
}

}  // namespace

namespace {

// --- The colour road's keep-alive ------------------------------------------

TEST(KeepAliveProcessTest, TheColourRoadKeepsTheLinkUpWhileCopyingAndJoinsAtTheEnd) {
  monitortest::FakeSnmpAgent agent;
  ASSERT_TRUE(agent.listening()) << "UDP port 161 needs root";
  jwtest::TempDir dir;
  std::string pdf = jwtest::makePdf(dir.path(), 30);
  std::vector<std::string> argv = {jwtest::binPath(kProgram), "42", "alice", "t", "1", "", pdf};
  jwtest::ProcessOptions o;
  o.argv0 = "tesvel";
  o.env = {"PPD=" + jwtest::ppdPath("tpc8010"), "TMPDIR=" + dir.path(), kTsanOptions,
           paceEnv(500, 200, 2000), "DEVICE_URI=socket://" + agent.host() + ":9100"};
  int sent = 0;
  {
    // The output is held until the thread has sent three times.
    jwtest::Child child(argv, o);
    std::string out = child.read(4096);
    EXPECT_TRUE(waitUntil([&] { return agent.setRequests() >= 3; }, 30)) << child.errText();
    out += child.readToEnd();
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(jwtest::countOf(out, "\n%%Page: "), 30u) << child.errText();
    EXPECT_NE(child.errText().find("End::g_bDammyEnd = 1\n"), std::string::npos);
    sent = agent.setRequests();
    EXPECT_GE(sent, 3);
  }
  // Without DEVICE_URI and a queue name without ":" there is no keep-alive.
  o.env.pop_back();
  jwtest::ProcessResult r = jwtest::runProcess(argv, o);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.err.find("argv error\n"), std::string::npos) << r.err;
  EXPECT_EQ(jwtest::countOf(r.out, "\n%%Page: "), 30u) << "the job still prints";
  EXPECT_EQ(agent.setRequests(), sent);
  EXPECT_EQ(agent.malformed(), 0);
}

}  // namespace
