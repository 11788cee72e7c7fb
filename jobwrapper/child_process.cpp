#include "child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace jw {

namespace {

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

bool has_slash(const char* name) {
  for (; *name != '\0'; ++name)
    if (*name == '/') return true;
  return false;
}

// Starts the child with standard input from /dev/null and standard output
// on outFd; 0 and the pid, or an errno value.
int start_child(const char* const* argv, int outFd, pid_t* pid) {
  FileActions actions;
  if (!actions.ok()) return ENOMEM;
  posix_spawn_file_actions_t* fa = actions.get();
  if (posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0) != 0 ||
      posix_spawn_file_actions_adddup2(fa, outFd, 1) != 0)
    return ENOMEM;
  if (outFd > 2 && posix_spawn_file_actions_addclose(fa, outFd) != 0) return ENOMEM;
  char* const* args = const_cast<char* const*>(argv);
  return has_slash(argv[0]) ? posix_spawn(pid, argv[0], fa, nullptr, args, environ)
                            : posix_spawnp(pid, argv[0], fa, nullptr, args, environ);
}

int wait_child(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return kNotStarted;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kNotStarted;
}

}  // namespace

int run_program(const char* const* argv, int outFd) {
  pid_t pid;
  int err = start_child(argv, outFd, &pid);
  if (err != 0) {
    errno = err;
    return kNotStarted;
  }
  return wait_child(pid);
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
  writeEnd.reset();  // the reader sees end of file once the child is done
  char block[4096];
  ssize_t n;
  while ((n = read(readEnd.get(), block, sizeof block)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    out->append(block, static_cast<size_t>(n));
  }
  readEnd.reset();  // a child still writing gets SIGPIPE rather than blocking the wait
  return wait_child(pid);
}

}  // namespace jw
