// Whole-page cost of rasterfilter on A4 pages at 600 dpi: the stages in
// this process (read, halftone, compress, write), then the real filter as
// a child process (CPU time and peak memory).  Prints a table; run by
// `make bench`.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "band_compress.h"
#include "cups_binding.h"
#include "halftone.h"
#include "job_state.h"
#include "output_channel.h"
#include "page_image.h"
#include "test_support.h"

extern char** environ;

using namespace testing_support;

namespace {

double cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// A4 at 600 dpi as gstoraster makes it.
cups_page_header2_t a4() { return greyHeader(595, 842, 600); }

// PostScript for the measured pages, rendered by the real CUPS chain.
const char kTextPage[] = R"(%!PS
/Times-Roman findfont 9 scalefont setfont
/s (The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs. 0123456789) def
800 -11 40 { /y exch def 36 y moveto s show ( ) show s show } for
showpage
)";

const char kPhotoPage[] = R"(%!PS
/row 0 def /pic 512 string def
gsave 595 842 scale
512 512 8 [512 0 0 -512 0 512] {
  0 1 511 { /x exch def
    pic x x row add 0.031 mul sin 70 mul 128 add x 0.017 mul cos row 0.023 mul sin mul 50 mul add
    x row mul 7 mod 3 mul add cvi 0 max 255 min put } for
  /row row 1 add def pic } image
grestore showpage
)";

// One A4 page of PostScript through Ghostscript and gstoraster.
std::string rendered(const char* ps) {
  TempDir dir;
  writeFile(dir.file("p.ps"), ps);
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  ProcessResult r = runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                                "-sPAPERSIZE=a4", "-dFIXEDMEDIA", "-sOutputFile=" + dir.file("p.pdf"),
                                dir.file("p.ps")},
                               quiet);
  if (r.exitStatus != 0) return "";
  return rasterFromPdf(ppdPath("tesvel-tz3010.ppd"), readFile(dir.file("p.pdf")));
}

std::string raster_of(const std::vector<std::vector<uint8_t>>& pages) {
  TempDir dir;
  std::string path = dir.file("r.ras");
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
  for (const auto& g : pages) {
    cups_page_header2_t h = a4();
    cupsRasterWriteHeader2(r, &h);
    cupsRasterWritePixels(r, const_cast<uint8_t*>(g.data()), static_cast<unsigned>(g.size()));
  }
  cupsRasterClose(r);
  close(fd);
  return readFile(path);
}

struct Stages {
  double read = 1e9, halftone = 1e9, compress = 1e9, write = 1e9;
  size_t bytes = 0;
};

// One page through the stages, best of `rounds`.
Stages stage_times(const std::string& raster, rf::ModelClass cls, uint32_t iw, uint32_t ih, int rounds) {
  Stages best;
  TempDir dir;
  writeFile(dir.file("p.ras"), raster);
  std::vector<uint8_t> grey(size_t{iw} * ih), line(8192), mono(size_t{iw} * ih / 8);
  int devnull = open("/dev/null", O_WRONLY);
  for (int round = 0; round < rounds; ++round) {
    rf::resetJobState();
    rf::g_job.outputFd = devnull;
    int fd = open(dir.file("p.ras").c_str(), O_RDONLY);
    double t0 = cpu_ms();
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    cupsRasterReadHeader2(r, &h);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      cupsRasterReadPixels(r, line.data(), h.cupsBytesPerLine);
      if (y < ih) std::copy_n(line.data() + (h.cupsBytesPerLine - iw) / 2, iw, grey.data() + size_t{y} * iw);
    }
    cupsRasterClose(r);
    close(fd);
    double t1 = cpu_ms();
    std::fill(mono.begin(), mono.end(), 0);
    FILE* quiet = freopen("/dev/null", "w", stderr);
    (void)quiet;
    rf::HalftoneDither(grey.data(), iw, static_cast<int>(ih), mono.data(), iw, 0, 0, cls);
    double t2 = cpu_ms();
    rf::PageImageRecord rec{};
    rec.imageWidth = static_cast<uint16_t>(iw);
    rec.imageHeight = static_cast<uint16_t>(ih);
    rec.pageBitmap = mono.data();
    JbigBih bih{};
    bih.P = 1;
    bih.ParamImgWidth = iw;
    bih.ParamImgHeight = ih;
    bih.ParamL0 = 256;
    std::vector<uint8_t> out;
    size_t n = rf::compressPageBands(rec, bih, out, cls == rf::PLATFORM_Z ? 2 : 1);
    double t3 = cpu_ms();
    rf::SendDataToFile(out.data(), static_cast<int>(n), 1);
    double t4 = cpu_ms();
    best.read = std::min(best.read, t1 - t0);
    best.halftone = std::min(best.halftone, t2 - t1);
    best.compress = std::min(best.compress, t3 - t2);
    best.write = std::min(best.write, t4 - t3);
    best.bytes = n;
  }
  close(devnull);
  return best;
}

struct ProcessCost {
  double cpuMs = 0;
  long maxRssKb = 0;
  size_t outBytes = 0;
};

// The real filter on a raster file, as CUPS would start it.
ProcessCost run_filter(const std::string& rasterPath, const std::string& ppd) {
  TempDir dir;
  std::string out = dir.file("job.prn");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::string bin = binPath("rasterfilter"), ppdEnv = "PPD=" + ppdPath(ppd), file = rasterPath;
  std::vector<char*> argv = {bin.data(), const_cast<char*>("1"), const_cast<char*>("bench"),
                             const_cast<char*>("bench"), const_cast<char*>("1"), const_cast<char*>(""),
                             file.data(), nullptr};
  std::vector<char*> env = {ppdEnv.data(), nullptr};
  pid_t pid;
  posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&fa);
  int status;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  ProcessCost c;
  c.cpuMs = ru.ru_utime.tv_sec * 1e3 + ru.ru_utime.tv_usec / 1e3 + ru.ru_stime.tv_sec * 1e3 + ru.ru_stime.tv_usec / 1e3;
  c.maxRssKb = ru.ru_maxrss;
  struct stat st {};
  if (stat(out.c_str(), &st) == 0) c.outBytes = static_cast<size_t>(st.st_size);
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--measure") {
    ProcessCost p = run_filter(argv[3], argv[2]);
    std::printf("%8.1f ms  peak %6.1f MB  output %zu bytes\n", p.cpuMs, p.maxRssKb / 1024.0, p.outBytes);
    return 0;
  }
  std::string self = "/proc/self/exe";
  char exe[4096];
  ssize_t len = readlink(self.c_str(), exe, sizeof exe - 1);
  if (len > 0) self.assign(exe, static_cast<size_t>(len));
  const cups_page_header2_t h = a4();
  const unsigned w = h.cupsWidth, ht = h.cupsHeight;
  struct Kind {
    const char* name;
    std::string raster;
  } kinds[] = {{"text", rendered(kTextPage)},
               {"photo", rendered(kPhotoPage)},
               {"blank", raster_of({std::vector<uint8_t>(size_t{w} * ht, 255)})}};

  std::printf("A4 600 dpi pages (raster %ux%u), CPU ms, best of 5\n", w, ht);
  std::printf("%-8s %-6s %8s %9s %9s %7s %8s %10s\n", "class", "page", "read", "halftone", "compress", "write", "total", "bytes");
  struct Class {
    const char* name;
    rf::ModelClass cls;
    uint32_t iw, ih;
    const char* ppd;
  } classes[] = {{"Z", rf::PLATFORM_Z, 4736, 6780, "tesvel-tz3010.ppd"},
                 {"M", rf::PLATFORM_M, 4736, 6784, "tesvel-tm4010.ppd"}};
  for (const Class& c : classes)
    for (const Kind& k : kinds) {
      Stages s = stage_times(k.raster, c.cls, c.iw, c.ih, 5);
      std::fprintf(stdout, "%-8s %-6s %8.1f %9.1f %9.1f %7.1f %8.1f %10zu\n", c.name, k.name, s.read, s.halftone,
                   s.compress, s.write, s.halftone + s.compress + s.write, s.bytes);
    }

  // The filter is started from a small copy of this program, so that the
  // child's peak memory is its own and not this process's page buffers.
  std::printf("\nWhole filter process on one page (CPU ms including start-up, peak memory)\n");
  for (const Class& c : classes)
    for (const Kind& k : kinds) {
      TempDir dir;
      writeFile(dir.file("job.ras"), k.raster);
      ProcessOptions quiet;
      quiet.stdinFromDevNull = true;
      ProcessResult r = runProcess({self, "--measure", c.ppd, dir.file("job.ras")}, quiet);
      std::printf("%-8s %-6s %s", c.name, k.name, r.out.c_str());
    }
  return 0;
}
