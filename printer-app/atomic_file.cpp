#include "atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tpa {

namespace {

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool replaceFile(const std::string& path, const std::string& text, unsigned mode, std::string* error) {
  // A full disk must not leave the file empty or cut short: the old file
  // is replaced only by one known to be on the disk whole.
  std::string temp = path + ".new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(mode));
  bool ok = fd >= 0 && write_all(fd, text) && fsync(fd) == 0;
  int failure = ok ? 0 : errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    failure = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    failure = errno;
  }
  if (!ok) {
    if (fd >= 0) unlink(temp.c_str());
    if (error) *error = strerror(failure);
  }
  return ok;
}

}  // namespace tpa
