// What a restart keeps: a pause, a darkness of 0, the queue, the history
// trimmed to 100 ended jobs; and every printer when the state's file
// system is full.  Each case is a whole server, stopped and started again.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "app_fixture.h"
#include "atomic_file.h"
#include "server_settings.h"

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

// Print-Job for each of `count` copies of `file`, on one connection, as a
// client with a batch to send would: the job ids (0 for a refused one).
std::vector<int> submit_many(const AppServer& server, const std::string& file, int count,
                             const std::string& printer = "p") {
  std::vector<int> ids;
  http_t* http = connectLoopback(server.port());
  for (int i = 0; i < count && http != nullptr; ++i) {
    ipp_t* req = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server.printerUri(printer).c_str());
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
    ipp_t* resp = cupsDoFileRequest(http, req, ("/ipp/print/" + printer).c_str(), file.c_str());
    ids.push_back(ippGetInteger(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), 0));
    ippDelete(resp);
  }
  if (http != nullptr) httpClose(http);
  return ids;
}

// Get-Jobs: how many jobs the printer lists, "completed" (ended) or
// "not-completed"; -1 when it does not answer.
int job_count(const AppServer& server, const char* which) {
  ipp_t* resp = server.ask("p", IPP_OP_GET_JOBS, [&](ipp_t* req) {
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, which);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
  });
  int count = resp != nullptr && ippGetStatusCode(resp) == IPP_STATUS_OK ? 0 : -1;
  for (ipp_attribute_t* a = ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER); a != nullptr;
       a = ippFindNextAttribute(resp, "job-id", IPP_TAG_INTEGER))
    ++count;
  ippDelete(resp);
  return count;
}

// Polls `done` until it holds or `seconds` have passed.
template <typename F>
bool eventually(F done, int seconds) {
  for (auto end = Clock::now() + std::chrono::seconds(seconds); Clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}

// A small tmpfs mounted for the test and gone after it, lazily (the
// server may still hold a file open when the test ends).
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& dir) : dir_(dir) {
    mkdir(dir.c_str(), 0700);
    mounted_ = mount("tesvel-test", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0700") == 0;
    if (!mounted_) why_ = strerror(errno);
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string dir_, why_;
  bool mounted_ = false;
};

// Fills the file system `file` is on until the disk refuses more.
void fill(const std::string& file) {
  FILE* out = fopen(file.c_str(), "w");
  if (out == nullptr) return;
  std::string block(4096, 'x');
  while (fwrite(block.data(), 1, block.size(), out) == block.size() && fflush(out) == 0) {
  }
  fclose(out);
}

class AppState : public OnePrinterTest {};

// A paused printer set to darkness 0, with 130 jobs ended (cancelled) and
// one queued: the history is trimmed to 100 as jobs end, their files
// leave the spool, a stop does not wait for the queue, and the server
// comes back paused, at darkness 0, with the queued job and 100 ended
// ones; resumed, it prints the job.
TEST_F(AppState, APausedPrinterComesBackPausedAtDarknessZeroWithItsQueueAndAHundredEndedJobs) {
  ASSERT_EQ(server_.app({"pause", "-d", "p"}).exitStatus, 0);
  ProcessResult modify = server_.app({"modify", "-d", "p", "-o", "printer-darkness-configured=0"});
  ASSERT_EQ(modify.exitStatus, 0) << modify.out << modify.err;
  std::string pdf = file("one.pdf", makePdf(1));
  std::vector<int> ended = submit_many(server_, pdf, 130);
  for (int id : ended) ASSERT_GT(id, 0);
  ASSERT_EQ(server_.app({"cancel", "-d", "p", "-a"}).exitStatus, 0);
  int queued = submit_many(server_, pdf, 1).front();
  ASSERT_GT(queued, 0);
  EXPECT_TRUE(eventually([&] { return job_count(server_, "completed") == 100; }, deadlineSeconds(10)))
      << job_count(server_, "completed") << " ended jobs listed";
  // The queued job's document and attributes, the state's temporary
  // files gone: nothing of the ended jobs.
  EXPECT_TRUE(eventually([&] { return server_.spoolFiles().size() == 2; }, deadlineSeconds(10)))
      << server_.spoolFiles().size() << " files in the spool";

  // A stop with a job queued on a paused printer: it waits for the next
  // start (a minute before, waiting for the queue to print).
  auto asked = Clock::now();
  kill(server_.pid(), SIGTERM);
  EXPECT_EQ(server_.waitForExit(deadlineSeconds(30)), 0);
  EXPECT_LT(Clock::now() - asked, std::chrono::seconds(deadlineSeconds(20)));
  ASSERT_TRUE(server_.restart()) << server_.log();

  EXPECT_EQ(server_.printerAttribute("p", "printer-state"), "stopped");
  EXPECT_EQ(server_.printerAttribute("p", "printer-darkness-configured"), "0");
  EXPECT_EQ(job_count(server_, "completed"), 100);
  EXPECT_EQ(server_.status("p", queued).state, "pending");
  ASSERT_EQ(server_.app({"resume", "-d", "p"}).exitStatus, 0);
  EXPECT_EQ(server_.waitForEnd("p", queued, deadlineSeconds(60)).state, "completed");
  EXPECT_EQ(job_count(server_, "completed"), 100);
}

// The state and spool on a small file system of their own, filled: a new
// printer cannot be saved, the old state file and a queued job's
// attributes stay whole (the failure logged once), and once there is room
// again the save is made without another change; a restart with the disk
// full again keeps every printer and the queued job.
TEST_F(AppState, AFullFileSystemKeepsEveryPrinterAcrossARestart) {
  std::string small = dir_.file("small");
  SmallFileSystem fs(small);
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs for the state (" << fs.why() << "): needs root";
  std::string state = small + "/app.state", spool = small + "/spool";
  std::vector<std::string> options = {"state-file=" + state, "spool-directory=" + spool};
  server_.stop();
  writeFile(state, readFile(server_.dir() + "/tesvel-printer-app.state"));
  ASSERT_TRUE(server_.restart(options)) << server_.log();
  std::string why;
  ASSERT_TRUE(server_.addPrinter("q", "tesvel_tz3010", &why)) << why;
  // A job queued on a paused printer: its attributes file in the spool.
  ASSERT_EQ(server_.app({"pause", "-d", "q"}).exitStatus, 0);
  int queued = submit_many(server_, file("one.pdf", makePdf(1)), 1, "q").front();
  ASSERT_GT(queued, 0);
  auto attributes = [&] {
    for (const std::string& f : dirEntries(spool))
      if (f.size() > 4 && f.compare(f.size() - 4, 4, ".ipp") == 0) return readFile(spool + "/" + f);
    return std::string();
  };
  ASSERT_TRUE(eventually([&] { return readFile(state).find("name=\"q\"") != std::string::npos && !attributes().empty(); },
                         deadlineSeconds(10)));

  fill(small + "/filler");
  ASSERT_TRUE(server_.addPrinter("r", "tesvel_tz3010", &why)) << why;
  static const char kFailed[] = "Unable to save system state";
  ASSERT_TRUE(eventually([&] { return server_.log().find(kFailed) != std::string::npos; }, deadlineSeconds(10)));
  std::this_thread::sleep_for(std::chrono::seconds(5));  // two more timer ticks that try again
  EXPECT_EQ(countOf(server_.log(), kFailed), 1u);
  std::string kept = readFile(state);
  EXPECT_NE(kept.find("name=\"q\""), std::string::npos) << kept;
  EXPECT_EQ(kept.find("name=\"r\""), std::string::npos);
  EXPECT_FALSE(attributes().empty()) << "the queued job's attributes were emptied";

  // The password file, written the same way, stays as it was.
  std::string password = small + "/app.state.password", before = readFile(password), why_not;
  EXPECT_FALSE(tpa::replaceFile(password, std::string(1 << 20, 'x'), 0600, &why_not));
  EXPECT_EQ(why_not, strerror(ENOSPC));
  EXPECT_EQ(readFile(password), before);
  EXPECT_FALSE(before.empty());

  unlink((small + "/filler").c_str());
  EXPECT_TRUE(eventually([&] { return readFile(state).find("name=\"r\"") != std::string::npos; }, deadlineSeconds(10)))
      << server_.log();
  fill(small + "/filler");
  ASSERT_TRUE(server_.restart(options)) << server_.log();
  for (const char* printer : {"p", "r"})
    EXPECT_EQ(server_.printerAttribute(printer, "printer-state"), "idle") << printer;
  EXPECT_EQ(server_.status("q", queued).state, "pending");
}

TEST(AppSettings, JobsRenderingAtOnceFollowTheCoresAndTheMemory) {
  struct Case {
    long cores, megabytes;
    int jobs;
  } const kCases[] = {
      {2, 4096, 4},    // two a core
      {4, 1024, 3},    // a small print server: a quarter of its memory
      {1, 256, 1},     // never none
      {64, 65536, 128},
      {0, 8192, 2},    // cores unknown: as one
  };
  for (const Case& c : kCases)
    EXPECT_EQ(tpa::defaultJobsAtOnce(c.cores, c.megabytes), c.jobs) << c.cores << " cores, " << c.megabytes << " MB";
  const char* set[] = {"jobs-at-once"};
  cups_option_t option{const_cast<char*>(set[0]), const_cast<char*>("3")};
  EXPECT_EQ(tpa::serverSettings("t", 1, &option).jobsAtOnce, 3);
  option.value = const_cast<char*>("-1");
  EXPECT_NE(tpa::serverSettings("t", 1, &option).error, "");
}

}  // namespace
