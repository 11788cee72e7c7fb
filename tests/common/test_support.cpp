#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {

std::string binPath(const std::string& program) { return std::string(TESVEL_BIN_DIR) + "/" + program; }
std::string ppdPath(const std::string& fileName) { return std::string(TESVEL_PPD_DIR) + "/" + fileName; }

namespace {

std::vector<std::string> build_env(const ProcessOptions& opts) {
  std::vector<std::string> env;
  for (char** e = environ; opts.inheritEnv && *e; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& u : opts.unsetEnv) replaced |= (u == name);
    for (const auto& o : opts.env) replaced |= (o.substr(0, o.find('=')) == name);
    if (!replaced) env.push_back(entry);
  }
  for (const auto& o : opts.env) env.push_back(o);
  return env;
}

ProcessOptions no_input(int timeoutSeconds) {
  ProcessOptions o;
  o.stdinFromDevNull = true;
  o.timeoutSeconds = timeoutSeconds;
  return o;
}

std::vector<char*> c_vector(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

pid_t spawnChild(const std::vector<std::string>& argvIn, const ProcessOptions& opts, int in,
                 int out, int err) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (in < 0)
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&fa, in, 0);
  if (out < 0)
    posix_spawn_file_actions_addclose(&fa, 1);  // the child starts with no standard output
  else
    posix_spawn_file_actions_adddup2(&fa, out, 1);
  posix_spawn_file_actions_adddup2(&fa, err, 2);
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> argv = argvIn;
  if (!opts.argv0.empty()) argv[0] = opts.argv0;
  std::vector<std::string> env = build_env(opts);
  std::vector<char*> cargv = c_vector(argv), cenv = c_vector(env);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argvIn[0].c_str(), &fa, &attr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) errno = rc;
  return rc == 0 ? pid : -1;
}

int exitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& opts) {
  // A child that exits without reading its input must not kill the test.
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  pid_t pid = spawnChild(argv, opts, opts.stdinFromDevNull ? -1 : in[0], out[1], err[1]);
  int rc = errno;
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }

  ProcessResult result;
  size_t written = 0;
  int inFd = in[1];
  if (opts.stdinFromDevNull || opts.stdinData.empty()) {
    close(inFd);
    inFd = -1;
  } else {
    fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opts.timeoutSeconds);
  bool outOpen = true, errOpen = true, killed = false;
  char buf[65536];
  while (outOpen || errOpen) {
    pollfd fds[3];
    int n = 0;
    if (outOpen) fds[n++] = {out[0], POLLIN, 0};
    if (errOpen) fds[n++] = {err[0], POLLIN, 0};
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    int pr = poll(fds, n, 200);
    if (pr < 0 && errno != EINTR) break;
    if (!killed && std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      killed = true;
    }
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == inFd) {
        ssize_t w = write(inFd, opts.stdinData.data() + written, opts.stdinData.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 && errno != EAGAIN) written = opts.stdinData.size();
        if (written >= opts.stdinData.size()) {
          close(inFd);
          inFd = -1;
        }
        continue;
      }
      ssize_t r = read(fds[i].fd, buf, sizeof buf);
      if (r > 0) {
        (fds[i].fd == out[0] ? result.out : result.err).append(buf, static_cast<size_t>(r));
      } else if (r == 0 || errno != EINTR) {
        if (fds[i].fd == out[0]) outOpen = false;
        else errOpen = false;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(out[0]);
  close(err[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = exitStatusOf(status);
  return result;
}

TempDir::TempDir(mode_t mode) {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tesvel-test-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  chmod(path_.c_str(), mode);
}

TempDir::~TempDir() {
  runProcess({"/bin/rm", "-rf", path_});
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + needle.size()))
    ++n;
  return n;
}

std::vector<std::string> dirEntries(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") out.push_back(name);
  }
  closedir(d);
  return out;
}

ProcessResult inspectStream(const std::string& stream, const std::vector<std::string>& args) {
  TempDir dir;
  const std::string file = dir.file("job.prn");
  writeFile(file, stream);
  std::vector<std::string> argv = {binPath("prndecode")};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(file);
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  return runProcess(argv, quiet);
}

namespace {

double clock_ms(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace

double cpuMs() { return clock_ms(CLOCK_PROCESS_CPUTIME_ID); }
double wallMs() { return clock_ms(CLOCK_MONOTONIC); }

cups_page_header2_t greyHeader(unsigned widthPt, unsigned heightPt, unsigned dpi) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::strcpy(h.MediaClass, "PwgRaster");
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.PageSize[0] = widthPt;
  h.PageSize[1] = heightPt;
  h.ImagingBoundingBox[2] = widthPt;
  h.ImagingBoundingBox[3] = heightPt;
  h.NumCopies = 1;
  h.cupsWidth = static_cast<unsigned>(uint64_t{widthPt} * dpi / 72);
  h.cupsHeight = static_cast<unsigned>(uint64_t{heightPt} * dpi / 72);
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 8;
  h.cupsBytesPerLine = h.cupsWidth;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = CUPS_CSPACE_W;
  h.cupsNumColors = 1;
  return h;
}

std::string writeRaster(const std::vector<RasterPage>& pages, cups_mode_t mode) {
  TempDir dir;
  std::string path = dir.file("job.ras");
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create raster file");
  cups_raster_t* r = cupsRasterOpen(fd, mode);
  for (const RasterPage& page : pages) {
    cups_page_header2_t h = page.header;
    cupsRasterWriteHeader2(r, &h);
    std::vector<uint8_t> line(h.cupsBytesPerLine, 255);
    unsigned lines = std::min(page.linesToWrite, h.cupsHeight);
    for (unsigned y = 0; y < lines; ++y) {
      if (!page.fill.empty())
        for (size_t x = 0; x < line.size(); ++x) line[x] = page.fill[(x + y) % page.fill.size()];
      cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
    }
  }
  cupsRasterClose(r);
  close(fd);
  return readFile(path);
}

std::string makePdf(int pages, int widthPt, int heightPt) {
  TempDir dir;
  std::ostringstream ps;
  ps << "%!PS\n<< /PageSize [" << widthPt << " " << heightPt << "] >> setpagedevice\n"
     << "/Helvetica findfont 36 scalefont setfont\n"
     << "1 1 " << pages << " { /n exch def 40 " << heightPt - 80
     << " moveto (Page ) show n 4 string cvs show\n"
     << "  0.5 setgray 40 40 200 200 rectfill 0 setgray showpage } for\n";
  writeFile(dir.file("doc.ps"), ps.str());
  ProcessResult r = runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                "-sDEVICE=pdfwrite", "-dFIXEDMEDIA",
                                "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPt),
                                "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPt),
                                "-sOutputFile=" + dir.file("doc.pdf"), dir.file("doc.ps")},
                               no_input(60));
  if (r.exitStatus != 0) throw std::runtime_error("gs failed: " + r.err);
  return readFile(dir.file("doc.pdf"));
}

std::string rasterFromPdf(const std::string& ppd, const std::string& pdf, const std::string& options,
                          int copies) {
  TempDir dir;
  // A private filter directory with Ghostscript as the only renderer.
  mkdir(dir.file("sb").c_str(), 0755);
  mkdir(dir.file("sb/filter").c_str(), 0755);
  for (const char* f : {"pdftopdf", "gstoraster"})
    symlink((std::string("/usr/lib/cups/filter/") + f).c_str(), dir.file(std::string("sb/filter/") + f).c_str());
  writeFile(dir.file("cups-files.conf"), "ServerBin " + dir.file("sb") + "\n");
  writeFile(dir.file("doc.pdf"), pdf);
  std::vector<std::string> argv = {"/usr/sbin/cupsfilter", "-c", dir.file("cups-files.conf"),
                                   "-p", ppd, "-m", "application/vnd.cups-raster",
                                   "-n", std::to_string(copies)};
  std::istringstream opts(options);
  for (std::string o; opts >> o;) {
    argv.push_back("-o");
    argv.push_back(o);
  }
  argv.push_back(dir.file("doc.pdf"));
  ProcessResult r = runProcess(argv, no_input(120));
  if (r.exitStatus != 0) throw std::runtime_error("cupsfilter failed: " + r.err);
  return r.out;
}

}  // namespace testing_support
