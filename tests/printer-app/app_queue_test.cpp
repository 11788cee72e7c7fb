// The Printer Application's queue as its clients see it: the order queued
// jobs print in, jobs held for later and across a restart, raster turned
// away by a busy printer while the state is saved, and the device list
// with no DNS-SD daemon.  Each case is a whole server taking real jobs.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <regex>
#include <thread>
#include <vector>

#include "app_fixture.h"

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A Print-Job of a PDF held until a named period (`until`) or, without
// one, until the time `at`: the job's id (0 when refused).
int print_held(const AppServer& server, const std::string& file, const char* until, time_t at) {
  http_t* http = connectLoopback(server.port());
  if (http == nullptr) return 0;
  ipp_t* req = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server.printerUri("p").c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
  if (until)
    ippAddString(req, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, until);
  else
    ippAddDate(req, IPP_TAG_JOB, "job-hold-until-time", ippTimeToDate(at));
  ipp_t* resp = cupsDoFileRequest(http, req, "/ipp/print/p", file.c_str());
  int id = ippGetInteger(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), 0);
  ippDelete(resp);
  httpClose(http);
  return id;
}

// Get-Jobs for the jobs not completed, with all their attributes: for each
// job, how often each of its attributes comes in the answer.
std::vector<std::map<std::string, int>> job_attribute_counts(const AppServer& server) {
  std::vector<std::map<std::string, int>> jobs;
  http_t* http = connectLoopback(server.port());
  if (http == nullptr) return jobs;
  ipp_t* req = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server.printerUri("p").c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
  ipp_t* resp = cupsDoRequest(http, req, "/ipp/print/p");
  bool apart = true;  // a nameless separator comes between two jobs' groups
  for (ipp_attribute_t* a = ippFirstAttribute(resp); a != nullptr; a = ippNextAttribute(resp)) {
    if (ippGetName(a) == nullptr || ippGetGroupTag(a) != IPP_TAG_JOB) {
      apart = true;
      continue;
    }
    if (apart) jobs.emplace_back();
    apart = false;
    ++jobs.back()[ippGetName(a)];
  }
  ippDelete(resp);
  httpClose(http);
  return jobs;
}

// A named period that has not begun and will not for hours: the server
// holds "second-shift" until 16:00, "third-shift" until midnight from
// 8:00, "day-time" until 6:00 from 18:00 (local time).
const char* period_to_come() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return local.tm_hour < 8 ? "second-shift" : local.tm_hour < 22 ? "third-shift" : "day-time";
}

class AppQueue : public OnePrinterTest {};

TEST_F(AppQueue, JobsSentOneAfterAnotherToABusyPrinterPrintInTheOrderSent) {
  std::string longer = file("long.pdf", makePdf(40)), one = file("one.pdf", makePdf(1));
  int busy = server_.submit("p", longer, "application/pdf");
  ASSERT_GT(busy, 0);
  std::vector<int> sent = {busy};
  for (int i = 0; i < 4; ++i) sent.push_back(server_.submit("p", one, "application/pdf"));
  ASSERT_EQ(server_.status("p", busy).state, "processing") << "the printer was busy while the jobs came";
  for (int id : sent) EXPECT_EQ(server_.waitForEnd("p", id, deadlineSeconds(120)).state, "completed");
  // The order the printer took them in.
  std::vector<int> started;
  static const std::regex start(R"(\[Job ([0-9]+)\] Starting print job\.)");
  std::string log = server_.log();
  for (std::sregex_iterator m(log.begin(), log.end(), start), end; m != end; ++m)
    started.push_back(std::stoi((*m)[1]));
  EXPECT_EQ(started, sent);
}

// Held jobs: one until an hour from now, one until a named period still to
// come, one until released, and three for two to four seconds.  Another
// job prints (the printer looks at its queue when a job ends); the short
// holds print once their time has come; the others wait, also after the server
// is killed and started again, and Get-Jobs shows each of their
// attributes once.
TEST_F(AppQueue, HeldJobsPrintWhenTheirTimeComesNeverBeforeAndComeBackFromARestartAsTheyWere) {
  std::string pdf = file("one.pdf", makePdf(1));
  std::vector<int> held = {print_held(server_, pdf, nullptr, time(nullptr) + 3600),
                           print_held(server_, pdf, period_to_come(), 0),
                           print_held(server_, pdf, "indefinite", 0)};
  // Each second's turn is a chance to miss a wake-up: three of them.
  std::vector<int> soon;
  for (int s = 2; s <= 4; ++s) soon.push_back(print_held(server_, pdf, nullptr, time(nullptr) + s));
  for (int id : held) ASSERT_GT(id, 0);
  for (int id : soon) ASSERT_GT(id, 0);
  EXPECT_EQ(server_.status("p", soon.back()).state, "pending-held");
  EXPECT_EQ(server_.waitForEnd("p", server_.submit("p", pdf, "application/pdf"), deadlineSeconds(60)).state,
            "completed");
  for (int id : soon) EXPECT_EQ(server_.waitForEnd("p", id, deadlineSeconds(30)).state, "completed") << "job " << id;
  for (int id : held) EXPECT_EQ(server_.status("p", id).state, "pending-held") << "job " << id;

  // Killed once the state file has the held jobs (state 4).
  std::string state = server_.dir() + "/tesvel-printer-app.state";
  for (int i = 0; i < 100 && countOf(readFile(state), "state=\"4\"") < held.size(); ++i) sleep_ms(100);
  kill(server_.pid(), SIGKILL);
  ASSERT_TRUE(server_.restart()) << server_.log();
  sleep_ms(2500);  // a main-loop pass and more, for anything that would release them
  for (int id : held) EXPECT_EQ(server_.status("p", id).state, "pending-held") << "job " << id;
  std::vector<std::map<std::string, int>> jobs = job_attribute_counts(server_);
  EXPECT_EQ(jobs.size(), held.size());
  for (std::map<std::string, int>& job : jobs)
    for (const char* name : {"job-id", "job-uri", "job-uuid"}) EXPECT_EQ(job[name], 1) << name;
  ASSERT_EQ(server_.app({"cancel", "-d", "p", "-a"}).exitStatus, 0);
}

TEST_F(AppQueue, TheAddPrinterPageAndTheDeviceListNeedNoDnsSdDaemon) {
  EXPECT_EQ(httpGetStatus(server_.port(), "/addprinter", "admin", server_.adminPassword()), 200);
  bool answered = false;
  EXPECT_EQ(server_.printerAttribute("p", "printer-state", 10, &answered), "idle");
  EXPECT_TRUE(answered) << "the server has gone";
  ProcessResult devices = server_.app({"devices"});
  EXPECT_EQ(devices.exitStatus, 0) << devices.out << devices.err;
  EXPECT_EQ(devices.err.find("Assertion"), std::string::npos) << devices.err;
  expect_next_job_prints();
}

// PAPPL takes PWG raster only while the printer is idle and refuses it as
// busy otherwise.  A refusal and the state save (which a new job brings
// about) once took the printer's and the system's locks in opposite
// orders, and the server stopped answering.  Six clients send raster to a
// printer kept busy for ten seconds, each request on a new connection
// (which wakes the main loop that saves); the server then still answers
// at once.
TEST_F(AppQueue, RasterRefusedByABusyPrinterWhileTheStateIsSavedLeavesTheServerAnswering) {
  DeafPrinter deaf;
  int busy = start_deaf_job(deaf);
  ASSERT_GT(busy, 0);
  for (int i = 0; i < 100 && server_.status("deaf", busy).state != "processing"; ++i) sleep_ms(100);

  cups_page_header2_t h = greyHeader(595, 842, 75);
  h.cupsColorSpace = CUPS_CSPACE_SW;
  const std::string raster = file("page.pwg", writeRaster({{h, {0x00}}}, CUPS_RASTER_WRITE_PWG));
  std::atomic<int> refused{0}, otherwise{0};
  auto end = Clock::now() + std::chrono::seconds(10);
  auto client = [&] {
    while (Clock::now() < end) {
      http_t* http = connectLoopback(server_.port());
      if (http == nullptr) break;
      httpSetTimeout(http, 5, nullptr, nullptr);
      ipp_t* req = ippNewRequest(IPP_OP_PRINT_JOB);
      ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server_.printerUri("deaf").c_str());
      ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/pwg-raster");
      ippDelete(cupsDoFileRequest(http, req, "/ipp/print/deaf", raster.c_str()));
      ++(cupsLastError() == IPP_STATUS_ERROR_BUSY ? refused : otherwise);
      httpClose(http);
    }
  };
  std::vector<std::thread> clients;
  for (int i = 0; i < 6; ++i) clients.emplace_back(client);
  for (std::thread& t : clients) t.join();

  bool answered = false;
  server_.printerAttribute("p", "printer-state", 5, &answered);
  EXPECT_TRUE(answered) << "no answer within 5 s after " << refused << " refusals";
  EXPECT_GT(refused, 100) << otherwise << " other answers";
  EXPECT_EQ(otherwise, 0);
  ASSERT_EQ(server_.app({"cancel", "-d", "deaf", "-a"}).exitStatus, 0);
  EXPECT_EQ(server_.waitForEnd("deaf", busy, deadlineSeconds(20)).state, "canceled");
  expect_next_job_prints();
}

}  // namespace
