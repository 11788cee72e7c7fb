// The PJL additions and the job-end texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "output_capture.h"
#include "pjl_header.h"
#include "wrapper_state.h"

using namespace jw;

namespace {

const std::string kTrailer =
    std::string("%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n") +
    "\x04\x1b" + "%-12345X" + "\n";

class PjlTest : public ::testing::Test {
 protected:
  void SetUp() override { resetWrapperState(); }
};

}  // namespace

TEST(CancelTrailer, IsTheFixedSixtyNineBytes) {
  ASSERT_EQ(kTrailer.size(), 69u);
  EXPECT_EQ(std::string(kCancelTrailer, kCancelTrailerLength), kTrailer);
  EXPECT_EQ(kCancelTrailer[58], '\x04');
  EXPECT_EQ(kCancelTrailer[59], '\x1b');
}

TEST(SpoolUelText, IsTwentyPrintableCharacters) {
  EXPECT_STREQ(kSpoolUelText, "<04><1B>%-12345X<0A>");
  EXPECT_EQ(std::strlen(kSpoolUelText), 20u);
}

TEST(PjlAdditions, FollowTheJobNameLineWithOwnerAndJobId) {
  PjlAdditions add;
  build_pjl_additions("h", "42", &add);
  const char line[] = "@PJL JOB NAME = \"doc\" DISPLAY = \"42 u doc\"\n";
  char out[768];
  size_t n = pjl_addition_for_line(line, sizeof line - 1, add, false, out, sizeof out);
  EXPECT_EQ(std::string(out, n), "@PJL SET JOBOWNER=\"h\"\r\n@PJL SET JOBID=42\r\n");
}

TEST(PjlAdditions, AddThePaperLineForA5LongEdge) {
  PjlAdditions add;
  build_pjl_additions("host", "7", &add);
  const char line[] = "@PJL JOB NAME = \"x\"\n";
  char out[768];
  size_t n = pjl_addition_for_line(line, sizeof line - 1, add, true, out, sizeof out);
  EXPECT_EQ(std::string(out, n),
            "@PJL SET JOBOWNER=\"host\"\r\n@PJL SET JOBID=7\r\n@PJL SET PAPER=A5L\r\n");
}

TEST(PjlAdditions, LeaveOtherLinesAloneAndMatchTheExactCase) {
  PjlAdditions add;
  build_pjl_additions("h", "1", &add);
  char out[768];
  for (const char* line : {"@PJL SET USERNAME = \"root\"\n", "@pjl job name = \"x\"\n", "%!PS\n"})
    EXPECT_EQ(pjl_addition_for_line(line, std::strlen(line), add, true, out, sizeof out), 0u)
        << line;
}

TEST(PjlAdditions, AVeryLongHostNameIsCutToFitItsLine) {
  PjlAdditions add;
  std::string host(400, 'h');
  build_pjl_additions(host.c_str(), "1", &add);
  std::string owner = add.ownerLine;
  EXPECT_LT(owner.size(), sizeof add.ownerLine);
  EXPECT_EQ(owner.substr(owner.size() - 3), "\"\r\n");
}

TEST_F(PjlTest, ACancelCutsInFrontOfThePageCommentAndWritesTheTrailer) {
  jwtest::OutputCapture out;
  char buf[8192] = "%%EndPageSetup\nshowpage\n%%PageTrailer\n%%Page: 2 2\nmore\n";
  int len = -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(WriteCancelTrailer(buf, sizeof buf, std::strlen(buf), &len), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "find page end\n");
  EXPECT_EQ(len, 69);
  EXPECT_EQ(out.text(), "%%EndPageSetup\nshowpage\n%%PageTrailer\n" + kTrailer);
  EXPECT_EQ(std::string(buf, 69), kTrailer);
}

TEST_F(PjlTest, ABufferWithoutAPageCommentIsNotCut) {
  jwtest::OutputCapture out;
  char buf[256] = "%%Pages: 3\n%%PageTrailer\nshowpage\n";
  int len = -1;
  EXPECT_EQ(WriteCancelTrailer(buf, sizeof buf, std::strlen(buf), &len), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(out.text(), "");
}

TEST_F(PjlTest, TheEndOfSetupFollowedByAPageIsNeverCut) {
  jwtest::OutputCapture out;
  char buf[256] = "x\n%%EndSetup\n%%Page: 1 1\ny\n%%Page: 2 2\n";
  int len = -1;
  EXPECT_EQ(WriteCancelTrailer(buf, sizeof buf, std::strlen(buf), &len), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(out.text(), "");
}

TEST_F(PjlTest, APageCommentLineIsCutWhole) {
  jwtest::OutputCapture out;
  char buf[1025] = "%%Page: 3 3\n";
  int len = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(WriteCancelTrailer(buf, sizeof buf, std::strlen(buf), &len), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(out.text(), kTrailer);
}
