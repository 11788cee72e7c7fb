// The Printer Application when things go wrong: a filter that dies, bad
// documents, a printer that stops reading, a full spool disk, a restart,
// a main loop that stops.
// Each case is a whole server taking real jobs; after each, the server is
// still there and the next job prints.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "app_fixture.h"

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

long resident_kb(pid_t pid) {
  std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("VmRSS:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// The server's user and system CPU time, in clock ticks.
long cpu_ticks(pid_t pid) {
  std::istringstream rest(procStat(pid));
  std::string skip;
  long utime = 0, stime = 0;
  for (int field = 3; field < 14; ++field) rest >> skip;
  rest >> utime >> stime;
  return utime + stime;
}

std::string comm_of(pid_t pid) {
  std::string s = readFile("/proc/" + std::to_string(pid) + "/comm");
  return s.substr(0, s.find('\n'));
}

class AppFaults : public OnePrinterTest {};

TEST_F(AppFaults, AFilterKilledMidJobAbortsThatJobWithTheReasonAndTheNextJobPrints) {
  const struct {
    const char* child;
    const char* message;  // how job-state-message begins
  } cases[] = {
      {"rasterfilter", "The printer driver stopped unexpectedly (signal 9 (Killed))."},
      {"gs", "The document could not be rendered (Ghostscript signal 9 (Killed))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.child);
    std::thread killer([&] {
      for (int i = 0; i < deadlineSeconds(60) * 100; ++i, sleep_ms(10)) {
        std::vector<std::string> out = dirEntries(server_.outDir("p"));
        if (out.empty() || readFile(server_.outDir("p") + "/" + out[0]).empty()) continue;
        for (pid_t child : server_.children())
          if (comm_of(child) == c.child) return (void)kill(child, SIGKILL);
      }
    });
    AppJob job = server_.print("p", file("long.pdf", makePdf(20)), "application/pdf");
    killer.join();
    EXPECT_EQ(job.state, "aborted") << job.ipptool;
    EXPECT_EQ(job.message.rfind(c.message, 0), 0u) << job.message;
  }
  expect_next_job_prints();
}

// A JPEG whose frame header claims 60000 x 60000 pixels (JPEG's limit is
// 65535; libjpeg reads up to 65500).
std::string huge_jpeg(const TempDir& dir) {
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=jpeggray", "-r10",
              "-sOutputFile=" + dir.file("small.jpg"), "-c", "showpage"},
             quiet);
  std::string jpeg = readFile(dir.file("small.jpg"));
  size_t sof = jpeg.find("\xFF\xC0");
  if (sof != std::string::npos) jpeg.replace(sof + 5, 4, "\xEA\x60\xEA\x60");  // height, width
  return jpeg;
}

TEST_F(AppFaults, BadDocumentsAreAbortedWithAClearMessageAndTheNextJobPrints) {
  cups_page_header2_t h = greyHeader(595, 842);
  h.cupsColorSpace = CUPS_CSPACE_SW;
  std::string pwg = writeRaster({{h, {0x55}}, {h, {0xAA}}}, CUPS_RASTER_WRITE_PWG);
  const struct {
    const char* what;
    std::string data;
    const char* format;
    const char* message;
  } cases[] = {
      {"corrupt PDF", "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >>\nendobj\ntrailer\n%%EOF\n",
       "application/pdf", "The document could not be rendered: its pages could not be read."},
      {"truncated PWG raster", pwg.substr(0, pwg.size() * 3 / 4), "image/pwg-raster",
       "The document ends in the middle of page 2."},
      {"JPEG claiming 60000 x 60000 pixels", huge_jpeg(dir_), "image/jpeg",
       "The picture is too large to print (60000 x 60000 pixels)."},
  };
  long before = resident_kb(server_.pid());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int id = server_.submit("p", file("bad", c.data), c.format);
    AppJob job = server_.waitForEnd("p", id, deadlineSeconds(60));
    EXPECT_EQ(job.state, "aborted") << job.ipptool;
    EXPECT_EQ(job.message, c.message);
  }
  std::string refusal;
  EXPECT_EQ(server_.submit("p", file("empty", ""), "application/pdf", &refusal), 0);
  EXPECT_NE(refusal.find("No file in request."), std::string::npos) << refusal;
  // Nothing was held on to: the server is within a few megabytes of where it was.
  EXPECT_LT(resident_kb(server_.pid()) - before, 32 * 1024);
  expect_next_job_prints(dir_.file("small.jpg"), "image/jpeg");
}

TEST_F(AppFaults, AJobToAPrinterThatStopsReadingWaitsIdleAndCancelEndsItWithinFiveSeconds) {
  DeafPrinter deaf;
  int id = start_deaf_job(deaf);
  ASSERT_GT(id, 0);
  sleep_ms(3000);  // the connection fills up
  ASSERT_EQ(server_.status("deaf", id).state, "processing");
  long before = cpu_ticks(server_.pid());
  sleep_ms(2000);
  EXPECT_LT(cpu_ticks(server_.pid()) - before, sysconf(_SC_CLK_TCK) / 5) << "the server spins while it waits";

  auto cancelled = Clock::now();
  ASSERT_EQ(server_.app({"cancel", "-d", "deaf", "-a"}).exitStatus, 0);
  AppJob job = server_.waitForEnd("deaf", id, deadlineSeconds(20));
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cancelled).count();
  EXPECT_EQ(job.state, "canceled");
  EXPECT_LE(took, deadlineSeconds(5) * 1000);
  expect_next_job_prints();
}

// Clients that ask about a job while it prints (CUPS and print dialogs
// poll) read its message as the pages change it; PAPPL 1.3 read the
// message without the job's lock, so one replaced at that moment was read
// after it was freed and the server died.  Two clients ask without pause
// through a ten-page job: they see its progress while it prints, its last
// message at its end, and the server stays.
TEST_F(AppFaults, ClientsAskingAboutAPrintingJobWithoutPauseSeeItsProgressAndItsLastMessage) {
  int id = server_.submit("p", file("ten.pdf", makePdf(10)), "application/pdf");
  ASSERT_GT(id, 0);
  std::mutex lock;
  std::set<std::string> printing;  // what they saw while it printed
  std::string last;
  auto ask = [&] {
    http_t* http = connectLoopback(server_.port());
    for (int state = 0; http != nullptr && state < IPP_JSTATE_STOPPED;) {
      ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
      ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server_.printerUri("p").c_str());
      ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
      ipp_t* resp = cupsDoRequest(http, req, "/ipp/print/p");
      if (resp == nullptr) break;
      state = ippGetInteger(ippFindAttribute(resp, "job-state", IPP_TAG_ENUM), 0);
      const char* message = ippGetString(ippFindAttribute(resp, "job-state-message", IPP_TAG_ZERO), 0, nullptr);
      std::lock_guard<std::mutex> hold(lock);
      if (state == IPP_JSTATE_PROCESSING) printing.insert(message ? message : "");
      if (state >= IPP_JSTATE_STOPPED) last = message ? message : "";
      ippDelete(resp);
    }
    httpClose(http);
  };
  std::thread first(ask), second(ask);
  first.join();
  second.join();
  ASSERT_TRUE(server_.running());
  EXPECT_EQ(server_.status("p", id).state, "completed");
  EXPECT_EQ(last, "Printed 10 pages.");
  size_t progress = 0;
  for (const std::string& m : printing) progress += m.rfind("Printing page ", 0) == 0;
  EXPECT_GE(progress, 5u) << testing::PrintToString(printing);
  expect_next_job_prints();
}

// No room for the spool: a small tmpfs over the spool directory where a
// test may mount one (root), else a file size limit on the server.  Both
// end with the test, however it ends.
class FullSpool {
 public:
  FullSpool(const std::string& dir, pid_t server) : dir_(dir), server_(server) {
    mounted_ = getuid() == 0 && mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") == 0;
    if (mounted_) {
      std::ofstream filler(dir + "/filler", std::ios::binary);
      std::string block(4096, 'x');
      while (filler.write(block.data(), block.size())) {
      }
    } else {
      rlimit small = {64 * 1024, 64 * 1024};
      prlimit(server_, RLIMIT_FSIZE, &small, &saved_);
    }
  }
  ~FullSpool() {
    if (mounted_)
      umount2(dir_.c_str(), MNT_DETACH);
    else
      prlimit(server_, RLIMIT_FSIZE, &saved_, nullptr);
  }

 private:
  std::string dir_;
  pid_t server_;
  bool mounted_ = false;
  rlimit saved_{RLIM_INFINITY, RLIM_INFINITY};
};

TEST_F(AppFaults, AFullSpoolDiskRefusesJobsWithAMessageAndTheServerRecoversWhenThereIsRoom) {
  std::string big = file("big.pdf", makePdf(1) + std::string(1 << 20, ' '));
  {
    FullSpool full(server_.dir() + "/tesvel-printer-app.d", server_.pid());
    std::string refusal;
    EXPECT_EQ(server_.submit("p", big, "application/pdf", &refusal), 0);
    EXPECT_NE(refusal.find("Unable to write print file"), std::string::npos) << refusal;
  }
  expect_next_job_prints();
}

TEST_F(AppFaults, ARestartKeepsThePrintersTheirDefaultsAndTheQueuedJobs) {
  ASSERT_EQ(server_.app({"modify", "-d", "p", "-o", "media-source=manual"}).exitStatus, 0);
  ASSERT_EQ(server_.app({"pause", "-d", "p"}).exitStatus, 0);
  std::string pdf = makePdf(2);
  int first = server_.submit("p", file("one.pdf", pdf), "application/pdf");
  int second = server_.submit("p", file("two.pdf", pdf), "application/pdf");
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  // The state is saved within seconds: both jobs with their documents (a
  // save made while a job was still arriving has it without one).  The
  // server is killed, as by a power cut.
  std::string state = server_.dir() + "/tesvel-printer-app.state";
  for (int i = 0; i < 100 && countOf(readFile(state), " filename=") < 2; ++i) sleep_ms(100);
  kill(server_.pid(), SIGKILL);
  ASSERT_TRUE(server_.restart()) << server_.log();

  EXPECT_EQ(server_.app({"printers"}).out, "p\n");
  EXPECT_NE(server_.app({"options", "-d", "p"}).out.find("media-source=manual (default)"), std::string::npos);
  // The pause is kept; resumed, the queued jobs print, with the kept default.
  EXPECT_EQ(server_.printerAttribute("p", "printer-state"), "stopped");
  ASSERT_EQ(server_.app({"resume", "-d", "p"}).exitStatus, 0);
  for (int id : {first, second}) EXPECT_EQ(server_.waitForEnd("p", id, deadlineSeconds(60)).state, "completed");
  std::vector<std::string> out = dirEntries(server_.outDir("p"));
  ASSERT_EQ(out.size(), 2u);
  for (const std::string& f : out) {
    std::string listing = inspectStream(readFile(server_.outDir("p") + "/" + f), {"--check", "--list"}).out;
    EXPECT_NE(listing.find("pages=2"), std::string::npos) << listing;
    EXPECT_EQ(countOf(listing, "inputTray=1 "), 2u) << "manual feed on both pages";
  }
}

// A server whose main loop stops answers no client again: it ends itself,
// for the service manager to start it again.  Here a state file nobody can
// write (the save's temporary file a FIFO with no reader, as a hung network
// file system would be) stops the loop at its next save; PAPPL's own
// lock-order deadlock stops it in the same place but cannot be brought
// about at will.
TEST_F(AppFaults, AServerWhoseMainLoopStopsEndsItselfAndComesBackWithItsPrinters) {
  // The main loop runs every 2 seconds; 5 leaves room for a slow machine.
  ASSERT_TRUE(server_.restart({"watchdog-seconds=5"})) << server_.log();
  // Idle for longer than the watch's limit, and printing: left alone.
  sleep_ms(6500);
  ASSERT_EQ(kill(server_.pid(), 0), 0) << server_.log();
  expect_next_job_prints();

  std::string state = server_.dir() + "/tesvel-printer-app.state";
  for (int i = 0; i < 100 && !fileExists(state); ++i) sleep_ms(100);
  ASSERT_EQ(mkfifo((state + ".new").c_str(), 0600), 0);
  // A new job makes the next save, unless a save still due has stuck
  // already (and this request is never answered).
  server_.submit("p", file("one.pdf", makePdf(1)), "application/pdf");
  EXPECT_EQ(server_.waitForExit(deadlineSeconds(30)), 1) << server_.log();
  EXPECT_NE(server_.log().find("has not run its main loop for 5 seconds"), std::string::npos) << server_.log();

  ASSERT_EQ(unlink((state + ".new").c_str()), 0);
  ASSERT_TRUE(server_.restart()) << server_.log();
  EXPECT_EQ(server_.app({"printers"}).out, "p\n");
  expect_next_job_prints();
}

}  // namespace
