// Child processes of a job (Ghostscript and the filter): started with an
// argument vector and an environment of our choosing, never through a
// shell, with only the descriptors we hand them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tpa {

struct ChildSpec {
  std::vector<std::string> argv;  // argv[0] is the program's full path
  std::vector<std::string> env;   // NAME=value
  int stdinFd = -1;               // -1: /dev/null
  int stdoutFd = -1;              // -1: /dev/null
  int stderrFd = -1;              // -1: /dev/null
  // A CUPS filter is run by path with the queue name as argv[0], and
  // talks to its backend over a socket on descriptor 4.
  std::string path;               // empty: argv[0]
  int sideChannelFd = -1;         // -1: no descriptor 4
};

// The niceness of every child: renders wait for the server's answers.
constexpr int kChildNice = 5;

class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();  // a child still running is killed and reaped

  bool start(const ChildSpec& spec, std::string* why);
  bool running() const { return pid_ > 0; }
  void signal(int sig);
  // Reaps the child; with `wait` false only when it has already ended.
  // True once it has ended; *status is its wait status.
  bool reap(bool wait, int* status);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A pipe whose ends do not leak into children; both ends -1 on failure.
struct Pipe {
  int read = -1;
  int write = -1;
  bool open();
  void closeRead();
  void closeWrite();
  ~Pipe();
};

// "exit status 2", "signal 9 (Killed)": for job messages and logs.
std::string describeWaitStatus(int status);

// Writes all of buf to a child's pipe; false once the child has gone.
bool writeAll(int fd, const unsigned char* buf, size_t len);

}  // namespace tpa
