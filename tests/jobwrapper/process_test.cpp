// jobwrapper run as CUPS runs it, on PostScript made by the real CUPS chain
// (cupsfilter: pdftopdf, pdftops with Ghostscript, pstops) from PDFs that
// Ghostscript makes from PostScript programs written here.  The child has
// no side channel, so the PPD's nickname identifies the printer.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jw_test_support.h"
#include "pjl_header.h"

using jwtest::ProcessOptions;
using jwtest::ProcessResult;

namespace {

const std::string kTrailer(jw::kCancelTrailer, jw::kCancelTrailerLength);

std::string hostName() {
  char host[256] = "";
  gethostname(host, sizeof host);
  return host;
}

class ProcessTest : public ::testing::Test {
 protected:
  ProcessOptions options(const std::string& ppd) {
    ProcessOptions o;
    o.argv0 = "tesvel";  // CUPS starts filters with the queue name as argv[0]
    o.env = {"PPD=" + ppd, "TMPDIR=" + spool.path()};
    return o;
  }

  // Runs jobwrapper with the job in a file (seven arguments).
  ProcessResult runFile(const std::string& ppd, const std::string& copies,
                        const std::string& opts, const std::string& data) {
    std::string path = dir.file("job.ps");
    jwtest::writeFile(path, data);
    return jwtest::runProcess({jwtest::binPath("jobwrapper"), "42", "alice", "Test page", copies,
                               opts, path},
                              options(ppd));
  }

  std::vector<std::string> leftInSpool() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(spool.path()))
      names.push_back(e.path().filename().string());
    return names;
  }

  jwtest::TempDir dir;
  jwtest::TempDir spool;
};

std::string ownerLines() {
  return "@PJL SET JOBOWNER=\"" + hostName() + "\"\r\n@PJL SET JOBID=42\r\n";
}

}  // namespace

TEST_F(ProcessTest, APrinterOutsideTheTablesIsRefusedWithExitStatusOne) {
  std::string ppd = jwtest::readFile(jwtest::ppdPath("tp5010"));
  size_t at = ppd.find("*ShortNickName: ");
  ppd.replace(at, ppd.find('\n', at) - at, "*ShortNickName: \"Other Laser Series PS\"");
  jwtest::writeFile(dir.file("other.ppd"), ppd);
  ProcessResult r = runFile(dir.file("other.ppd"), "1", "", "%!PS\nshowpage\n");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("cups api can't find 1284 information.\n"), std::string::npos);
  EXPECT_NE(r.err.find("ERROR:当前打印机不可打印，请使用正确的打印机\n"), std::string::npos) << r.err;
}

TEST_F(ProcessTest, BlockModeSendsTheCupsPostScriptAsItCame) {
  std::string pdf = jwtest::makePdf(dir.path(), 2);
  std::string ps = jwtest::chainPostScript(jwtest::ppdPath("tp3010"), pdf, {});
  ASSERT_NE(ps.find("@PJL JOB NAME"), std::string::npos) << "CUPS writes the PJL job header";
  ProcessResult r = runFile(jwtest::ppdPath("tp3010"), "1", "PageSize=Letter", ps);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, ps);
  EXPECT_NE(r.err.find("PAGE: 2 1\n"), std::string::npos);
  EXPECT_EQ(r.err.find("hostname"), std::string::npos) << "no line mode for TP3010";
}

TEST_F(ProcessTest, LineModeAddsOwnerAndIdAndFixesThePageSize) {
  std::string pdf = jwtest::makePdf(dir.path(), 2);
  // Made for A4, sent for Letter: the page dictionaries must follow the PPD.
  std::string ps = jwtest::chainPostScript(jwtest::ppdPath("tp5010"), pdf, {}, 1, "Report");
  ASSERT_EQ(jwtest::countOf(ps, "<</Type/Page/MediaBox [0 0 595 842]\n"), 2u);
  ProcessResult r = runFile(jwtest::ppdPath("tp5010"), "1", "PageSize=Letter", ps);
  EXPECT_EQ(r.exitStatus, 0);
  std::string nameLine = "@PJL JOB NAME = \"Report\" DISPLAY = \"1 root Report\"\n";
  ASSERT_NE(ps.find(nameLine), std::string::npos);
  EXPECT_NE(r.out.find(nameLine + ownerLines()), std::string::npos);
  EXPECT_EQ(jwtest::countOf(r.out, "<</Type/Page/MediaBox [0 0 612 792]\n"), 2u);
  EXPECT_EQ(jwtest::countOf(r.out, "MediaBox [0 0 595 842]"), 0u);
  EXPECT_NE(r.err.find("pagesize:Letter width:612,heigh:792\n"), std::string::npos);
  EXPECT_NE(r.err.find("PAGE: 2 1\n"), std::string::npos);
  EXPECT_EQ(r.err.find("PAGE: 3 1\n"), std::string::npos);
}

TEST_F(ProcessTest, HandWrittenPostScriptGetsEveryMediaFixUp) {
  const std::string head =
      "\x1b%-12345X@PJL\n@PJL JOB NAME = \"memo\"\n@PJL ENTER LANGUAGE = POSTSCRIPT\n"
      "%!PS-Adobe-3.0\n/pdfSetupPaper {pop pop} bind def\n%%BeginSetup\n";
  const std::string copies =
      "%RBIBeginNonPPDFeature: *NumCopies 2\n{1 dict begin/NumCopies exch def currentdict end "
      "setpagedevice}\n%RBIEndNonPPDFeature\n";
  const std::string rest =
      "<<DeferredMediaSelection true>>setpagedevice\n%%EndSetup\n%%Page: 1 1\n"
      "595 842 pdfSetupPaper\n<</Type/Page/MediaBox [0 0 595 842]\nshowpage\n%%EOF\n"
      "\x1b%-12345X";
  const std::string owner = ownerLines();
  const std::string fixed = "<</DeferredMediaSelection true>>setpagedevice\n%%EndSetup\n"
                            "%%Page: 1 1\n612 792 pdfSetupPaper\n"
                            "<</Type/Page/MediaBox [0 0 612 792]\nshowpage\n%%EOF\n\x1b%-12345X";
  std::string withOwner = head;
  withOwner.insert(withOwner.find("@PJL ENTER"), owner);

  ProcessResult r = runFile(jwtest::ppdPath("tp5090"), "1", "PageSize=Letter", head + copies + rest);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, withOwner + copies + fixed) << "uncollated: the copy count stays";
  EXPECT_NE(r.err.find("Modified <</DeferredMediaSelection\n"), std::string::npos);

  r = runFile(jwtest::ppdPath("tp5090"), "1", "PageSize=Letter Collate=True", head + copies + rest);
  EXPECT_EQ(r.out, withOwner + fixed) << "collated: the copy count goes";
}

TEST_F(ProcessTest, A5FedLongEdgeAddsThePaperLine) {
  std::string pdf = jwtest::makePdf(dir.path(), 1, 3, 420, 595);
  std::vector<std::string> opts = {"PageSize=A5", "FeedEdge=LongEdge"};
  std::string ps = jwtest::chainPostScript(jwtest::ppdPath("tp5020"), pdf, opts);
  ProcessResult r = runFile(jwtest::ppdPath("tp5020"), "1", "PageSize=A5 FeedEdge=LongEdge", ps);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find("\"\n" + ownerLines() + "@PJL SET PAPER=A5L\r\n"), std::string::npos);
  r = runFile(jwtest::ppdPath("tp5020"), "1", "PageSize=A5 FeedEdge=ShortEdge", ps);
  EXPECT_EQ(r.out.find("PAPER=A5L"), std::string::npos);
}

TEST_F(ProcessTest, TwoCollatedCopiesRepeatTheDocumentWithoutTheCopyCount) {
  std::string pdf = jwtest::makePdf(dir.path(), 2);
  std::string ps =
      jwtest::chainPostScript(jwtest::ppdPath("tp5040"), pdf, {"Collate=True"}, 2);
  ASSERT_NE(ps.find("%RBIBeginNonPPDFeature: *NumCopies 2"), std::string::npos);
  ProcessResult r = runFile(jwtest::ppdPath("tp5040"), "2", "Collate=True", ps);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(jwtest::countOf(r.out, "@PJL JOB NAME"), 2u);
  EXPECT_EQ(jwtest::countOf(r.out, "@PJL SET JOBOWNER"), 3u) << "once, then twice in copy 2";
  EXPECT_NE(r.out.find(ownerLines() + ownerLines()), std::string::npos);
  EXPECT_EQ(r.out.find("%RBIBeginNonPPDFeature"), std::string::npos);
  EXPECT_EQ(r.out.find("/NumCopies exch def"), std::string::npos);
  EXPECT_EQ(jwtest::countOf(r.out, "%%Page: "), 4u);
  EXPECT_NE(r.err.find("PAGE: 4 1\n"), std::string::npos) << "each copy of a page counted once";
  EXPECT_NE(r.err.find("copies 0 \n"), std::string::npos);
  EXPECT_NE(r.err.find("copies 1 \n"), std::string::npos);
  EXPECT_FALSE(jwtest::fileExists(dir.file("job.ps_m")));
  EXPECT_TRUE(jwtest::fileExists(dir.file("job.ps"))) << "a job file CUPS named is not ours";
}

TEST_F(ProcessTest, CollateWithNoCollateGivesOneCopyWithTheCopyCount) {
  std::string pdf = jwtest::makePdf(dir.path(), 1);
  std::string ps = jwtest::chainPostScript(jwtest::ppdPath("tp5040"), pdf, {}, 2);
  ProcessResult r = runFile(jwtest::ppdPath("tp5040"), "2", "Collate=True noCollate", ps);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(jwtest::countOf(r.out, "@PJL JOB NAME"), 1u);
  EXPECT_NE(r.out.find("%RBIBeginNonPPDFeature: *NumCopies 2"), std::string::npos);
}

TEST_F(ProcessTest, CustomSizesAreJudgedByTheirPrintableRange) {
  struct {
    int width;
    int status;
  } cases[] = {{200, 1}, {211, 0}, {613, 0}};
  for (const auto& c : cases) {
    std::string size = "Custom." + std::to_string(c.width) + "x500";
    std::string pdf = jwtest::makePdf(dir.path(), 1, 2, c.width, 500);
    std::string ps = jwtest::chainPostScript(jwtest::ppdPath("tp5050"), pdf, {"PageSize=" + size});
    ProcessResult r = runFile(jwtest::ppdPath("tp5050"), "1", "PageSize=" + size, ps);
    EXPECT_EQ(r.exitStatus, c.status) << size << "\n" << r.err;
    bool refused = r.err.find("ERROR:The current custom pager cannot be printed,please use the "
                              "corrent paper\n") != std::string::npos;
    EXPECT_EQ(refused, c.status == 1) << size;
    EXPECT_NE(r.err.find("right:" + std::to_string(c.width) + ",bottom:500\n"), std::string::npos)
        << r.err;
  }
}

TEST_F(ProcessTest, SpooledInputIsSentAndItsFileRemoved) {
  std::string pdf = jwtest::makePdf(dir.path(), 1);
  std::string ps = jwtest::chainPostScript(jwtest::ppdPath("tp5060"), pdf, {});
  ProcessOptions o = options(jwtest::ppdPath("tp5060"));
  o.stdinData = ps;
  ProcessResult r = jwtest::runProcess(
      {jwtest::binPath("jobwrapper"), "42", "alice", "t", "1", "PageSize=A4"}, o);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find(ownerLines()), std::string::npos);
  EXPECT_EQ(r.out.size(), ps.size() + ownerLines().size()) << "the job ends with a UEL already";
  EXPECT_NE(r.err.find("DEBUG:copying to temp print file \"" + spool.path()), std::string::npos);
  EXPECT_TRUE(leftInSpool().empty()) << leftInSpool().front();
}

TEST_F(ProcessTest, SpooledInputWithoutAUelGetsTheUelText) {
  ProcessOptions o = options(jwtest::ppdPath("tp3010"));
  o.stdinData = "%!PS-Adobe-3.0\n%%Page: 1 1\nshowpage\n%%EOF\n";
  ProcessResult r =
      jwtest::runProcess({jwtest::binPath("jobwrapper"), "7", "bob", "t", "1", ""}, o);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, o.stdinData + "<04><1B>%-12345X<0A>");
  EXPECT_NE(r.err.find("<04><1B>%-12345X<0A>"), std::string::npos);
  EXPECT_TRUE(leftInSpool().empty());
}

TEST_F(ProcessTest, AJobFileArgumentLeavesStandardInputUnread) {
  ProcessOptions o = options(jwtest::ppdPath("tp3010"));
  o.stdinData = "not the job\n";
  jwtest::writeFile(dir.file("job.ps"), "%!PS\nthe job\n");
  ProcessResult r = jwtest::runProcess(
      {jwtest::binPath("jobwrapper"), "7", "bob", "t", "1", "", dir.file("job.ps")}, o);
  EXPECT_EQ(r.out, "%!PS\nthe job\n");
  EXPECT_EQ(r.err.find("copying to temp print file"), std::string::npos);
}

TEST_F(ProcessTest, AWrongArgumentCountLeavesNoJobToSend) {
  ProcessResult r = jwtest::runProcess({jwtest::binPath("jobwrapper"), "7", "bob", "t", "1"},
                                       options(jwtest::ppdPath("tp3010")));
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Uable open temp file error! \n"), std::string::npos);
}

namespace {

// Cancels a long job while its output is held up (the test reads only the
// first bytes, so the pipe fills) and checks the output: an unchanged
// prefix of the uncancelled output that ends at a page boundary, then the
// 69-byte trailer, and exit status 0.
void expectCancelAtPageBoundary(const std::string& model, const std::string& jobPath,
                                const jwtest::TempDir& spool) {
  ProcessOptions o;
  o.argv0 = "tesvel";
  o.env = {"PPD=" + jwtest::ppdPath(model), "TMPDIR=" + spool.path()};
  std::vector<std::string> argv = {jwtest::binPath("jobwrapper"), "42", "alice", "t", "1",
                                   "PageSize=A4", jobPath};
  ProcessResult full = jwtest::runProcess(argv, o);
  ASSERT_EQ(full.exitStatus, 0);
  ASSERT_GT(full.out.size(), 300000u) << "the job must outgrow the pipe";

  jwtest::Child child(argv, o);
  std::string out = child.read(4096);
  ASSERT_EQ(out.size(), 4096u);
  child.signal(SIGTERM);
  out += child.readToEnd();
  EXPECT_EQ(child.wait(), 0);
  std::string err = child.errText();
  EXPECT_NE(err.find("cancel_job =1\n"), std::string::npos);
  EXPECT_NE(err.find("find page end\n"), std::string::npos);

  ASSERT_GT(out.size(), kTrailer.size());
  std::string sent = out.substr(0, out.size() - kTrailer.size());
  EXPECT_EQ(out.substr(sent.size()), kTrailer);
  ASSERT_LT(sent.size(), full.out.size()) << "the job was not cut";
  EXPECT_EQ(full.out.compare(0, sent.size(), sent), 0) << "what was sent is unchanged";
  EXPECT_EQ(full.out.compare(sent.size(), 7, "%%Page:"), 0) << "cut at a page comment";
  EXPECT_EQ(sent.back(), '\n');
}

std::string longJob(const jwtest::TempDir& dir, const std::string& model) {
  std::string pdf = jwtest::makePdf(dir.path(), 80, 60);
  std::string ps = jwtest::chainPostScript(jwtest::ppdPath(model), pdf, {});
  jwtest::writeFile(dir.file("long.ps"), ps);
  return dir.file("long.ps");
}

}  // namespace

TEST_F(ProcessTest, SigtermInLineModeEndsTheJobAtAPageBoundary) {
  expectCancelAtPageBoundary("tp5070", longJob(dir, "tp5070"), spool);
}

TEST_F(ProcessTest, SigtermInBlockModeEndsTheJobAtAPageBoundary) {
  expectCancelAtPageBoundary("tp3020", longJob(dir, "tp3020"), spool);
}
