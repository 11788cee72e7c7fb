// The device-ID path for real: a cupsd of the test's own (own configuration,
// a Unix socket, FileDevice on) runs the PostScript chain with jobwrapper
// and hands the job to the test's capture backend, which answers the
// device-ID request on the side channel, or stays silent.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "cupsd_harness.h"
#include "jw_test_support.h"

using testing_support::JobState;
using testing_support::PrivateCupsd;

namespace {

class CupsdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "cupsd runs the capture backend as root only when root";
    if (access("/usr/sbin/cupsd", X_OK) != 0 || access("/usr/sbin/lpadmin", X_OK) != 0 ||
        access("/usr/bin/lp", X_OK) != 0)
      GTEST_SKIP() << "cupsd, lpadmin or lp is not installed";
    // jobwrapper runs as lp beside CUPS's own filters; the capture backend
    // is mode 0700, so it runs as root and answers on the side channel.
    testing_support::CupsdSetup setup;
    setup.filters = {jwtest::binPath("jobwrapper")};
    setup.backends = {JW_CAPTURE_BACKEND};
    cupsd = std::make_unique<PrivateCupsd>(setup);
    ASSERT_TRUE(cupsd->ready()) << "cupsd did not start:\n" << cupsd->daemonOutput();
    pdf = jwtest::makePdf(work.path(), 2);
    chmod(work.path().c_str(), 0755);  // cupsd copies the file as the submitting user
  }

  void TearDown() override { cupsd.reset(); }

  // A queue for the model's PPD whose failed jobs are aborted (the next
  // test must not find a stopped printer).
  void addPrinter(const std::string& uri, const std::string& model) const {
    testing_support::ProcessResult r = cupsd->addPrinter("tesvel", uri, jwtest::ppdPath(model));
    ASSERT_EQ(r.exitStatus, 0) << r.err;
  }

  // Submits the PDF and waits for the job to end.
  JobState print() const {
    std::string why;
    int id = cupsd->submit("tesvel", pdf, {"-t", "Device ID test"}, &why);
    EXPECT_NE(id, 0) << why;
    return id == 0 ? JobState::Unknown : cupsd->waitForJob(id, 20);
  }

  std::string jobLog() const { return cupsd->jobLog(1); }

  jwtest::TempDir work;
  std::unique_ptr<PrivateCupsd> cupsd;
  std::string pdf;
};

}  // namespace

TEST_F(CupsdTest, TheBackendsDeviceIdDecidesOverTheNickname) {
  // The queue's PPD is a block-mode model; the printer says it is a TP5010.
  jwtest::writeFile(cupsd->outFile("devid"),
                    "MFG:Tesvel;CMD:PJL,POSTSCRIPT;MDL:Tesvel TP5010 series;CLS:PRINTER;");
  addPrinter("capture:" + cupsd->outFile(""), "tp3010");
  EXPECT_EQ(print(), JobState::Completed) << jobLog();
  std::string job = jwtest::readFile(cupsd->outFile("job.data"));
  EXPECT_NE(job.find("@PJL JOB NAME = \"Device ID test\""), std::string::npos);
  EXPECT_NE(job.find("\"\n@PJL SET JOBOWNER=\""), std::string::npos) << "line mode by device ID";
  EXPECT_NE(job.find("@PJL SET JOBID=1\r\n"), std::string::npos);
  EXPECT_EQ(jwtest::readFile(cupsd->outFile("requests")), "4\n4\n") << "two device-ID requests";
  std::string log = cupsd->errorLog();
  EXPECT_EQ(log.find("can\\'t find 1284 information."), std::string::npos);
  EXPECT_EQ(log.find("attr->value"), std::string::npos) << "the nickname is not consulted";
  EXPECT_NE(log.find("PAGE: 2 1"), std::string::npos);
  // CUPS counts the pages of the last filter only: ours.
  EXPECT_NE(cupsd->pageLog().find(" total 2 "), std::string::npos) << cupsd->pageLog();
}

TEST_F(CupsdTest, ADeviceIdWithoutTheClassFieldRefusesTheJob) {
  jwtest::writeFile(cupsd->outFile("devid"), "MFG:Tesvel;MDL:Tesvel TP5010 series;");
  addPrinter("capture:" + cupsd->outFile(""), "tp5010");
  JobState end = print();
  EXPECT_TRUE(end == JobState::Aborted || end == JobState::Stopped)
      << testing_support::jobStateName(end) << "\n" << jobLog();
  EXPECT_EQ(jwtest::readFile(cupsd->outFile("job.data")), "");
  std::string log = cupsd->errorLog();
  EXPECT_NE(log.find("当前打印机不可打印，请使用正确的打印机"), std::string::npos);
}

TEST_F(CupsdTest, ABackendThatNeverAnswersLeavesTheDecisionToTheNickname) {
  // No devid file: the capture backend reads the requests and stays silent.
  addPrinter("capture:" + cupsd->outFile(""), "tp5010");
  EXPECT_EQ(print(), JobState::Completed) << jobLog();
  std::string job = jwtest::readFile(cupsd->outFile("job.data"));
  EXPECT_NE(job.find("\"\n@PJL SET JOBOWNER=\""), std::string::npos);
  EXPECT_EQ(jwtest::readFile(cupsd->outFile("requests")), "4\n") << "a silent backend is asked once";
  std::string log = cupsd->errorLog();
  EXPECT_NE(log.find("can\\'t find 1284 information."), std::string::npos);
  EXPECT_NE(log.find("attr->value :Tesvel TP5010 Series PS."), std::string::npos);
}

TEST_F(CupsdTest, AFileDeviceHasNoSideChannelAnswerAndTheNicknameDecides) {
  addPrinter("file://" + cupsd->outFile("printer.out"), "tp5020");
  EXPECT_EQ(print(), JobState::Completed) << jobLog();
  std::string job = jwtest::readFile(cupsd->outFile("printer.out"));
  EXPECT_NE(job.find("\"\n@PJL SET JOBOWNER=\""), std::string::npos);
  EXPECT_NE(cupsd->errorLog().find("can\\'t find 1284 information."), std::string::npos)
      << jobLog();
}

TEST_F(CupsdTest, CopiesThePrinterMakesOfEachPageAreCountedInThePageLog) {
  // Two uncollated copies: the PostScript asks the printer for them.
  addPrinter("file://" + cupsd->outFile("printer.out"), "tp5020");
  std::string why;
  int id = cupsd->submit("tesvel", pdf, {"-n", "2", "-o", "collate=false"}, &why);
  ASSERT_NE(id, 0) << why;
  EXPECT_EQ(cupsd->waitForJob(id, testing_support::deadlineSeconds(20)), JobState::Completed)
      << jobLog();
  std::string job = jwtest::readFile(cupsd->outFile("printer.out"));
  EXPECT_NE(job.find("\n%RBIBeginNonPPDFeature: *NumCopies 2\n"), std::string::npos);
  EXPECT_EQ(jwtest::countOf(job, "\n%%Page: "), 2u) << "the document once";
  std::string log = jobLog();
  EXPECT_NE(log.find("PAGE: 1 2\n"), std::string::npos) << log;
  EXPECT_NE(log.find("PAGE: 2 2\n"), std::string::npos);
  EXPECT_NE(cupsd->pageLog().find(" total 4 "), std::string::npos) << cupsd->pageLog();
}
