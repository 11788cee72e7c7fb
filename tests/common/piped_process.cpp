#include "piped_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point after(int seconds) { return Clock::now() + std::chrono::seconds(seconds); }

}  // namespace

PipedProcess::PipedProcess(const std::vector<std::string>& argv, const ProcessOptions& opts,
                           const std::string& errFile)
    : errFile_(errFile) {
  ::signal(SIGPIPE, SIG_IGN);  // a child that stops reading must not end the test
  // Close-on-exec: a child started next must not hold this one's pipes
  // open, or neither would ever see the end of its input.
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return;
  if (!errFile_.empty()) {
    close(err[0]), close(err[1]);
    err[0] = -1;
    err[1] = open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  pid_ = spawnChild(argv, opts, in[0], out[1], err[1]);
  close(in[0]), close(out[1]), close(err[1]);
  in_ = in[1], out_ = out[0], err_ = err[0];
  // A write into a full pipe must not block while the child waits for us
  // to read its output.
  fcntl(in_, F_SETFL, fcntl(in_, F_GETFL) | O_NONBLOCK);
}

PipedProcess::~PipedProcess() {
  closeInput();
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
  if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
}

void PipedProcess::signal(int signo) {
  if (pid_ > 0) kill(pid_, signo);
}

void PipedProcess::feed(const std::string& data) {
  for (size_t done = 0; done < data.size() && in_ >= 0;) {
    pollfd p[3] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(p, 3, 1000) < 0 && errno != EINTR) return;
    if (p[0].revents & (POLLERR | POLLHUP)) return;  // the child stopped reading
    if (p[0].revents & POLLOUT) {
      const ssize_t n = write(in_, data.data() + done, data.size() - done);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      if (n > 0) done += size_t(n);
    }
    take(p[1].revents, p[2].revents, ~size_t{0});
  }
}

void PipedProcess::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void PipedProcess::pause(int seconds) {
  for (auto until = after(seconds); Clock::now() < until;) drain(200);
}

bool PipedProcess::waitFor(const std::string& text, int seconds) {
  for (auto until = after(seconds); errSoFar().find(text) == std::string::npos && Clock::now() < until;)
    drain(100);
  return err.find(text) != std::string::npos;
}

std::string PipedProcess::read(size_t n, int seconds) {
  const size_t from = out.size();
  for (auto until = after(seconds); out.size() - from < n && Clock::now() < until;)
    if (!drain(50, from + n)) break;
  return out.substr(from);
}

const std::string& PipedProcess::errSoFar() {
  if (!errFile_.empty()) return err = readFile(errFile_);
  while (err_ >= 0 && drain(0, out.size()) && err_ >= 0) {
    pollfd p{err_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) break;
  }
  return err;
}

int PipedProcess::finish(int seconds) {
  closeInput();
  for (auto until = after(seconds); Clock::now() < until;)
    if (!drain(200)) break;
  int status = 0;
  if (pid_ <= 0) return -1;
  for (auto until = after(seconds); waitpid(pid_, &status, WNOHANG) == 0;) {
    if (Clock::now() > until) {
      kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0), pid_ = -1;
      return -2;
    }
    poll(nullptr, 0, 5);
  }
  pid_ = -1;
  if (!errFile_.empty()) err = readFile(errFile_);
  return exitStatusOf(status);
}

bool PipedProcess::drain(int timeoutMs, size_t outLimit) {
  // Standard output is left alone once `outLimit` bytes are in: the child's
  // pipe may then fill.
  pollfd p[2] = {{out.size() < outLimit ? out_ : -1, POLLIN, 0}, {err_, POLLIN, 0}};
  if (poll(p, 2, timeoutMs) < 0 && errno != EINTR) return false;
  return take(p[0].revents, p[1].revents, outLimit);
}

bool PipedProcess::take(short outEvents, short errEvents, size_t outLimit) {
  char buf[65536];
  const short events[2] = {outEvents, errEvents};
  int* fds[2] = {&out_, &err_};
  std::string* texts[2] = {&out, &err};
  for (int i = 0; i < 2; ++i) {
    if (*fds[i] < 0 || !(events[i] & (POLLIN | POLLHUP | POLLERR))) continue;
    const size_t room = i == 0 ? std::min(sizeof buf, outLimit - out.size()) : sizeof buf;
    const ssize_t got = ::read(*fds[i], buf, room);
    if (got > 0) texts[i]->append(buf, size_t(got));
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) close(*fds[i]), *fds[i] = -1;
  }
  return out_ >= 0 || err_ >= 0;
}

}  // namespace testing_support
