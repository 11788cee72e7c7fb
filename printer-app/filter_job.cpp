#include "filter_job.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace tpa {

namespace {

constexpr size_t kMaxLine = 4096;  // longer message lines are cut, never buffered whole

long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

}  // namespace

struct FilterJob::Stream {
  int* fd;
  bool render;  // Ghostscript's messages rather than the filter's
  std::string line;
};

bool FilterJob::start(const FilterCommand& filter, const ChildSpec* render, std::string* why) {
  if (!input_.open() || !output_.open() || !errors_.open() ||
      (render && !renderErrors_.open())) {
    *why = "cannot make the pipes for the printer driver";
    return false;
  }
  if (render) {
    ChildSpec r = *render;
    r.stdoutFd = input_.write;
    r.stderrFd = renderErrors_.write;
    if (!render_.start(r, why)) return false;
    input_.closeWrite();  // only the renderer writes the filter's input
    renderErrors_.closeWrite();
  }
  ChildSpec f;
  f.argv = filter.argv;
  f.env = filter.env;
  f.path = filter.path;
  f.sideChannelFd = filter.sideChannelFd;
  f.stdinFd = input_.read;
  f.stdoutFd = output_.write;
  f.stderrFd = errors_.write;
  if (!filter_.start(f, why)) {
    render_.signal(SIGKILL);
    return false;
  }
  input_.closeRead();
  output_.closeWrite();
  errors_.closeWrite();
  return true;
}

void FilterJob::handle_line(Stream& s, const std::string& line) {
  if (s.render) {
    if (!line.empty()) lastRenderError_ = line;
    // "   **** Error: Couldn't initialise file.": Ghostscript may still end
    // well, with no pages, and the filter then fails for want of them.
    size_t at = line.find("Error: ");
    if (renderError_.empty() && at != std::string::npos) renderError_ = line.substr(at + 7);
    sink_.renderLog(line);
    return;
  }
  FilterMessage m = parseFilterLine(line);
  if (m.kind == FilterMessage::Page) pages_ += m.copies > 0 ? m.copies : 1;  // each copy is a page printed
  if (m.kind == FilterMessage::Error) lastError_ = m.text;
  sink_.message(m);
}

void FilterJob::read_stream(Stream& s) {
  char buf[4096];
  ssize_t n = read(*s.fd, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    if (!s.line.empty()) handle_line(s, s.line);
    s.line.clear();
    close(*s.fd);
    *s.fd = -1;
    return;
  }
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] == '\n') {
      handle_line(s, s.line);
      s.line.clear();
    } else if (s.line.size() < kMaxLine) {
      s.line += buf[i];
    }
  }
}

void FilterJob::check_cancel(long now) {
  bool stop = deviceFailed_ || sink_.canceled();
  if (stop && termSentMs_ < 0) {
    termSentMs_ = now;
    filter_.signal(SIGTERM);
    render_.signal(SIGTERM);
  } else if (termSentMs_ >= 0 && !killed_ && now - termSentMs_ > kKillGraceMs) {
    killed_ = true;
    filter_.signal(SIGKILL);
    render_.signal(SIGKILL);
  }
}

JobOutcome FilterJob::run() {
  Stream streams[3] = {{&output_.read, false, {}}, {&errors_.read, false, {}},
                       {&renderErrors_.read, true, {}}};
  for (;;) {
    pollfd pfd[3];
    Stream* which[3];
    int n = 0;
    for (Stream& s : streams)
      if (*s.fd >= 0) {
        pfd[n] = {*s.fd, POLLIN, 0};
        which[n++] = &s;
      }
    if (n == 0) break;
    int ready = poll(pfd, static_cast<nfds_t>(n), 200);
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < n && ready > 0; ++i) {
      if (!(pfd[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      if (which[i] != &streams[0]) {
        read_stream(*which[i]);
        continue;
      }
      // Printer data: straight to the device, in the filter's own blocks.
      char buf[65536];
      ssize_t got = read(output_.read, buf, sizeof buf);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) {
        output_.closeRead();
      } else if (!deviceFailed_ && !sink_.writeDevice(buf, static_cast<size_t>(got))) {
        deviceFailed_ = true;
      }
    }
    check_cancel(now_ms());
  }
  return finish();
}

JobOutcome FilterJob::finish() {
  int filterStatus = 0, renderStatus = 0;
  bool renderRan = render_.running();
  // Both have closed their output; give them the same grace to go.
  for (;;) {
    bool f = filter_.reap(false, &filterStatus);  // true also once reaped
    bool r = render_.reap(false, &renderStatus);
    if (f && r) break;
    check_cancel(now_ms());
    usleep(20000);
  }
  JobOutcome out;
  out.pages = pages_;
  if (deviceFailed_) {
    out.reason = "The printer stopped taking data.";
  } else if (WIFSIGNALED(filterStatus) && termSentMs_ < 0) {
    // Ghostscript then dies of the broken pipe: the filter's end is the cause.
    out.reason = "The printer driver stopped unexpectedly (" + describeWaitStatus(filterStatus) + ").";
  } else if (renderRan && !(WIFEXITED(renderStatus) && WEXITSTATUS(renderStatus) == 0) &&
             termSentMs_ < 0) {
    out.reason = "The document could not be rendered (Ghostscript " +
                 describeWaitStatus(renderStatus) + ")" +
                 (lastRenderError_.empty() ? "." : ": " + displayText(lastRenderError_, 160));
  } else if (WIFEXITED(filterStatus) && WEXITSTATUS(filterStatus) == 0) {
    out.ok = true;
  } else if (!renderError_.empty() && termSentMs_ < 0) {
    out.reason = "The document could not be rendered: " + displayText(renderError_, 160);
  } else {
    out.reason = lastError_.empty() ? "The printer driver failed (" + describeWaitStatus(filterStatus) + ")."
                                    : displayText(lastError_);
  }
  return out;
}

}  // namespace tpa
