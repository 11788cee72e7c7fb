#include "jw_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace jwtest {

std::string binPath(const std::string& program) { return std::string(JW_BIN_DIR) + "/" + program; }
std::string ppdPath(const std::string& model) {
  return std::string(JW_PPD_DIR) + "/tesvel-ps-" + model + ".ppd";
}
std::string captureBackendPath() { return JW_CAPTURE_BACKEND; }

TempDir::TempDir(mode_t mode) {
  char tmpl[] = "/tmp/jwtest.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  chmod(path_.c_str(), mode);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

ScopedPpd::ScopedPpd(const std::string& path) {
  const char* old = getenv("PPD");
  had_ = old != nullptr;
  if (had_) old_ = old;
  setenv("PPD", path.c_str(), 1);
}

ScopedPpd::~ScopedPpd() {
  if (had_)
    setenv("PPD", old_.c_str(), 1);
  else
    unsetenv("PPD");
}

size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + needle.size()))
    ++n;
  return n;
}

namespace {

std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& x : extra)
      if (x.substr(0, x.find('=')) == name) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// fork + exec with stdin, stdout and stderr on the given descriptors.
pid_t spawn(const std::vector<std::string>& argv, const ProcessOptions& opts, int in, int out,
            int err) {
  std::vector<std::string> env = childEnvironment(opts.env);
  std::vector<char*> cargv, cenv;
  std::string argv0 = opts.argv0.empty() ? argv[0] : opts.argv0;
  cargv.push_back(const_cast<char*>(argv0.c_str()));
  for (size_t i = 1; i < argv.size(); ++i) cargv.push_back(const_cast<char*>(argv[i].c_str()));
  cargv.push_back(nullptr);
  for (auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // Nothing above 2 may reach the child: descriptor 4 would be taken
    // for a CUPS side channel.
    if (close_range(3, ~0U, 0) != 0) {
      long maxFd = sysconf(_SC_OPEN_MAX);
      for (int fd = 3; fd < (maxFd > 0 ? maxFd : 1024); ++fd) close(fd);
    }
    signal(SIGTERM, SIG_DFL);
    execve(argv[0].c_str(), cargv.data(), cenv.data());
    _exit(127);
  }
  return pid;
}

int statusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Waits up to timeoutSeconds; kills the child after that.
int waitFor(pid_t pid, int timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return statusOf(status);
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -2;  // timed out
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& opts) {
  TempDir dir;
  writeFile(dir.file("in"), opts.stdinData);
  int in = open(dir.file("in").c_str(), O_RDONLY | O_CLOEXEC);
  int out = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = spawn(argv, opts, in, out, err);
  close(in);
  close(out);
  close(err);
  ProcessResult r;
  r.exitStatus = waitFor(pid, opts.timeoutSeconds);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.out = readFile(dir.file("out"));
  r.err = readFile(dir.file("err"));
  return r;
}

Child::Child(const std::vector<std::string>& argv, const ProcessOptions& opts) {
  writeFile(dir_.file("in"), opts.stdinData);
  errPath_ = dir_.file("err");
  int in = open(dir_.file("in").c_str(), O_RDONLY | O_CLOEXEC);
  int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = spawn(argv, opts, in, pipeFds[1], err);
  close(in);
  close(err);
  close(pipeFds[1]);
  outFd_ = pipeFds[0];
}

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outFd_ >= 0) close(outFd_);
}

std::string Child::read(size_t n, int timeoutSeconds) {
  std::string data;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buf[65536];
  while (data.size() < n && std::chrono::steady_clock::now() < deadline) {
    pollfd p{outFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t got = ::read(outFd_, buf, std::min(sizeof buf, n - data.size()));
    if (got <= 0) break;
    data.append(buf, static_cast<size_t>(got));
  }
  return data;
}

std::string Child::readToEnd(int timeoutSeconds) {
  return read(static_cast<size_t>(-1) / 2, timeoutSeconds);
}

void Child::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

int Child::wait(int timeoutSeconds) {
  int status = waitFor(pid_, timeoutSeconds);
  pid_ = -1;
  return status;
}

std::string Child::errText() const { return readFile(errPath_); }

std::string makePdf(const std::string& dir, int pages, int linesPerPage, int widthPt,
                    int heightPt) {
  std::ostringstream ps;
  ps << "%!PS\n/Helvetica findfont 10 scalefont setfont\n";
  for (int p = 1; p <= pages; ++p) {
    for (int l = 0; l < linesPerPage; ++l)
      ps << "36 " << (heightPt - 40 - (l % 70) * 11) << " moveto (Page " << p << " line " << l
         << " of the jobwrapper test document) show\n";
    ps << "showpage\n";
  }
  std::string psPath = dir + "/doc.ps", pdfPath = dir + "/doc.pdf";
  writeFile(psPath, ps.str());
  ProcessResult r = runProcess(
      {"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
       "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPt),
       "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPt), "-dFIXEDMEDIA",
       "-sOutputFile=" + pdfPath, psPath},
      {});
  if (r.exitStatus != 0) throw std::runtime_error("gs failed: " + r.err);
  return pdfPath;
}

std::string chainPostScript(const std::string& ppd, const std::string& pdf,
                            const std::vector<std::string>& options, int copies,
                            const std::string& title) {
  std::vector<std::string> argv = {"/usr/sbin/cupsfilter", "-p", ppd, "-m",
                                   "application/vnd.cups-postscript", "-n",
                                   std::to_string(copies), "-t", title,
                                   "-o", "pdftops-renderer=gs"};
  for (const auto& o : options) {
    argv.push_back("-o");
    argv.push_back(o);
  }
  argv.push_back(pdf);
  ProcessResult r = runProcess(argv, {});
  if (r.exitStatus != 0 || r.out.empty())
    throw std::runtime_error("cupsfilter failed: " + r.err.substr(0, 2000));
  return r.out;
}

}  // namespace jwtest
