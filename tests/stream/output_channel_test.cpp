// SendDataToFile: where a block goes, what the result says, and how the
// channel behaves when the printer stream or a page store breaks.
#include <fcntl.h>

#include <csignal>

#include "keepalive.h"
#include "stream_test_util.h"

namespace rf::test {
namespace {

class OutputChannel : public StreamTest {
 protected:
  Capture copyStore, oddStore, evenStore;
};

TEST_F(OutputChannel, BlocksGoToThePrinterAndTheStoresThatApply) {
  const struct {
    const char* what;
    int stdoutEnabled, toPageStore, pageCount;
    bool copyOpen, oddOpen, evenOpen;
    bool toOut, toCopy, toOdd, toEven;
    int result;
  } cases[] = {
      {"even page of a manual duplex job", 0, 1, 4, false, true, true, false, false, false, true, 1},
      {"job-level text is sent once", 1, 0, 3, true, true, true, true, false, false, false, 1},
      {"odd page with copy store", 1, 1, 3, true, true, false, true, true, true, false, 1},
      {"even page, every store open", 1, 1, 2, true, true, true, true, true, false, true, 1},
      {"printer off and no store: nothing sent", 0, 1, 3, false, false, true, false, false, false, false, 0},
      {"printer off, toPageStore 0", 0, 0, 4, true, true, true, false, false, false, false, 0},
  };
  const std::string block = "\x0B\x04\x18\xD9page";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Capture o, cs, os, es;
    resetJobState();
    g_job.outputFd = o.fd();
    g_job.stdoutEnabled = c.stdoutEnabled;
    g_job.pageCount = c.pageCount;
    g_job.copyStoreFd = c.copyOpen ? cs.fd() : 0;
    g_job.oddPageStoreFd = c.oddOpen ? os.fd() : 0;
    g_job.evenPageStoreFd = c.evenOpen ? es.fd() : 0;
    EXPECT_EQ(SendDataToFile(block.data(), static_cast<int>(block.size()), c.toPageStore), c.result);
    EXPECT_EQ(o.text(), c.toOut ? block : "");
    EXPECT_EQ(cs.text(), c.toCopy ? block : "");
    EXPECT_EQ(os.text(), c.toOdd ? block : "");
    EXPECT_EQ(es.text(), c.toEven ? block : "");
    const size_t slot = static_cast<size_t>(c.pageCount / 2 - 1);
    if (c.toEven) {
      ASSERT_GT(g_job.evenPageSizes.size(), slot);
      EXPECT_EQ(g_job.evenPageSizes[slot], static_cast<int64_t>(block.size()));
    }
    EXPECT_EQ(g_job.outputBusy, 1);
  }
}

TEST_F(OutputChannel, EvenPageSizesAddUpPerPage) {
  g_job.stdoutEnabled = 0;
  g_job.evenPageStoreFd = evenStore.fd();
  const char data[100] = {};
  for (int page : {2, 2, 4, 6, 6, 6}) {
    g_job.pageCount = page;
    ASSERT_EQ(SendDataToFile(data, page * 10, 1), 1);
  }
  EXPECT_EQ(g_job.evenPageSizes, (std::vector<int64_t>{40, 40, 180}));
  EXPECT_EQ(evenStore.bytes().size(), 260u);
}

TEST_F(OutputChannel, NullDataWritesNothingAndSaysSo) {
  std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s", "an older report that is longer");
  g_job.copyStoreFd = copyStore.fd();
  EXPECT_EQ(SendDataToFile(nullptr, 10, 1), 0);
  EXPECT_STREQ(g_job.errorText, "SendDataToFile() :: NULL == pData");
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(copyStore.text(), "");
}

TEST_F(OutputChannel, AnEmptyBlockIsSentSuccessfully) {
  EXPECT_EQ(SendDataToFile("", 0, 1), 1);
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(g_job.stdoutFailed, 0);
}

ssize_t three_bytes_at_a_time(int fd, const void* data, size_t count) {
  static int calls = 0;
  if (++calls % 4 == 0) {  // now and then a signal cuts in
    errno = EINTR;
    return -1;
  }
  return ::write(fd, data, count < 3 ? count : 3);
}

TEST_F(OutputChannel, ShortWritesAreContinuedUntilTheBlockIsWhole) {
  setOutputWriter(three_bytes_at_a_time);
  g_job.copyStoreFd = copyStore.fd();
  std::string block;
  for (int i = 0; i < 100; ++i) block += static_cast<char>('A' + i % 26);
  EXPECT_EQ(SendDataToFile(block.data(), static_cast<int>(block.size()), 1), 1);
  EXPECT_EQ(out.text(), block);
  EXPECT_EQ(copyStore.text(), block);
}

TEST_F(OutputChannel, AFullPrinterStreamEndsAllFurtherOutput) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  g_job.outputFd = full;
  g_job.copyStoreFd = copyStore.fd();
  g_job.pageCount = 1;
  EXPECT_EQ(SendDataToFile("abcd", 4, 1), 0);
  EXPECT_EQ(g_job.stdoutFailed, 1);
  EXPECT_EQ(copyStore.text(), "") << "a block the printer did not get must not be replayed";
  g_job.outputFd = out.fd();  // even a working descriptor gets nothing more
  EXPECT_EQ(SendDataToFile("efgh", 4, 1), 0);
  EXPECT_EQ(out.text(), "");
  close(full);
}

TEST_F(OutputChannel, AVanishedBackEndIsAFailedWriteNotADeadFilter) {
  installSignalHandlers();  // SIGPIPE ignored
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  g_job.outputFd = fds[1];
  EXPECT_EQ(SendDataToFile("abcd", 4, 0), 0);
  EXPECT_EQ(g_job.stdoutFailed, 1);
  close(fds[1]);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
}

TEST_F(OutputChannel, StoreAndPrinterResultsAreKeptApart) {
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  g_job.pageCount = 3;
  // The printer got the record: a broken store does not make it "unsent".
  g_job.copyStoreFd = full;
  g_job.oddPageStoreFd = oddStore.fd();
  EXPECT_EQ(SendDataToFile("abcd", 4, 1), 1);
  EXPECT_EQ(out.text(), "abcd");
  EXPECT_EQ(oddStore.text(), "abcd");
  EXPECT_EQ(g_job.storeFailed, 1);
  EXPECT_EQ(g_job.stdoutFailed, 0);
  // With the printer off the stores are the destination: their failure counts.
  g_job.stdoutEnabled = 0;
  EXPECT_EQ(SendDataToFile("efgh", 4, 1), 0);
  // A later good store write does not hide an earlier bad one in the same call.
  g_job.copyStoreFd = oddStore.fd();
  g_job.oddPageStoreFd = full;
  EXPECT_EQ(SendDataToFile("ijkl", 4, 1), 0);
  close(full);
}

TEST_F(OutputChannel, ErrorTextIsPrependedAndCutTo1023Characters) {
  const std::string longText(1500, 'x');
  const struct {
    std::string before, added, expected;
  } cases[] = {
      {"", "A :: fail\n", "A :: fail\n"},
      {"B :: fail\n", "A :: fail\n", "A :: fail\nB :: fail\n"},
      {"B", longText, longText.substr(0, 1023)},
      {std::string(1023, 'y'), "A\n", "A\n" + std::string(1021, 'y')},
  };
  for (const auto& c : cases) {
    std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s", c.before.c_str());
    prependErrorText(c.added.c_str());
    EXPECT_EQ(std::string(g_job.errorText), c.expected);
  }
}

TEST_F(OutputChannel, FailureReportsGoToTheLogAsErrorLines) {
  std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s",
                "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n");
  failureReport("main() :: Start doc Fail ! \n");
  EXPECT_EQ(diag.text(),
            "ERROR: main() :: Start doc Fail ! \n"
            "ERROR: Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n");
  EXPECT_EQ(std::string(g_job.errorText),
            "main() :: Start doc Fail ! \nPrnt_StartDoc() :: send cmdDensity Fail 0 ==  \n");
  EXPECT_EQ(out.text(), "") << "nothing of a report may land in the printer data";
}

TEST_F(OutputChannel, JobEndingReportsNameTheirCause) {
  reportUnsupportedModel("Tesvel Unknown Series");
  reportOutputLost();
  const std::string log = diag.text();
  EXPECT_EQ(log.rfind("ERROR: ", 0), 0u);
  EXPECT_NE(log.find("\"Tesvel Unknown Series\""), std::string::npos);
  EXPECT_NE(log.find(std::string("ERROR: ") + kOutputLostText), std::string::npos);
  EXPECT_EQ(out.text(), "");
}

}  // namespace
}  // namespace rf::test
