#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tpa {

namespace {

std::vector<char*> c_strings(const std::vector<std::string>& v) {
  std::vector<char*> out;
  for (const std::string& s : v) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

}  // namespace

bool Pipe::open() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read = fds[0];
  write = fds[1];
  return true;
}

void Pipe::closeRead() {
  if (read >= 0) close(read);
  read = -1;
}

void Pipe::closeWrite() {
  if (write >= 0) close(write);
  write = -1;
}

Pipe::~Pipe() {
  closeRead();
  closeWrite();
}

Child::~Child() {
  if (pid_ > 0) {
    signal(SIGKILL);
    int status;
    reap(true, &status);
  }
}

bool Child::start(const ChildSpec& spec, std::string* why) {
  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&fa);
  posix_spawnattr_init(&attr);
  const int fds[3] = {spec.stdinFd, spec.stdoutFd, spec.stderrFd};
  for (int target = 0; target < 3; ++target) {
    if (fds[target] >= 0)
      posix_spawn_file_actions_adddup2(&fa, fds[target], target);
    else
      posix_spawn_file_actions_addopen(&fa, target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  if (spec.sideChannelFd >= 0) posix_spawn_file_actions_adddup2(&fa, spec.sideChannelFd, 4);
  // The server's sockets, devices and other jobs' pipes stay ours.
  if (spec.sideChannelFd >= 0) {
    posix_spawn_file_actions_addopen(&fa, 3, "/dev/null", O_RDONLY, 0);  // no back channel
    posix_spawn_file_actions_addclosefrom_np(&fa, 5);
  } else {
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
  }
  // A child starts with default signal handling and nothing blocked, in a
  // process group of its own so a cancel reaches what it starts too.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> argv = c_strings(spec.argv);
  std::vector<char*> envp = c_strings(spec.env);
  const char* path = spec.path.empty() ? argv[0] : spec.path.c_str();
  int rc = posix_spawn(&pid_, path, &fa, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    pid_ = -1;
    *why = std::string("cannot start ") + path + ": " + std::strerror(rc);
    return false;
  }
  // Rendering yields to the server: with jobs rendering on every core a
  // client's Print-Job still gets its answer at once.  (Set just after the
  // start: what the child starts in its very first instant keeps ours.)
  setpriority(PRIO_PROCESS, static_cast<id_t>(pid_), kChildNice);
  return true;
}

void Child::signal(int sig) {
  if (pid_ > 0) kill(-pid_, sig);  // the child's whole process group
}

bool Child::reap(bool wait, int* status) {
  if (pid_ <= 0) return true;
  for (;;) {
    pid_t r = waitpid(pid_, status, wait ? 0 : WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return true;
    }
    if (r == 0) return false;
    if (errno != EINTR) {
      // Reaped elsewhere: nothing more to wait for.
      *status = 0;
      pid_ = -1;
      return true;
    }
  }
}

bool writeAll(int fd, const unsigned char* buf, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = write(fd, buf + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string describeWaitStatus(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  return "wait status " + std::to_string(status);
}

}  // namespace tpa
