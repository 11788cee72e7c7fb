#include "seed_streams.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "band_compress.h"
#include "job_state.h"
#include "job_stream.h"
#include "page_image.h"
#include "page_stream.h"

using namespace rf;

namespace {

std::string one_page_job(ModelClass cls, const char* model) {
  resetJobState();
  std::snprintf(g_job.modelName, sizeof g_job.modelName, "%s", model);
  const int fd = memfd_create("stream", MFD_CLOEXEC);
  if (fd < 0) return "";
  g_job.outputFd = fd;
  g_job.pageCount = 1;

  JobStartRecord start{};
  start.jobId = 7;
  start.jobSpecBits = cls == PLATFORM_M ? 0 : 0x10;
  start.density = 2;
  Prnt_StartDoc(&start, cls);
  PageStartRecord page{};
  page.paperCode = cls == PLATFORM_C ? 255 : 0;
  page.xResolution = page.yResolution = cls == PLATFORM_M ? 600 : 60;
  page.copies = 1;
  page.pageNumber = 1;
  page.paperWidthDots = page.imageWidth = 64;
  page.paperHeightDots = page.imageHeight = 300;
  page.density = 2;
  Prnt_StartPage(&page, cls);
  std::vector<uint8_t> bits(64 / 8 * 300);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 37);
  for (uint8_t b : bits) g_job.dotCount += static_cast<uint64_t>(__builtin_popcount(b));
  PageImageRecord image{};
  image.imageFlags3 = 0x20;
  image.imageWidth = 64;
  image.imageHeight = 300;
  if (cls == PLATFORM_C) {
    image.imageParam = 64;
    image.stripeLines = 768;
    image.dataSize = 853;
  }
  image.pageBitmap = bits.data();
  bandWideLines = false;
  Prnt_SendPage(&image, cls);
  PageEndRecord end{};
  end.pageNumber = 1;
  end.resolution = 600;
  end.paperSizeMm = 210;
  end.densityLevel = 2;
  Prnt_EndPage(&end, cls);
  JobEndRecord jobEnd{};
  jobEnd.pageNumber = 1;
  Prnt_EndDoc(&jobEnd, cls);

  std::string out;
  const off_t length = lseek(fd, 0, SEEK_END);
  out.resize(static_cast<size_t>(length > 0 ? length : 0));
  if (pread(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) out.clear();
  close(fd);
  resetJobState();
  return out;
}

}  // namespace

std::vector<std::string> printerStreamSeeds() {
  return {one_page_job(PLATFORM_C, "Tesvel TC1110 Series"), one_page_job(PLATFORM_Z, "Tesvel TZ3010 Series"),
          one_page_job(PLATFORM_Z, "Tesvel TXA Series"), one_page_job(PLATFORM_M, "Tesvel TM4010 Series")};
}
