#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

extern char** environ;

namespace jw {

namespace {

// The running child's pid, which is also its process group; 0 when none
// runs.  Read by the SIGTERM handler.  Cleared before the child is reaped:
// while it is unreaped its group id cannot be reused, so the handler never
// signals a stranger.
std::atomic<pid_t> g_runningChild{0};
// Set once the job is cancelled: no further child is started.
std::atomic<int> g_stopRequested{0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "read and written by the SIGTERM handler");

// How often a waiting loop looks at the child: quickly at first (most
// runs are short), then every 50 ms.
constexpr int kFirstPollMs = 1;
constexpr int kLongestPollMs = 50;

// A descriptor closed when it goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

class FileActions {
 public:
  FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~FileActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_;
};

// Spawn attributes that put the child at the head of a new process group.
class OwnGroup {
 public:
  OwnGroup() {
    ok_ = posix_spawnattr_init(&attr_) == 0;
    if (ok_)
      ok_ = posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
            posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP) == 0;
  }
  ~OwnGroup() { posix_spawnattr_destroy(&attr_); }
  OwnGroup(const OwnGroup&) = delete;
  OwnGroup& operator=(const OwnGroup&) = delete;
  bool ok() const { return ok_; }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  bool ok_;
};

bool has_slash(const char* name) {
  for (; *name != '\0'; ++name)
    if (*name == '/') return true;
  return false;
}

void pause_ms(int ms) {
  struct timespec t {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);  // a signal cuts it short, which is what we want
}

// Starts the child with standard input from /dev/null and standard output
// on outFd; 0 and the pid, or an errno value.
int start_child(const char* const* argv, int outFd, pid_t* pid) {
  if (g_stopRequested.load()) return ECANCELED;
  FileActions actions;
  OwnGroup group;
  if (!actions.ok() || !group.ok()) return ENOMEM;
  posix_spawn_file_actions_t* fa = actions.get();
  if (posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0) != 0 ||
      posix_spawn_file_actions_adddup2(fa, outFd, 1) != 0)
    return ENOMEM;
  if (outFd > 2 && posix_spawn_file_actions_addclose(fa, outFd) != 0) return ENOMEM;
  char* const* args = const_cast<char* const*>(argv);
  return has_slash(argv[0]) ? posix_spawn(pid, argv[0], fa, group.get(), args, environ)
                            : posix_spawnp(pid, argv[0], fa, group.get(), args, environ);
}

// A started child, published for the SIGTERM handler until it is reaped.
class ChildWatch {
 public:
  explicit ChildWatch(pid_t pid) : pid_(pid) {
    g_runningChild.store(pid);
    check();  // a SIGTERM that came before the pid was published
  }
  ChildWatch(const ChildWatch&) = delete;
  ChildWatch& operator=(const ChildWatch&) = delete;

  // Once the job is cancelled: SIGTERM to the group (again: the handler
  // may have missed it), and SIGKILL when the grace is over.
  void check() {
    if (!g_stopRequested.load() || killed_) return;
    auto now = std::chrono::steady_clock::now();
    if (!terminated_) {
      kill(-pid_, SIGTERM);
      terminated_ = true;
      terminatedAt_ = now;
    } else if (now - terminatedAt_ >= std::chrono::milliseconds(kTerminateGraceMs)) {
      kill(-pid_, SIGKILL);
      killed_ = true;
    }
  }

  // Waits for the child to end, then reaps it: its exit code, 128 + the
  // signal that ended it, or kNotStarted.
  int wait() {
    for (int delay = kFirstPollMs;; delay = std::min(delay * 2, kLongestPollMs)) {
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (info.si_pid == pid_) break;
      check();
      pause_ms(delay);
    }
    g_runningChild.store(0);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0)
      if (errno != EINTR) return kNotStarted;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kNotStarted;
  }

 private:
  pid_t pid_;
  bool terminated_ = false;
  bool killed_ = false;
  std::chrono::steady_clock::time_point terminatedAt_;
};

}  // namespace

void terminate_running_child() {
  g_stopRequested.store(1);
  pid_t pid = g_runningChild.load();
  if (pid > 0) kill(-pid, SIGTERM);
}

int run_program(const char* const* argv, int outFd) {
  pid_t pid;
  int err = start_child(argv, outFd, &pid);
  if (err != 0) {
    errno = err;
    return kNotStarted;
  }
  ChildWatch child(pid);
  return child.wait();
}

int run_program_capture(const char* const* argv, std::string* out) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return kNotStarted;
  UniqueFd readEnd(ends[0]), writeEnd(ends[1]);
  pid_t pid;
  int err = start_child(argv, writeEnd.get(), &pid);
  if (err != 0) {
    errno = err;
    return kNotStarted;
  }
  ChildWatch child(pid);
  writeEnd.reset();  // the reader sees end of file once the child is done
  char block[4096];
  size_t kept = 0;
  while (kept < kCaptureLimit) {
    // A bounded poll, so that a cancelled child that will not go is killed
    // even while it holds the pipe open without writing.
    struct pollfd ready {readEnd.get(), POLLIN, 0};
    int r = poll(&ready, 1, kLongestPollMs);
    child.check();
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    ssize_t n = read(readEnd.get(), block, std::min(sizeof block, kCaptureLimit - kept));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out->append(block, static_cast<size_t>(n));
    kept += static_cast<size_t>(n);
  }
  readEnd.reset();  // a child still writing gets SIGPIPE rather than blocking the wait
  return child.wait();
}

}  // namespace jw
