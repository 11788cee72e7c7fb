// jobwrapper run as CUPS runs it for a colour-group queue: PDF in, the
// real qpdf and the real CUPS pdftops filter, PostScript out.  The child
// has no side channel, so the PPD's nickname identifies the printer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jw_test_support.h"

using jwtest::ProcessOptions;
using jwtest::ProcessResult;

namespace {

const char kFailed[] = "DEBUG: fail to change file from pdf to ps.\n";

// The pages of the PostScript, each from its "%%Page:" line on.
std::vector<std::string> psPages(const std::string& ps) {
  std::vector<std::string> pages;
  for (size_t at = ps.find("\n%%Page:"); at != std::string::npos;) {
    size_t next = ps.find("\n%%Page:", at + 1);
    pages.push_back(ps.substr(at + 1, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  return pages;
}

class ColourRoadTest : public ::testing::Test {
 protected:
  ProcessOptions options(const std::string& stdinData = "") {
    ProcessOptions o;
    o.argv0 = "tesvel";
    o.env = {"PPD=" + jwtest::ppdPath("tpc8010"), "TMPDIR=" + spool.path()};
    o.stdinData = stdinData;
    return o;
  }
  bool spoolEmpty() const { return std::filesystem::is_empty(spool.path()); }

  jwtest::TempDir dir;
  jwtest::TempDir spool;
};

}  // namespace

TEST_F(ColourRoadTest, LongEdgeDuplexJobComesOutAsPostScriptWithTheEvenPagesTurned) {
  std::string pdf = jwtest::readFile(jwtest::makePdf(dir.path(), 5));
  // Ghostscript renders for pdftops, so a page turned by 180 degrees shows
  // as text matrices turned by 180 degrees.
  ProcessResult r = jwtest::runProcess(
      {jwtest::binPath("jobwrapper"), "42", "alice", "Report", "1",
       "pdftops-renderer=gs Duplex=DuplexNoTumble"},
      options(pdf));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  std::vector<std::string> pages = psPages(r.out);
  ASSERT_EQ(pages.size(), 5u) << r.err;
  for (size_t i = 0; i < pages.size(); ++i)
    EXPECT_EQ(pages[i].find("-1 0 0 -1 ") != std::string::npos, i % 2 == 1) << "page " << i + 1;
  EXPECT_NE(r.err.find("PAGE: 5 1\n"), std::string::npos);
  EXPECT_NE(r.err.find("DEBUG:Successfully write print file to stdout.\n"), std::string::npos);
  EXPECT_TRUE(spoolEmpty()) << "spooled input, rotated PDF and PostScript are all removed";
}

TEST_F(ColourRoadTest, HostileJobTextIsOnlyText) {
  const std::string m = dir.file("owned");
  struct Case {
    std::string user, title, options;
  } cases[] = {
      {"alice", "\"; touch " + m + "1; \"", "Duplex=DuplexNoTumble"},
      {"alice", "$(touch " + m + "2)", "media=A4 x='$(touch " + m + "3)' Duplex=DuplexNoTumble"},
      {"bob`touch " + m + "4`", "`touch " + m + "5`", "y=\"; touch " + m + "6; \" noDuplex"},
      {"carol", "a\"\ntouch " + m + "7\n\"", "z=\"a\";touch\\ " + m + "8 Duplex=DuplexNoTumble"},
  };
  const std::string job = jwtest::makePdf(dir.path(), 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    ProcessResult r = jwtest::runProcess(
        {jwtest::binPath("jobwrapper"), "42", c.user, c.title, "1", c.options, job}, options());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(psPages(r.out).size(), 2u) << r.err;
    EXPECT_EQ(r.err.find(kFailed), std::string::npos);
    EXPECT_TRUE(spoolEmpty());
    EXPECT_TRUE(jwtest::fileExists(job)) << "CUPS's document file is not ours to remove";
  }
  for (int i = 1; i <= 8; ++i) EXPECT_FALSE(jwtest::fileExists(m + std::to_string(i))) << i;
}

TEST_F(ColourRoadTest, AFileThatIsNotAPdfSendsNothing) {
  const std::string junk = "This is a letter, not a PDF.\n";
  const std::string job = dir.file("letter.pdf");
  jwtest::writeFile(job, junk);
  const std::vector<std::string> head = {jwtest::binPath("jobwrapper"), "42", "alice", "Letter",
                                         "1", "Duplex=DuplexNoTumble"};
  std::vector<std::string> withFile = head;
  withFile.push_back(job);
  ProcessResult runs[] = {jwtest::runProcess(head, options(junk)),
                          jwtest::runProcess(withFile, options())};
  for (const ProcessResult& r : runs) {
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("The page count is 0!\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(kFailed), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Successfully write"), std::string::npos);
  }
  EXPECT_TRUE(spoolEmpty());
  EXPECT_EQ(jwtest::readFile(job), junk);
}
