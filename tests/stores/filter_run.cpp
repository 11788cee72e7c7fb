#include "filter_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace stores_test {

FilterRun::FilterRun(const std::string& program, const std::string& ppd, const std::string& options,
                     const std::string& tmpdir, const std::string& cmsLibrary) {
  std::signal(SIGPIPE, SIG_IGN);  // a filter that stops reading must not end the test
  // Close-on-exec: a filter started next must not hold this one's pipes
  // open, or neither would ever see the end of its input.
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&fa, fd);
  std::vector<std::string> env = {"PPD=" + ppd, "TMPDIR=" + tmpdir, "PATH=/usr/bin:/bin"};
  if (!cmsLibrary.empty()) env.push_back("TESVEL_CMS_LIBRARY=" + cmsLibrary);
  if (const char* asan = std::getenv("ASAN_OPTIONS")) env.push_back(std::string("ASAN_OPTIONS=") + asan);
  std::vector<std::string> args = {program, "42", "alice", "report", "1", options};
  std::vector<char*> envp, argv;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]), close(out[1]), close(err[1]);
  in_ = in[1], out_ = out[0], err_ = err[0];
  // A write into a full pipe must not block while the filter waits for
  // us to read its log.
  fcntl(in_, F_SETFL, fcntl(in_, F_GETFL) | O_NONBLOCK);
}

FilterRun::~FilterRun() {
  if (in_ >= 0) close(in_);
  close(out_), close(err_);
  if (pid_ > 0 && !reaped_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
}

void FilterRun::signal(int signo) { kill(pid_, signo); }

void FilterRun::feed(const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    pollfd p[3] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}, {err_, POLLIN, 0}};
    poll(p, 3, 1000);
    if (p[0].revents & (POLLERR | POLLHUP)) return;  // the filter stopped reading
    if (p[0].revents & POLLOUT) {
      const ssize_t n = write(in_, data.data() + done, data.size() - done);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) return;
      done += size_t(n);
    }
    drain(p[1].revents, p[2].revents);
  }
}

void FilterRun::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool FilterRun::waitFor(const std::string& text, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (err.find(text) == std::string::npos && std::chrono::steady_clock::now() < until) {
    pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    poll(p, 2, 100);
    drain(p[0].revents, p[1].revents);
  }
  return err.find(text) != std::string::npos;
}

int FilterRun::finish() {
  closeInput();
  for (;;) {
    pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(p, 2, 120000) <= 0) break;
    if (!drain(p[0].revents, p[1].revents)) break;
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool FilterRun::drain(short outEvents, short errEvents) {
  char buf[65536];
  bool open = false;
  if (outEvents & (POLLIN | POLLHUP)) {
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n > 0) out.append(buf, size_t(n)), open = true;
  }
  if (errEvents & (POLLIN | POLLHUP)) {
    const ssize_t n = read(err_, buf, sizeof buf);
    if (n > 0) err.append(buf, size_t(n)), open = true;
  }
  return open;
}

}  // namespace stores_test
