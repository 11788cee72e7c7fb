// A whole server with one printer, "p" (tesvel_tz3010 on a file:
// directory device), for a test case; at its end, no sanitizer report.
#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app_server.h"

namespace testing_support {

class OnePrinterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ready()) << server_.log();
    std::string why;
    ASSERT_TRUE(server_.addPrinter("p", "tesvel_tz3010", &why)) << why;
  }
  void TearDown() override {
    server_.stop();
    std::string reports = server_.sanitizerReports();
    // The reports first: a long log after them may be cut short.
    EXPECT_EQ(reports, "");
    if (HasFailure()) std::cerr << server_.log();
  }

  // A one-page job that must print, after whatever went before.
  void expect_next_job_prints(std::string doc = "", const std::string& format = "application/pdf") {
    SCOPED_TRACE("the next job");
    if (doc.empty()) doc = file("good.pdf", makePdf(1));
    AppJob job = server_.print("p", doc, format);
    ASSERT_EQ(job.state, "completed") << job.message << job.ipptool;
    ProcessResult check = inspectStream(job.stream, {"--check"});
    EXPECT_EQ(check.exitStatus, 0) << check.out;
    EXPECT_NE(check.out.find("pages=1"), std::string::npos) << check.out;
  }

  // A printer "deaf" on `deaf` and a job of megabytes sent to it, which
  // keeps it busy until cancelled: the job's id (0 on failure).
  int start_deaf_job(const DeafPrinter& deaf) {
    ProcessResult add = server_.app({"add", "-d", "deaf", "-m", "tesvel_tz3010", "-v", deaf.uri()});
    EXPECT_EQ(add.exitStatus, 0) << add.out << add.err;
    return add.exitStatus == 0 ? server_.submit("deaf", file("noise.ps", kNoisePostScript), "application/postscript")
                               : 0;
  }

  std::string file(const std::string& name, const std::string& data) {
    writeFile(dir_.file(name), data);
    return dir_.file(name);
  }

  TempDir dir_;
  AppServer server_;
};

// One server for a whole suite of jobs, with the printers it names (name,
// driver); at the suite's end, no sanitizer report.
class SharedServerTest : public testing::Test {
 protected:
  static void start_server(const std::vector<std::pair<std::string, std::string>>& printers) {
    server_ = new AppServer;
    ASSERT_TRUE(server_->ready()) << server_->log();
    std::string why;
    for (const auto& [name, driver] : printers) ASSERT_TRUE(server_->addPrinter(name, driver, &why)) << why;
  }
  static void TearDownTestSuite() {
    server_->stop();
    EXPECT_EQ(server_->sanitizerReports(), "");
    delete server_;
    server_ = nullptr;
  }
  void TearDown() override {
    if (HasFailure()) std::cerr << server_->log();
  }

  inline static AppServer* server_ = nullptr;
};

}  // namespace testing_support
