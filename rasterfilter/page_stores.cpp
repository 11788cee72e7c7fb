#include "page_stores.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <initializer_list>
#include <memory>
#include <new>
#include <utility>

#include "band_compress.h"
#include "cups_binding.h"
#include "job_state.h"
#include "output_channel.h"
#include "page_image.h"
#include "page_stream.h"

namespace rf {

// ---- Stores ----

bool StoreFile::create() {
  close();
  int fd = cups().cupsTempFd(name_, sizeof name_);
  if (fd < 0) return false;
  if (fd == 0) {
    // The output channel reads descriptor 0 as "no store".
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    if (moved < 0) {
      unlink(name_);
      return false;
    }
    fd = moved;
  }
  // Only the descriptor is needed from here on; without a name in the
  // directory nothing is left behind, not even after SIGKILL.
  unlink(name_);
  fd_ = fd;
  return true;
}

void StoreFile::close() {
  if (fd_ > 0) ::close(fd_);
  fd_ = 0;
}

bool PageStores::openCopyStore() {
  const bool ok = copy_.create();
  g_job.copyStoreFd = copy_.fd();
  return ok;
}

bool PageStores::openDuplexStores(const StoreFile** failed) {
  for (StoreFile* store : {&odd_, &even_}) {
    if (!store->create()) {
      if (failed) *failed = store;
      return false;
    }
    if (store == &odd_) g_job.oddPageStoreFd = odd_.fd();
    else g_job.evenPageStoreFd = even_.fd();
  }
  return true;
}

void PageStores::closeCopyStore() {
  copy_.close();
  g_job.copyStoreFd = 0;
}

void PageStores::closeOddStore() {
  odd_.close();
  g_job.oddPageStoreFd = 0;
}

void PageStores::closeEvenStore() {
  even_.close();
  g_job.evenPageStoreFd = 0;
}

void PageStores::closeAll() {
  closeCopyStore();
  closeOddStore();
  closeEvenStore();
}

namespace {

void report_store_failure(const StoreFile& store) {
  char text[300];
  std::snprintf(text, sizeof text, "%s file open fail", store.name());
  writeErrorLines(text);
}

}  // namespace

bool openPageStores(PageStores& stores, const RasterJob& job) {
  const JobSettings& s = job.settings;
  if (s[JobKey::Collate] == 1 && job.header.NumCopies > 1 && !stores.openCopyStore()) {
    report_store_failure(stores.copyStore());
    return false;
  }
  if (s[JobKey::ManualDuplex] == 1) {
    g_job.stdoutEnabled = 0;
    const StoreFile* failed = nullptr;
    if (!stores.openDuplexStores(&failed)) {
      report_store_failure(*failed);
      return false;
    }
  }
  return true;
}

void routePageOutput(const RasterJob& job) {
  if (job.settings[JobKey::ManualDuplex] == 1) g_job.stdoutEnabled = g_job.pageCount % 2 == 1 ? 1 : 0;
}

// ---- Replays ----

namespace {

bool send_with_retries(const uint8_t* data, int length) {
  for (int attempt = 0; attempt <= kReplayRetries; ++attempt)
    if (SendDataToFile(data, length, 0) == 1) return true;
  return false;
}

// pread that continues after EINTR; the count read, 0 at end of file, -1
// on error.
ssize_t read_at(int fd, uint8_t* buf, size_t length, off_t offset) {
  for (;;) {
    const ssize_t n = pread(fd, buf, length, offset);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

int replayStore(int fd, size_t blockSize, const std::vector<int64_t>& pageStarts) {
  if (fd <= 0 || blockSize == 0) return 0;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[blockSize]);
  if (!block) return 0;
  off_t offset = 0;
  size_t nextPage = 0;  // the first page start beyond offset
  for (;;) {
    while (nextPage < pageStarts.size() && pageStarts[nextPage] <= offset) ++nextPage;
    size_t want = blockSize;
    if (g_job.cancelRequested) {
      // Stop where a page begins; until then finish the page in flight.
      if (offset == 0 || (nextPage > 0 && pageStarts[nextPage - 1] == offset)) return 0;
      if (nextPage < pageStarts.size())
        want = std::min<size_t>(want, static_cast<size_t>(pageStarts[nextPage] - offset));
    }
    const ssize_t n = read_at(fd, block.get(), want, offset);
    if (n == 0) return g_job.cancelRequested ? 0 : 1;
    if (n < 0) return 0;
    if (!send_with_retries(block.get(), static_cast<int>(n))) {
      failureReport("replayStore() :: Send stored block Fail ! \n");
      return 0;
    }
    offset += n;
  }
}

void sendEvenPagesReversed(int fd, const std::vector<int64_t>& sizes) {
  if (fd <= 0 || sizes.empty()) return;
  std::vector<int64_t> start(sizes.size(), 0);
  for (size_t k = 1; k < sizes.size(); ++k) start[k] = start[k - 1] + sizes[k - 1];
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kEvenReplayBlock]);
  if (!block) return;
  for (size_t k = sizes.size(); k-- > 0;) {
    if (g_job.cancelRequested || g_job.stdoutFailed) return;
    int64_t left = sizes[k];
    off_t offset = static_cast<off_t>(start[k]);
    while (left > 0) {
      const size_t want = left < static_cast<int64_t>(kEvenReplayBlock) ? static_cast<size_t>(left)
                                                                        : kEvenReplayBlock;
      const ssize_t n = read_at(fd, block.get(), want, offset);
      if (n <= 0) break;
      SendDataToFile(block.get(), static_cast<int>(n), 0);
      if (static_cast<size_t>(n) < want) break;  // a short read ends the page
      offset += n;
      left -= n;
    }
  }
}

// ---- End of job ----

const char kIncompleteStoresText[] =
    "The stored pages could not be written in full; the further copies and back sides are not sent.\n";

namespace {

void replay_collated_copies(PageStores& stores, int replayCopies) {
  for (int copy = 1; copy < replayCopies && !g_job.cancelRequested; ++copy) {
    const int sent = replayStore(stores.copyStore().fd(), kCopyReplayBlock, g_job.copyStorePages.starts);
    std::fflush(stdout);
    if (!sent) break;
  }
  stores.closeCopyStore();
}

// A white back for the last sheet, framed like the last page.  Without a
// page that made it to the printer there is no frame to copy.
void blank_back(RasterJob& job) {
  if (job.lastPageStart.imageWidth == 0 || job.lastPageStart.imageHeight == 0) return;
  InsertBlankPage(job.lastPageStart, job.modelClass, job.header);
}

// The user turns the printed stack over; the back sides follow.
void second_pass(PageStores& stores, RasterJob& job) {
  const JobSettings& s = job.settings;
  char prompt[sizeof job.manualDuplexPrompt + 8];
  std::snprintf(prompt, sizeof prompt, "INFO:%s\n", job.manualDuplexPrompt);
  writeDiag(prompt);
  g_job.stdoutEnabled = 1;

  int repetitions = 1;
  if (s[JobKey::Collate] == 1) {
    // The odd pages of the further copies, before the stack is turned.
    for (int copy = 1; copy < job.replayCopies && !g_job.cancelRequested; ++copy) {
      g_job.stdoutEnabled = 1;
      const int sent = replayStore(stores.oddStore().fd(), kOddReplayBlock, g_job.oddStorePages.starts);
      std::fflush(stdout);
      if (!sent) break;
    }
    repetitions = job.replayCopies;
  }
  stores.closeOddStore();

  if (SendManualDuplexCmd(job.modelClass) == 0)
    failureReport("main() :: Send manual duplex command Fail ! \n");

  const bool oddJob = g_job.pageCount % 2 == 1;
  const int order = s[JobKey::outputorder];
  for (int rep = 0; rep < repetitions && !g_job.cancelRequested; ++rep) {
    // An odd job's last sheet has no back: a white page keeps the stack
    // in step, first or last as the pages come out of the printer.
    if (oddJob && order == 0) blank_back(job);
    sendEvenPagesReversed(stores.evenStore().fd(), g_job.evenPageSizes);
    if (oddJob && order == 1) blank_back(job);
    std::fflush(stdout);
  }
  stores.closeEvenStore();
}

}  // namespace

void finishStoredPages(PageStores& stores, RasterJob& job) {
  const JobSettings& s = job.settings;
  g_job.outputBusy = 1;
  if (s[JobKey::Duplex] != 0 && g_job.pageCount % 2 == 1) blank_back(job);
  g_job.outputBusy = 1;
  // A store that missed a block would replay a broken stream.
  const bool storesWhole = g_job.storeFailed == 0;
  if (!storesWhole && !g_job.cancelRequested) writeErrorLines(kIncompleteStoresText);
  if (!g_job.cancelRequested && !g_job.stdoutFailed && storesWhole) {
    if (s[JobKey::Collate] == 1 && job.replayCopies > 1 && s[JobKey::ManualDuplex] != 1)
      replay_collated_copies(stores, job.replayCopies);
    if (s[JobKey::ManualDuplex] == 1) second_pass(stores, job);
  }
  // A cancelled job still ends on the printer: everything it sends from
  // here on goes out.
  g_job.stdoutEnabled = 1;
  stores.closeAll();
}

// ---- Blank page ----

void InsertBlankPage(PageStartRecord& record, ModelClass cls, cups_page_header2_t header) {
  uint32_t width = record.imageWidth;
  uint32_t height = record.imageHeight;
  const int32_t doubled = record.doubleDepth;
  g_job.outputBusy = 1;

  record.pageNumber = static_cast<uint16_t>(g_job.pageCount + 1);
  if (Prnt_StartPage(&record, cls) == 0) failureReport("InsertBlankPage() :: Start page Fail ! \n");

  if (record.specFlagsB == 0x40) std::swap(width, height);
  // In the widened 1200-dpi mode the image code reads lines of twice the
  // width, so the white page must be that large too.
  const bool twice = doubled != 0 || bandWideLines;
  const uint64_t bytes = uint64_t{width} * height * (twice ? 2 : 1) / 8;
  std::unique_ptr<uint8_t[]> page(new (std::nothrow) uint8_t[bytes > 0 ? bytes : 1]());

  PageImageRecord image{};
  image.imageFlags3 = 0x20;
  image.imageWidth = static_cast<uint16_t>(doubled == 1 ? 2 * width : width);
  image.imageHeight = static_cast<uint16_t>(height);
  if (cls == PLATFORM_C) {
    image.imageParam = static_cast<uint16_t>(width);
    image.stripeLines = header.HWResolution[0] == 600 ? 768 : 384;
    image.dataSize = 853;
  }
  image.pageBitmap = page.get();
  if (!page) {
    std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s",
                  "InsertBlankPage() :: malloc memory Fail. \n");
    failureReport("InsertBlankPage() :: Send page Fail!\n");
  } else if (Prnt_SendPage(&image, cls) == 0) {
    failureReport("InsertBlankPage() :: Send page Fail!\n");
  }
  page.reset();

  PageEndRecord end{};
  end.pageNumber = g_job.pageCount + 1;
  if (Prnt_EndPage(&end, cls) == 0) failureReport("InsertBlankPage() :: End page Fail ! \n");
}

}  // namespace rf
