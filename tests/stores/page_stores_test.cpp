// Page stores, their replays and blank pages, in process: the stores are
// real temporary files from cupsTempFd, the pages are made by the real
// writers, and the result is read back by the stream inspector.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cups_binding.h"
#include "job_state.h"
#include "output_channel.h"
#include "page_stores.h"
#include "stores_test_util.h"

using namespace rf;
using stores_test::Capture;
using stores_test::dirEntries;
using stores_test::pageSequence;
using stores_test::StoreFixture;

namespace {

bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

bool isOpen(int fd) { return fd > 0 && fcntl(fd, F_GETFD) != -1; }

std::string readAll(int fd) {
  std::string s;
  char buf[4096];
  off_t at = 0;
  for (ssize_t n; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n) s.append(buf, size_t(n));
  return s;
}

// cupsTempFd that fails from its n-th call on, naming the file it tried.
int g_tempCalls = 0;
int g_failFrom = 1;
int failingTempFd(char* name, int len) {
  if (++g_tempCalls >= g_failFrom) {
    std::snprintf(name, size_t(len), "/nonexistent/store%d", g_tempCalls);
    return -1;
  }
  return cupsTempFd(name, len);
}

struct StoresTest : StoreFixture {
  void SetUp() override {
    StoreFixture::SetUp();
    saved = cups();
  }
  void TearDown() override {
    cups() = saved;
    setOutputWriter(nullptr);
    EXPECT_TRUE(dirEntries(tmp.path()).empty()) << "a store was left in $TMPDIR";
    StoreFixture::TearDown();
  }
  RasterJob jobWith(int collate, int copies, int manualDuplex) {
    RasterJob job;
    job.settings[JobKey::Collate] = collate;
    job.settings[JobKey::ManualDuplex] = manualDuplex;
    job.header.NumCopies = unsigned(copies);
    return job;
  }
  CupsBinding saved;
};

std::vector<std::string> seq(std::initializer_list<const char*> items) {
  return std::vector<std::string>(items.begin(), items.end());
}

}  // namespace

TEST_F(StoresTest, AStoreLivesInTmpdirOnlyAsADescriptor) {
  int fd = 0;
  {
    PageStores stores;
    ASSERT_TRUE(stores.openCopyStore());
    fd = stores.copyStore().fd();
    EXPECT_EQ(g_job.copyStoreFd, fd);
    EXPECT_EQ(std::string(stores.copyStore().name()).rfind(tmp.path() + "/", 0), 0u)
        << stores.copyStore().name();
    EXPECT_TRUE(dirEntries(tmp.path()).empty());  // the name is gone at once
    ASSERT_EQ(write(fd, "abc", 3), 3);
    EXPECT_EQ(readAll(fd), "abc");
  }
  EXPECT_FALSE(isOpen(fd));  // closed when the store set goes
}

TEST_F(StoresTest, TheJobOptionsDecideWhichStoresOpen) {
  struct Case {
    int collate, copies, manualDuplex;
    bool copy, duplex;
    int stdoutEnabled;
  } cases[] = {
      {1, 3, 0, true, false, 1},  {1, 1, 0, false, false, 1}, {0, 3, 0, false, false, 1},
      {0, 1, 1, false, true, 0},  {1, 2, 1, true, true, 0},
  };
  for (const Case& c : cases) {
    resetJobState();
    g_job.diagFd = log.fd();
    PageStores stores;
    RasterJob job = jobWith(c.collate, c.copies, c.manualDuplex);
    ASSERT_TRUE(openPageStores(stores, job));
    EXPECT_EQ(g_job.copyStoreFd != 0, c.copy) << c.collate << c.copies << c.manualDuplex;
    EXPECT_EQ(g_job.oddPageStoreFd != 0, c.duplex);
    EXPECT_EQ(g_job.evenPageStoreFd != 0, c.duplex);
    EXPECT_EQ(g_job.stdoutEnabled, c.stdoutEnabled);
    stores.closeAll();
    EXPECT_EQ(g_job.copyStoreFd + g_job.oddPageStoreFd + g_job.evenPageStoreFd, 0);
  }
}

TEST_F(StoresTest, AStoreThatCannotBeMadeIsReportedAndLeavesNothingOpen) {
  struct Case {
    const char* what;
    int collate, manualDuplex, failFrom;
    const char* report;
  } cases[] = {
      {"copy store", 1, 0, 1, "ERROR: /nonexistent/store1 file open fail\n"},
      {"odd store", 0, 1, 1, "ERROR: /nonexistent/store1 file open fail\n"},
      {"even store", 0, 1, 2, "ERROR: /nonexistent/store2 file open fail\n"},
  };
  for (const Case& c : cases) {
    Capture fresh;
    g_job.diagFd = fresh.fd();
    g_tempCalls = 0;
    g_failFrom = c.failFrom;
    cups().cupsTempFd = failingTempFd;
    int oddFd = 0;
    {
      PageStores stores;
      EXPECT_FALSE(openPageStores(stores, jobWith(c.collate, 2, c.manualDuplex))) << c.what;
      oddFd = stores.oddStore().fd();
    }
    EXPECT_EQ(fresh.text(), c.report) << c.what;
    EXPECT_FALSE(isOpen(oddFd)) << c.what;
    EXPECT_EQ(g_job.copyStoreFd + g_job.oddPageStoreFd + g_job.evenPageStoreFd, 0) << c.what;
  }
}

TEST_F(StoresTest, AReplaySendsTheStoreFromItsStartEveryTime) {
  PageStores stores;
  ASSERT_TRUE(stores.openCopyStore());
  std::string data;
  for (int i = 0; i < 2 * 4096 + 1; ++i) data += char('a' + i % 26);
  ASSERT_EQ(write(stores.copyStore().fd(), data.data(), data.size()), ssize_t(data.size()));
  EXPECT_EQ(replayStore(stores.copyStore().fd(), kOddReplayBlock), 1);
  EXPECT_EQ(replayStore(stores.copyStore().fd(), kCopyReplayBlock), 1);
  EXPECT_EQ(out.text(), data + data);

  g_job.cancelRequested = 1;
  EXPECT_EQ(replayStore(stores.copyStore().fd(), kCopyReplayBlock), 0);
  EXPECT_EQ(out.text(), data + data);
}

namespace {
// The printer takes each block; the first one brings a SIGTERM with it.
ssize_t cancelOnFirstBlock(int fd, const void* data, size_t count) {
  if (fd == g_job.outputFd) g_job.cancelRequested = 1;
  return write(fd, data, count);
}
}  // namespace

TEST_F(StoresTest, ASigtermDuringAReplayStillSendsThePageInFlightToItsEnd) {
  PageStores stores;
  ASSERT_TRUE(stores.openCopyStore());
  // Three stored pages of 10000, 50000 and 7000 bytes.
  const std::string data = std::string(10000, 'a') + std::string(50000, 'b') + std::string(7000, 'c');
  ASSERT_EQ(write(stores.copyStore().fd(), data.data(), data.size()), ssize_t(data.size()));
  const std::vector<int64_t> starts = {0, 10000, 60000};
  setOutputWriter(cancelOnFirstBlock);
  // The first 4096-byte block falls into page 1: the replay ends with it.
  EXPECT_EQ(replayStore(stores.copyStore().fd(), kOddReplayBlock, starts), 0);
  EXPECT_EQ(out.text(), data.substr(0, 10000));
  // A 32768-byte block reaches into page 2, which is then sent whole.
  g_job.cancelRequested = 0;
  EXPECT_EQ(replayStore(stores.copyStore().fd(), 32768, starts), 0);
  EXPECT_EQ(out.text(), data.substr(0, 10000) + data.substr(0, 60000));
  setOutputWriter(nullptr);
}

namespace {
// The printer stream fails; the CUPS log still works.
int g_writes = 0;
ssize_t deadPrinter(int fd, const void* data, size_t count) {
  if (fd != g_job.outputFd) return write(fd, data, count);
  ++g_writes;
  errno = EIO;
  return -1;
}
}  // namespace

TEST_F(StoresTest, AReplayIntoADeadPrinterGivesUpAndSaysSo) {
  PageStores stores;
  ASSERT_TRUE(stores.openCopyStore());
  std::string data(100000, 'x');
  ASSERT_EQ(write(stores.copyStore().fd(), data.data(), data.size()), ssize_t(data.size()));
  g_writes = 0;
  setOutputWriter(deadPrinter);
  EXPECT_EQ(replayStore(stores.copyStore().fd(), kCopyReplayBlock), 0);
  EXPECT_LE(g_writes, 1 + kReplayRetries);
  EXPECT_TRUE(has(log.text(), "ERROR: replayStore() :: Send stored block Fail ! \n")) << log.text();
}

TEST_F(StoresTest, EvenPagesComeBackLastToFirst) {
  PageStores stores;
  ASSERT_TRUE(stores.openDuplexStores(nullptr));
  const int fd = stores.evenStore().fd();
  const std::string big(70000, 'D');  // more than one read
  const std::string data = "aaa" + std::string("bbbbb") + "cc" + big;
  ASSERT_EQ(write(fd, data.data(), data.size()), ssize_t(data.size()));
  sendEvenPagesReversed(fd, {3, 5, 2, int64_t(big.size())});
  EXPECT_EQ(out.text(), big + "cc" + "bbbbb" + "aaa");

  // A page the store holds only part of is sent as far as it goes.
  Capture second;
  g_job.outputFd = second.fd();
  sendEvenPagesReversed(fd, {3, 5, 2, int64_t(big.size()) + 10});
  EXPECT_EQ(second.text(), big + "cc" + "bbbbb" + "aaa");
}

TEST_F(StoresTest, ABlankPageIsWhiteAndNumberedAfterTheLastPage) {
  struct Case {
    const char* what;
    ModelClass cls;
    uint16_t specFlagsB;
    int32_t doubleDepth;
    std::string size;  // as the inspector reports it
  } cases[] = {
      {"PLATFORM_Z", PLATFORM_Z, 0, 0, "width=64 height=16"},
      {"PLATFORM_C", PLATFORM_C, 0, 0, "width=64 height=16"},
      {"A5 fed long edge", PLATFORM_Z, 0x40, 0, "width=16 height=64"},
      {"double depth", PLATFORM_Z, 0, 1, "width=128 height=16"},
  };
  for (const Case& c : cases) {
    resetJobState();
    Capture stream;
    g_job.outputFd = stream.fd();
    g_job.diagFd = log.fd();
    g_job.pageCount = 7;
    PageStartRecord rec{};
    rec.paperCode = c.specFlagsB ? 18 : 1;
    rec.xResolution = rec.yResolution = 60;
    rec.copies = 1;
    rec.pageNumber = 7;
    rec.imageWidth = 64;
    rec.imageHeight = 16;
    rec.specFlagsB = c.specFlagsB;
    rec.doubleDepth = c.doubleDepth;
    cups_page_header2_t header{};
    header.HWResolution[0] = 600;
    InsertBlankPage(rec, c.cls, header);
    EXPECT_EQ(rec.pageNumber, 8) << c.what;
    EXPECT_EQ(g_job.pageCount, 7) << c.what;
    EXPECT_EQ(pageSequence(stream.text(), c.cls == PLATFORM_C ? "C" : "Z"), seq({"page 8"})) << c.what;
    const std::string text = stores_test::inspectorListing(stream.text(), c.cls == PLATFORM_C ? "C" : "Z");
    EXPECT_TRUE(has(text, c.size + " depth=1 black=0 ")) << c.what << "\n" << text;
  }
}

namespace {
// Writes to the page stores fail (a full $TMPDIR); the printer is fine.
ssize_t fullDisk(int fd, const void* data, size_t count) {
  if (fd == g_job.copyStoreFd || fd == g_job.oddPageStoreFd || fd == g_job.evenPageStoreFd) {
    errno = ENOSPC;
    return -1;
  }
  return write(fd, data, count);
}
}  // namespace

TEST_F(StoresTest, StoresThatMissedABlockAreNotReplayed) {
  for (int manualDuplex : {0, 1}) {
    resetJobState();
    Capture stream, fresh;
    g_job.outputFd = stream.fd();
    g_job.diagFd = fresh.fd();
    PageStores stores;
    RasterJob job = jobWith(1, 3, manualDuplex);
    job.replayCopies = 3;
    ASSERT_TRUE(openPageStores(stores, job));
    setOutputWriter(fullDisk);
    for (int p = 1; p <= 2; ++p) {
      g_job.pageCount = p;
      routePageOutput(job);
      SendDataToFile("page", 4, 1);
    }
    setOutputWriter(nullptr);
    finishStoredPages(stores, job);
    EXPECT_EQ(stream.text(), manualDuplex ? "page" : "pagepage") << "nothing replayed";
    EXPECT_TRUE(has(fresh.text(), std::string("ERROR: ") + kIncompleteStoresText)) << fresh.text();
    EXPECT_EQ(g_job.copyStoreFd + g_job.oddPageStoreFd + g_job.evenPageStoreFd, 0);
  }
}
