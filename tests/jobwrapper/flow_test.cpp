// The copy loops of the PostScript road, the colour road's copy and the
// spooling of standard input, run in-process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "job_flow.h"
#include "output_capture.h"
#include "pjl_header.h"
#include "text_io.h"
#include "wrapper_state.h"

using namespace jw;

namespace {

const std::string kTrailer(kCancelTrailer, kCancelTrailerLength);

std::string hostName() {
  char host[256] = "";
  gethostname(host, sizeof host);
  return host;
}

std::string ownerLines(const std::string& jobId) {
  return "@PJL SET JOBOWNER=\"" + hostName() + "\"\r\n@PJL SET JOBID=" + jobId + "\r\n";
}

const std::string kHeader =
    "\x1b%-12345X@PJL\n@PJL JOB NAME = \"doc\" DISPLAY = \"42 u doc\"\n"
    "@PJL ENTER LANGUAGE = POSTSCRIPT\n%!PS-Adobe-3.0\n";
const std::string kSetup =
    "%%BeginSetup\n%RBIBeginNonPPDFeature: *NumCopies 2\n"
    "{1 dict begin/NumCopies exch def currentdict end setpagedevice}\n"
    "%RBIEndNonPPDFeature\n%%EndSetup\n";
std::string page(int n) {
  return "%%Page: " + std::to_string(n) + " " + std::to_string(n) +
         "\n<</Type/Page/MediaBox [0 0 595 842]\n(page " + std::to_string(n) +
         ") show showpage\n%%PageTrailer\n";
}
const std::string kEnd = "%%Trailer\n%%EOF\n\x1b%-12345X@PJL EOJ\n\x1b%-12345X";

class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override { resetWrapperState(); }

  std::string job(const std::string& text, const std::string& name = "job") {
    std::string path = dir.file(name);
    jwtest::writeFile(path, text);
    return path;
  }

  // WriteMonoJob on text; returns the job output, stderr in log.
  std::string mono(const std::string& text) {
    std::string path = job(text);
    jwtest::OutputCapture out;
    const char* argv[7] = {"q", "42", "u", "doc", "2", "", path.c_str()};
    testing::internal::CaptureStderr();
    WriteMonoJob(argv, path.c_str());
    log = testing::internal::GetCapturedStderr();
    return out.text();
  }

  jwtest::TempDir dir;
  std::string log;
};

}  // namespace

TEST_F(FlowTest, BlockModeCopiesTheJobUnchangedAndCountsItsPages) {
  std::string text = kHeader + kSetup + page(1) + page(2) + kEnd;
  EXPECT_EQ(mono(text), text);
  // The setup asks the printer for two copies of each page.
  EXPECT_NE(log.find("PAGE: 1 2\n"), std::string::npos);
  EXPECT_NE(log.find("PAGE: 2 2\n"), std::string::npos);
  EXPECT_EQ(log.find("PAGE: 3 "), std::string::npos);
  EXPECT_EQ(log.find("JOBOWNER"), std::string::npos);
}

TEST_F(FlowTest, BlockModeCutsAtTheNextPageAfterTheSetupBlock) {
  // Block 1 (8192 bytes) holds "%%EndSetup\n%%Page: 1 1": never cut there.
  std::string head = kHeader + kSetup + page(1).substr(0, 12);
  std::string block1 = head + std::string(8192 - head.size() - 1, '%') + "\n";
  ASSERT_EQ(block1.size(), 8192u);
  std::string block2 = "showpage\n%%PageTrailer\n" + page(2) + kEnd;
  g_wrap.cancel_job = 1;
  std::string out = mono(block1 + block2);
  EXPECT_EQ(out, block1 + "showpage\n%%PageTrailer\n" + kTrailer);
  EXPECT_NE(log.find("find page end\n"), std::string::npos);
  EXPECT_NE(log.find("data_buf = " + kTrailer + ", len = 69\n"), std::string::npos);
}

TEST_F(FlowTest, LineModeAddsOwnerAndJobIdBehindTheJobNameLine) {
  g_wrap.g_bJobControlModel = 1;
  std::string text = kHeader + kSetup + page(1) + kEnd;
  std::string out = mono(text);
  std::string nameLine = "@PJL JOB NAME = \"doc\" DISPLAY = \"42 u doc\"\n";
  EXPECT_NE(out.find(nameLine + ownerLines("42") + "@PJL ENTER LANGUAGE"), std::string::npos);
  EXPECT_EQ(out.size(), text.size() + ownerLines("42").size()) << "nothing else changes";
  EXPECT_NE(log.find("hostname " + hostName() + "\n"), std::string::npos);
  EXPECT_NE(log.find("uri:"), std::string::npos);
  EXPECT_NE(log.find(",jobid:42,jobower:" + hostName() + "\n"), std::string::npos);
  EXPECT_NE(log.find("querythread::no device uri, job not monitored\n"), std::string::npos)
      << "no queue of that name: the job goes unmonitored";
}

TEST_F(FlowTest, LineModeAddsThePaperLineForA5LongEdge) {
  g_wrap.g_bJobControlModel = 1;
  g_wrap.g_bA5LongEdge = 1;
  std::string out = mono(kHeader + page(1) + kEnd);
  EXPECT_NE(out.find("\"42 u doc\"\n" + ownerLines("42") + "@PJL SET PAPER=A5L\r\n"),
            std::string::npos);
}

TEST_F(FlowTest, LineModeRewritesThePageSize) {
  g_wrap.g_bJobControlModel = 1;
  g_wrap.g_nPageWidth = 612;
  g_wrap.g_nPageHeight = 792;
  std::string out = mono(kHeader + page(1) + kEnd);
  EXPECT_NE(out.find("<</Type/Page/MediaBox [0 0 612 792]\n"), std::string::npos);
  EXPECT_EQ(out.find("595 842"), std::string::npos);
}

TEST_F(FlowTest, LineModeEndsACancelledJobAtThePageComment) {
  g_wrap.g_bJobControlModel = 1;
  g_wrap.cancel_job = 1;
  std::string out = mono(kHeader + kSetup + page(1) + kEnd);
  std::string before = kHeader + kSetup;
  before.insert(before.find("@PJL ENTER"), ownerLines("42"));
  EXPECT_EQ(out, before + kTrailer);
}

TEST_F(FlowTest, AJobNameLineTooLongForTheAddedLinesStillGetsThem) {
  g_wrap.g_bJobControlModel = 1;
  std::string nameLine = "@PJL JOB NAME = \"" + std::string(990, 'n') + "\"\n";
  ASSERT_LT(nameLine.size(), kLineBufferSize);
  ASSERT_GT(nameLine.size() + ownerLines("42").size(), kLineBufferSize);
  std::string out = mono("\x1b%-12345X@PJL\n" + nameLine + "@PJL ENTER LANGUAGE = POSTSCRIPT\n");
  EXPECT_EQ(out, "\x1b%-12345X@PJL\n" + nameLine + ownerLines("42") +
                     "@PJL ENTER LANGUAGE = POSTSCRIPT\n");
}

TEST_F(FlowTest, LinesLongerThanTheBufferPassUnchanged) {
  g_wrap.g_bJobControlModel = 1;
  g_wrap.g_nPageWidth = 612;
  g_wrap.g_nPageHeight = 792;
  g_wrap.cancel_job = 1;
  // Page comment and page-size text inside a 3000-byte line, and at the
  // start of its second 1023-byte piece: all data, nothing to act on.
  std::string longLine = std::string(1023, 'a') + "%%Page: 9 9 <</Type/Page/MediaBox [0 0 1 1] " +
                         std::string(1900, 'b') + " 595 842 pdfSetupPaper\n";
  std::string text = "%!PS\n" + longLine + "%%Page: 1 1\n";
  std::string out = mono(text);
  EXPECT_EQ(out, "%!PS\n" + longLine + kTrailer);
}

TEST_F(FlowTest, ALastLineWithoutLineEndIsStillALine) {
  g_wrap.g_bJobControlModel = 1;
  std::string text = "%!PS\n" + std::string(1023, 'x');
  EXPECT_EQ(mono(text), text);
}

TEST_F(FlowTest, TwoCollatedCopiesGoThroughTheCopyFile) {
  g_wrap.g_bJobControlModel = 1;
  g_wrap.g_bCollate = 1;
  g_wrap.g_nCopies = 2;
  std::string text = kHeader + kSetup + page(1) + page(2) + kEnd;
  std::string out = mono(text);
  std::string copy1 = text;
  copy1.insert(copy1.find("@PJL ENTER"), ownerLines("42"));
  size_t block = copy1.find("%RBIBeginNonPPDFeature");
  size_t blockEnd = copy1.find("%%EndSetup");
  copy1.erase(block, blockEnd - block);  // collated: the copy-count block is dropped
  std::string copy2 = copy1;
  copy2.insert(copy2.find("@PJL SET JOBOWNER"), ownerLines("42"));  // added again
  EXPECT_EQ(out, copy1 + copy2);
  EXPECT_NE(log.find("copies 0 \n"), std::string::npos);
  EXPECT_NE(log.find("copies 1 \n"), std::string::npos);
  EXPECT_NE(log.find("PAGE: 4 1\n"), std::string::npos);
  EXPECT_FALSE(jwtest::fileExists(dir.file("job_m"))) << "the copy file is removed";
}

TEST_F(FlowTest, WithoutTheCopyFileEachCopyIsReadFromTheJob) {
  g_wrap.g_bJobControlModel = 1;
  g_wrap.g_bCollate = 1;
  g_wrap.g_nCopies = 2;
  mkdir(dir.file("job_m").c_str(), 0700);  // the copy file cannot be made
  std::string text = kHeader + page(1) + kEnd;
  std::string out = mono(text);
  std::string copy = text;
  copy.insert(copy.find("@PJL ENTER"), ownerLines("42"));
  EXPECT_EQ(out, copy + copy);
  EXPECT_NE(log.find("Uable create temp file error! \ncopies 0 \n"), std::string::npos);
  EXPECT_NE(log.find("copies 1 \n"), std::string::npos);
}

TEST_F(FlowTest, ACancelEndsAllCollatedCopies) {
  g_wrap.g_bJobControlModel = 1;
  g_wrap.g_bCollate = 1;
  g_wrap.g_nCopies = 3;
  g_wrap.cancel_job = 1;
  std::string out = mono(kHeader + page(1) + kEnd);
  EXPECT_EQ(jwtest::countOf(out, kTrailer), 1u);
  EXPECT_EQ(out.substr(out.size() - kTrailer.size()), kTrailer);
  EXPECT_EQ(log.find("copies 1"), std::string::npos);
}

TEST_F(FlowTest, AMissingJobFileIsReported) {
  jwtest::OutputCapture out;
  const char* argv[7] = {"q", "1", "u", "t", "1", "", nullptr};
  testing::internal::CaptureStderr();
  WriteMonoJob(argv, "");
  WriteMonoJob(argv, dir.file("none").c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Uable open temp file error! \nUable open temp file error! \n");
  EXPECT_EQ(out.text(), "");
}

TEST_F(FlowTest, ThePrintFileIsCopiedAndCutWhenCancelled) {
  std::string text = kHeader + page(1) + page(2) + kEnd;
  std::string path = job(text);
  {
    jwtest::OutputCapture out;
    testing::internal::CaptureStderr();
    WritePrintFile(path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("DEBUG:Successfully write print file"),
              std::string("PAGE: 1 1\nPAGE: 2 1\n").size());
    EXPECT_EQ(out.text(), text);
  }
  {
    g_wrap.cancel_job = 1;
    jwtest::OutputCapture out;
    testing::internal::CaptureStderr();
    WritePrintFile(path.c_str());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.text(), kHeader + kTrailer);
  }
  testing::internal::CaptureStderr();
  WritePrintFile(nullptr);
  WritePrintFile("");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "DEBUG: Unable to find Print file.\nDEBUG:Unable open a print file \"\"\n");
}

TEST_F(FlowTest, SpoolingAppendsTheUelTextOnlyWhereItIsMissing) {
  struct Case {
    std::string input;
    bool appended;
  } cases[] = {
      {"%!PS\nshowpage\n", true},
      {"%!PS\nshowpage\n\x1b%-12345X", false},
      {"%!PS\nshowpage\n\x1b%-12345x@PJL EOJ\n", false},  // any letter case
      {"%!PS\n", false},                                   // 9 characters or fewer
      {std::string(20000, 'x') + "\n", true},
  };
  setenv("TMPDIR", dir.path().c_str(), 1);
  for (const Case& c : cases) {
    jwtest::writeFile(dir.file("input"), c.input);
    FILE* in = fopen(dir.file("input").c_str(), "rb");
    char path[512] = "x";
    testing::internal::CaptureStderr();
    spool_fd_to_file(fileno(in), path, sizeof path);
    std::string err = testing::internal::GetCapturedStderr();
    fclose(in);
    ASSERT_NE(path[0], '\0');
    EXPECT_EQ(jwtest::readFile(path), c.appended ? c.input + kSpoolUelText : c.input);
    EXPECT_EQ(err.find("DEBUG:copying to temp print file \"" + std::string(path) + "\"\n"), 0u);
    EXPECT_EQ(err.find(kSpoolUelText) != std::string::npos, c.appended);
    unlink(path);
  }
  unsetenv("TMPDIR");
}
