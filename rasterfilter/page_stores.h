// Page stores: collated copies, the second pass of manual duplex and blank
// back sides.
//
// The writers copy every block that belongs to a page into the open stores
// (SendDataToFile with toPageStore 1).  At the end of the job the stores are
// sent again as they are: the copy store once per further copy, the odd
// store for the odd pages of further copies, the even store page by page
// from the last even page back to the first, so that the sheets the user
// turns over line up with their backs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <cups/raster.h>

#include "job_loop.h"
#include "model_classes.h"
#include "stream_records.h"

namespace rf {

// A replayed block that SendDataToFile reports as not sent is sent again
// at most this many times before the replay gives up with a report.
constexpr int kReplayRetries = 3;
constexpr size_t kCopyReplayBlock = 32768;  // blocks of the copy store replay
constexpr size_t kOddReplayBlock = 4096;    // blocks of the odd store replay
constexpr size_t kEvenReplayBlock = 65536;  // reads of one stored even page

// One store: a temporary file made by the bound cupsTempFd (in $TMPDIR as
// CUPS sets it).  Its name leaves the directory as soon as the file is
// open, so no store survives the job however the process ends; the
// descriptor is closed by close() or the destructor.
class StoreFile {
 public:
  StoreFile() = default;
  ~StoreFile() { close(); }
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // false when cupsTempFd could not make the file; name() may then hold
  // the name it tried.
  bool create();
  void close();
  int fd() const { return fd_; }  // 0 = not open (0 is never a store)
  const char* name() const { return name_; }

 private:
  int fd_ = 0;
  char name_[255] = {};
};

// The job's three stores.  Their descriptors are mirrored in g_job
// (copyStoreFd, oddPageStoreFd, evenPageStoreFd), where the output channel
// looks for them; closing a store zeroes its mirror.
class PageStores {
 public:
  PageStores() = default;
  ~PageStores() { closeAll(); }
  PageStores(const PageStores&) = delete;
  PageStores& operator=(const PageStores&) = delete;

  bool openCopyStore();
  // The odd store, then the even store; false at the first that fails,
  // with *failed pointing at it.
  bool openDuplexStores(const StoreFile** failed);
  void closeCopyStore();
  void closeOddStore();
  void closeEvenStore();
  void closeAll();

  const StoreFile& copyStore() const { return copy_; }
  const StoreFile& oddStore() const { return odd_; }
  const StoreFile& evenStore() const { return even_; }

 private:
  StoreFile copy_, odd_, even_;
};

// First page, right after the job start: the copy store for collated
// copies (Collate 1 and more than one copy), the odd and even stores for
// manual duplex (which also starts with stdoutEnabled 0).  false when a
// store cannot be created; the reason is on the CUPS log and the job must
// stop with exit status 1.
bool openPageStores(PageStores& stores, const RasterJob& job);

// Manual duplex: odd pages go to the printer (and the odd store), even
// pages only to the even store.
void routePageOutput(const RasterJob& job);

// One replay of a store from its start, in blocks of blockSize bytes.
// 1 when the store was sent to its end; 0 when SIGTERM, a read error or a
// block that could not be sent (after kReplayRetries further tries,
// reported) stopped it.  SIGTERM stops it at the next of `pageStarts`
// (offsets where stored pages begin; the start of the store is one), so
// the printer never gets part of a page.
int replayStore(int fd, size_t blockSize, const std::vector<int64_t>& pageStarts = {});

// The even pages, last to first: sizes[k] bytes of page 2k + 2 at the sum
// of the sizes before it.  Each page is sent once; a short read sends what
// was read.  Stops between pages on SIGTERM or a lost printer stream.
void sendEvenPagesReversed(int fd, const std::vector<int64_t>& sizes);

// End of job up to the job end: the blank back side of an odd automatic
// duplex job, then (unless cancelled) the collated copies and the second
// pass of manual duplex; every store is closed afterwards.  Stores that
// missed a write are not replayed: kIncompleteStoresText goes to the CUPS
// log instead.
void finishStoredPages(PageStores& stores, RasterJob& job);
extern const char kIncompleteStoresText[];

// One white page numbered pageCount + 1 in the frame of the last page.
void InsertBlankPage(PageStartRecord& record, ModelClass cls, cups_page_header2_t header);

}  // namespace rf
