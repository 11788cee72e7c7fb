// The device-ID path for real: a cupsd of the test's own (own configuration,
// a Unix socket, FileDevice on) runs the PostScript chain with jobwrapper
// and hands the job to the test's capture backend, which answers the
// device-ID request on the side channel, or stays silent.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "jw_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

bool canConnect(const std::string& socketPath) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

void copyExecutable(const std::string& from, const std::string& to, mode_t mode) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  chmod(to.c_str(), mode);
}

// A cupsd confined to a temporary directory.  Filters run as lp, so the
// directory is world-readable and jobwrapper is copied in beside links to
// CUPS's own filters; the capture backend is mode 0700, so it runs as root.
class Cupsd {
 public:
  Cupsd() : root_(0755) {
    const std::string& t = root_.path();
    for (const char* d : {"conf", "spool", "tmp", "cache", "state", "log", "bin", "bin/filter",
                          "bin/backend", "out"})
      std::filesystem::create_directories(t + "/" + d);
    chmod((t + "/tmp").c_str(), 01777);
    chmod((t + "/out").c_str(), 0777);
    for (const auto& e : std::filesystem::directory_iterator("/usr/lib/cups/filter"))
      std::filesystem::create_symlink(e.path(), t + "/bin/filter/" + e.path().filename().string());
    for (const char* d : {"cgi-bin", "daemon", "driver", "monitor", "notifier"})
      std::filesystem::create_symlink(std::string("/usr/lib/cups/") + d, t + "/bin/" + d);
    copyExecutable(jwtest::binPath("jobwrapper"), t + "/bin/filter/jobwrapper", 0755);
    copyExecutable(jwtest::captureBackendPath(), t + "/bin/backend/capture", 0700);
    jwtest::writeFile(t + "/conf/cups-files.conf",
                      "ServerRoot " + t + "/conf\nServerBin " + t + "/bin\n"
                      "DataDir /usr/share/cups\nRequestRoot " + t + "/spool\n"
                      "TempDir " + t + "/tmp\nCacheDir " + t + "/cache\nStateDir " + t +
                      "/state\nAccessLog " + t + "/log/access_log\nErrorLog " + t +
                      "/log/error_log\nPageLog " + t + "/log/page_log\n"
                      "FileDevice Yes\nUser lp\nGroup lp\nSystemGroup root\n");
    jwtest::writeFile(t + "/conf/cupsd.conf",
                      "Listen " + socket() + "\nLogLevel debug\nBrowsing No\nWebInterface No\n"
                      "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n"
                      "</Location>\n<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                      "  </Limit>\n</Policy>\n");
    jwtest::ProcessOptions o;
    daemon_ = std::make_unique<jwtest::Child>(
        std::vector<std::string>{JW_CUPSD, "-f", "-c", t + "/conf/cupsd.conf", "-s",
                                 t + "/conf/cups-files.conf"},
        o);
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!canConnect(socket()) && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  ~Cupsd() {
    // cupsd stops its jobs' filters and backends when it is told to stop.
    daemon_->signal(SIGTERM);
    daemon_->wait(10);
  }

  bool ready() const { return canConnect(socket()); }
  std::string socket() const { return root_.file("sock"); }
  std::string out(const std::string& name) const { return root_.file("out/" + name); }
  std::string errorLog() const { return jwtest::readFile(root_.file("log/error_log")); }

  // The page log's line for job 1 (CUPS writes it as the job ends).
  std::string pageLogLine() const {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
      std::string log = jwtest::readFile(root_.file("log/page_log"));
      if (!log.empty() || Clock::now() > deadline) return log;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // The job's own lines of the log, for failure messages.
  std::string jobLog() const {
    std::string all = errorLog(), lines;
    for (size_t pos = 0, end; pos < all.size(); pos = end + 1) {
      end = all.find('\n', pos);
      if (end == std::string::npos) end = all.size();
      std::string line = all.substr(pos, end - pos);
      if (line.find("[Job 1]") != std::string::npos && line.find("envp[") == std::string::npos)
        lines += line + "\n";
    }
    return lines;
  }

  jwtest::ProcessResult run(std::vector<std::string> argv) const {
    argv.insert(argv.begin() + 1, {"-h", socket()});
    return jwtest::runProcess(argv, {});
  }

  // A queue for the model's PPD whose failed jobs are aborted (the next
  // test must not find a stopped printer).
  void addPrinter(const std::string& uri, const std::string& model) const {
    jwtest::ProcessResult r = run({"/usr/sbin/lpadmin", "-p", "tesvel", "-E", "-v", uri, "-P",
                                   jwtest::ppdPath(model), "-o",
                                   "printer-error-policy=abort-job"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
  }

  void submit(const std::string& file) const {
    jwtest::ProcessResult r = run({"/usr/bin/lp", "-d", "tesvel", "-t", "Device ID test", file});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
  }

  // Waits for job 1 to end; returns the error_log line that ended it.
  std::string waitForJobEnd(int seconds) const {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
      std::string log = errorLog();
      for (const char* end : {"[Job 1] Job completed.", "[Job 1] Job stopped"})
        if (log.find(end) != std::string::npos) return end;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
  }

 private:
  jwtest::TempDir root_;
  std::unique_ptr<jwtest::Child> daemon_;
};

class CupsdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "cupsd runs the capture backend as root only when root";
    if (access(JW_CUPSD, X_OK) != 0 || access("/usr/sbin/lpadmin", X_OK) != 0 ||
        access("/usr/bin/lp", X_OK) != 0)
      GTEST_SKIP() << "cupsd, lpadmin or lp is not installed";
    cupsd = std::make_unique<Cupsd>();
    ASSERT_TRUE(cupsd->ready()) << "cupsd did not start:\n" << cupsd->jobLog();
    pdf = jwtest::makePdf(work.path(), 2);
    chmod(work.path().c_str(), 0755);  // cupsd copies the file as the submitting user
  }

  void TearDown() override { cupsd.reset(); }

  jwtest::TempDir work;
  std::unique_ptr<Cupsd> cupsd;
  std::string pdf;
};

}  // namespace

TEST_F(CupsdTest, TheBackendsDeviceIdDecidesOverTheNickname) {
  // The queue's PPD is a block-mode model; the printer says it is a TP5010.
  jwtest::writeFile(cupsd->out("devid"),
                    "MFG:Tesvel;CMD:PJL,POSTSCRIPT;MDL:Tesvel TP5010 series;CLS:PRINTER;");
  cupsd->addPrinter("capture:" + cupsd->out(""), "tp3010");
  cupsd->submit(pdf);
  EXPECT_EQ(cupsd->waitForJobEnd(20), "[Job 1] Job completed.") << cupsd->jobLog();
  std::string job = jwtest::readFile(cupsd->out("job.data"));
  EXPECT_NE(job.find("@PJL JOB NAME = \"Device ID test\""), std::string::npos);
  EXPECT_NE(job.find("\"\n@PJL SET JOBOWNER=\""), std::string::npos) << "line mode by device ID";
  EXPECT_NE(job.find("@PJL SET JOBID=1\r\n"), std::string::npos);
  EXPECT_EQ(jwtest::readFile(cupsd->out("requests")), "4\n4\n") << "two device-ID requests";
  std::string log = cupsd->errorLog();
  EXPECT_EQ(log.find("can\\'t find 1284 information."), std::string::npos);
  EXPECT_EQ(log.find("attr->value"), std::string::npos) << "the nickname is not consulted";
  EXPECT_NE(log.find("PAGE: 2 1"), std::string::npos);
  // CUPS counts the pages of the last filter only: ours.
  EXPECT_NE(cupsd->pageLogLine().find(" total 2 "), std::string::npos) << cupsd->pageLogLine();
}

TEST_F(CupsdTest, ADeviceIdWithoutTheClassFieldRefusesTheJob) {
  jwtest::writeFile(cupsd->out("devid"), "MFG:Tesvel;MDL:Tesvel TP5010 series;");
  cupsd->addPrinter("capture:" + cupsd->out(""), "tp5010");
  cupsd->submit(pdf);
  EXPECT_EQ(cupsd->waitForJobEnd(20), "[Job 1] Job stopped") << cupsd->jobLog();
  EXPECT_EQ(jwtest::readFile(cupsd->out("job.data")), "");
  std::string log = cupsd->errorLog();
  EXPECT_NE(log.find("当前打印机不可打印，请使用正确的打印机"), std::string::npos);
}

TEST_F(CupsdTest, ABackendThatNeverAnswersLeavesTheDecisionToTheNickname) {
  // No devid file: the capture backend reads the requests and stays silent.
  cupsd->addPrinter("capture:" + cupsd->out(""), "tp5010");
  cupsd->submit(pdf);
  EXPECT_EQ(cupsd->waitForJobEnd(20), "[Job 1] Job completed.") << cupsd->jobLog();
  std::string job = jwtest::readFile(cupsd->out("job.data"));
  EXPECT_NE(job.find("\"\n@PJL SET JOBOWNER=\""), std::string::npos);
  EXPECT_EQ(jwtest::readFile(cupsd->out("requests")), "4\n") << "a silent backend is asked once";
  std::string log = cupsd->errorLog();
  EXPECT_NE(log.find("can\\'t find 1284 information."), std::string::npos);
  EXPECT_NE(log.find("attr->value :Tesvel TP5010 Series PS."), std::string::npos);
}

TEST_F(CupsdTest, AFileDeviceHasNoSideChannelAnswerAndTheNicknameDecides) {
  cupsd->addPrinter("file://" + cupsd->out("printer.out"), "tp5020");
  cupsd->submit(pdf);
  EXPECT_EQ(cupsd->waitForJobEnd(20), "[Job 1] Job completed.") << cupsd->jobLog();
  std::string job = jwtest::readFile(cupsd->out("printer.out"));
  EXPECT_NE(job.find("\"\n@PJL SET JOBOWNER=\""), std::string::npos);
  EXPECT_NE(cupsd->errorLog().find("can\\'t find 1284 information."), std::string::npos)
      << cupsd->jobLog();
}
