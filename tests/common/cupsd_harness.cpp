#include "cupsd_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <cups/cups.h>

extern char** environ;

namespace testing_support {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kCupsd[] = "/usr/sbin/cupsd";
const char kSystemServerBin[] = "/usr/lib/cups";
const char kSystemDataDir[] = "/usr/share/cups";

bool can_connect(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

void copy_program(const std::string& from, const std::string& dir, mode_t mode) {
  std::string to = dir + "/" + fs::path(from).filename().string();
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  chmod(to.c_str(), mode);
}

// The private ServerBin: every system filter linked (the pre-filters the
// chain needs), the test's own programs copied so that cupsd's permission
// checks see root-owned files, the other helper directories linked.
void make_server_bin(const std::string& bin, const CupsdSetup& setup) {
  fs::create_directories(bin + "/filter");
  fs::create_directories(bin + "/backend");
  std::string sys = kSystemServerBin;
  for (const auto& e : fs::directory_iterator(sys + "/filter"))
    fs::create_symlink(e.path(), bin + "/filter/" + e.path().filename().string());
  // No driver programs: listing them would probe the network for
  // driverless printers.
  for (const char* d : {"cgi-bin", "daemon", "monitor", "notifier"})
    if (fs::exists(sys + "/" + d)) fs::create_symlink(sys + "/" + d, bin + "/" + d);
  for (const auto& b : setup.systemBackends)
    fs::create_symlink(sys + "/backend/" + b, bin + "/backend/" + b);
  for (const auto& f : setup.filters) {
    std::string name = fs::path(f).filename().string();
    fs::remove(bin + "/filter/" + name);  // ours win over a system filter of that name
    copy_program(f, bin + "/filter", 0755);
  }
  for (const auto& b : setup.backends) copy_program(b, bin + "/backend", 0700);
}

// The system's data directory, or a private one that differs only in its
// model directory.
std::string make_data_dir(const std::string& t, const std::string& modelDir) {
  if (modelDir.empty()) return kSystemDataDir;
  std::string data = t + "/data";
  fs::create_directories(data);
  for (const auto& e : fs::directory_iterator(kSystemDataDir))
    if (e.path().filename() != "model")
      fs::create_symlink(e.path(), data + "/" + e.path().filename().string());
  fs::create_symlink(modelDir, data + "/model");
  return data;
}

std::string files_conf(const std::string& t, const std::string& dataDir) {
  return "ServerRoot " + t + "/conf\nServerBin " + t + "/bin\nDataDir " + dataDir + "\n"
         "RequestRoot " + t + "/spool\nTempDir " + t + "/tmp\nCacheDir " + t + "/cache\n"
         "StateDir " + t + "/state\n"
         "AccessLog " + t + "/log/access_log\nErrorLog " + t + "/log/error_log\n"
         "PageLog " + t + "/log/page_log\nFileDevice Yes\nUser lp\nGroup lp\n"
         "SystemGroup root\n";
}

std::string daemon_conf(const std::string& socket) {
  // No browsing, no web interface, every request allowed from the socket.
  return "Listen " + socket + "\nLogLevel debug\nMaxLogSize 0\nBrowsing No\n"
         "BrowseLocalProtocols none\nWebInterface No\nDefaultAuthType None\n"
         "PreserveJobHistory Yes\nJobKillDelay 10\n"
         "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
         "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
}

pid_t spawn_daemon(const std::string& t) {
  std::vector<std::string> argv = {kCupsd, "-f", "-c", t + "/conf/cupsd.conf", "-s",
                                   t + "/conf/cups-files.conf"};
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, (t + "/log/cupsd.out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  // The test may have blocked or ignored signals; cupsd starts clean.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, kCupsd, &fa, &attr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

bool reaped_within(pid_t pid, int seconds) {
  auto deadline = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

const char* jobStateName(JobState state) {
  switch (state) {
    case JobState::Pending: return "pending";
    case JobState::Held: return "held";
    case JobState::Processing: return "processing";
    case JobState::Stopped: return "stopped";
    case JobState::Canceled: return "canceled";
    case JobState::Aborted: return "aborted";
    case JobState::Completed: return "completed";
    default: return "unknown";
  }
}

PrivateCupsd::PrivateCupsd(const CupsdSetup& setup) {
  const std::string& t = root_.path();
  socket_ = t + "/sock";
  // Filters run as lp and must reach their files; the output and temporary
  // directories are written by them.
  chmod(t.c_str(), 0755);
  for (const char* d : {"conf", "spool", "tmp", "cache", "state", "log", "out"})
    fs::create_directories(t + "/" + d);
  chmod((t + "/tmp").c_str(), 01777);
  chmod((t + "/out").c_str(), 0777);
  make_server_bin(t + "/bin", setup);
  writeFile(t + "/conf/cups-files.conf", files_conf(t, make_data_dir(t, setup.modelDir)));
  writeFile(t + "/conf/cupsd.conf", daemon_conf(socket_));
  pid_ = spawn_daemon(t);
  if (pid_ < 0) return;
  auto deadline = Clock::now() + std::chrono::seconds(setup.startSeconds);
  while (!can_connect(socket_) && Clock::now() < deadline) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {  // died at start
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PrivateCupsd::~PrivateCupsd() {
  if (pid_ <= 0) return;
  // cupsd stops its jobs' filters and backends when it is told to stop.
  kill(pid_, SIGTERM);
  if (!reaped_within(pid_, 15)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool PrivateCupsd::ready() const { return pid_ > 0 && can_connect(socket_); }

std::string PrivateCupsd::outFile(const std::string& name) const {
  return root_.file("out/" + name);
}

std::string PrivateCupsd::tempDir() const { return root_.file("tmp"); }

std::vector<std::string> PrivateCupsd::tempFiles() const {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(tempDir(), ec))
    if (e.is_regular_file()) files.push_back(e.path().string());
  return files;
}

ProcessResult PrivateCupsd::run(std::vector<std::string> argv) const {
  argv.insert(argv.begin() + 1, {"-h", socket_});
  ProcessOptions opts;
  opts.stdinFromDevNull = true;
  opts.timeoutSeconds = 60;
  return runProcess(argv, opts);
}

ProcessResult PrivateCupsd::addDriverlessQueue(const std::string& name, const std::string& uri) const {
  return run({"/usr/sbin/lpadmin", "-p", name, "-E", "-v", uri, "-m", "everywhere"});
}

ProcessResult PrivateCupsd::addPrinter(const std::string& name, const std::string& uri,
                                       const std::string& ppd,
                                       const std::vector<std::string>& extra) const {
  std::vector<std::string> argv = {"/usr/sbin/lpadmin", "-p", name, "-E", "-v", uri, "-P", ppd,
                                   "-o", "printer-error-policy=abort-job"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return run(argv);
}

int PrivateCupsd::submit(const std::string& queue, const std::string& file,
                         const std::vector<std::string>& options, std::string* why) const {
  std::vector<std::string> argv = {"/usr/bin/lp", "-d", queue};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(file);
  ProcessResult r = run(argv);
  // "request id is QUEUE-17 (1 file(s))"
  std::string marker = "request id is " + queue + "-";
  size_t pos = r.out.find(marker);
  if (r.exitStatus != 0 || pos == std::string::npos) {
    if (why != nullptr) *why = r.out + r.err;
    return 0;
  }
  return std::atoi(r.out.c_str() + pos + marker.size());
}

JobState PrivateCupsd::jobState(int jobId) const {
  http_t* http = httpConnect2(socket_.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                              5000, nullptr);
  if (http == nullptr) return JobState::Unknown;
  cups_job_t* jobs = nullptr;
  int n = cupsGetJobs2(http, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
  JobState state = JobState::Unknown;
  for (int i = 0; i < n; ++i)
    if (jobs[i].id == jobId) state = static_cast<JobState>(jobs[i].state);
  cupsFreeJobs(n, jobs);
  httpClose(http);
  return state;
}

JobState PrivateCupsd::waitForJob(int jobId, int seconds) const {
  auto deadline = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    JobState s = jobState(jobId);
    if (s >= JobState::Stopped || Clock::now() > deadline) return s;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool PrivateCupsd::waitForLog(int jobId, const std::string& text, int seconds) const {
  auto deadline = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    if (jobLog(jobId).find(text) != std::string::npos) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string PrivateCupsd::errorLog() const { return readFile(root_.file("log/error_log")); }

std::string PrivateCupsd::pageLog(int seconds) const {
  auto deadline = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    std::string log = readFile(root_.file("log/page_log"));
    if (!log.empty() || Clock::now() > deadline) return log;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string PrivateCupsd::daemonOutput() const { return readFile(root_.file("log/cupsd.out")); }

std::string PrivateCupsd::jobLog(int jobId) const {
  std::string all = errorLog(), lines, tag = "[Job " + std::to_string(jobId) + "]";
  for (size_t pos = 0, end; pos < all.size(); pos = end + 1) {
    end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(pos, end - pos);
    if (line.find(tag) != std::string::npos && line.find("envp[") == std::string::npos)
      lines += line + "\n";
  }
  return lines;
}

}  // namespace testing_support
