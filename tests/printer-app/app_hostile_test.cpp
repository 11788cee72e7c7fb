// The Printer Application against clients that mean harm: hostile job
// text in real IPP requests, settings changed without the password, and
// where the server can be reached at all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <thread>

#include <cups/cups.h>

#include "app_server.h"
#include "hostile_text.h"

using namespace testing_support;

namespace {

// One Print-Job of a PWG raster file with the given text as the job's
// name, its user, its media and the printer's vendor settings; the job's
// id, or 0 when the server refused it (`status` says how).
int print_hostile(int port, const std::string& printer, const std::string& file, const std::string& text,
                  ipp_status_t* status) {
  http_t* http = connectLoopback(port);
  if (http == nullptr) return 0;
  std::string uri = "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print/" + printer;
  ipp_t* req = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, text.c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, text.c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/pwg-raster");
  ippAddString(req, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, text.c_str());
  ippAddString(req, IPP_TAG_JOB, IPP_TAG_KEYWORD, "tesvel-blank-suppress", nullptr, text.c_str());
  ippAddString(req, IPP_TAG_JOB, IPP_TAG_NAME, "tesvel-negative-print", nullptr, text.c_str());
  ipp_t* resp = cupsDoFileRequest(http, req, ("/ipp/print/" + printer).c_str(), file.c_str());
  *status = cupsLastError();
  int id = ippGetInteger(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), 0);
  ippDelete(resp);
  httpClose(http);
  return *status < IPP_STATUS_REDIRECTION_OTHER_SITE ? id : 0;
}

TEST(AppHostile, JobTextFromIppClientsIsOnlyDataAndNeverCutsAJobShort) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  // The printer writes to one file: PAPPL names the files of a directory
  // device after the job, and no file system takes a 10 kB name.
  TempDir dir;
  const std::string out = dir.file("txa.prn");
  writeFile(out, "");
  ProcessResult add = server.app({"add", "-d", "txa", "-m", "tesvel_txa", "-v", "file://" + out});
  ASSERT_EQ(add.exitStatus, 0) << add.out << add.err;
  const std::string page = dir.file("page.pwg");
  writeFile(page, pwgRaster(makePdf(1)));

  ipp_status_t status;
  int id = print_hostile(server.port(), "txa", page, "Report", &status);
  ASSERT_GT(id, 0) << ippErrorString(status);
  AppJob job = server.waitForEnd("txa", id, 120);
  ASSERT_EQ(job.state, "completed") << job.message;
  const std::string benign = readFile(out);
  const std::vector<std::string> shape = pjlShape(benign);
  ASSERT_GT(shape.size(), 2u);
  const std::string check = inspectStream(benign, {"--check"}).out;
  ASSERT_NE(check.find("pages=1"), std::string::npos) << check;

  int printed = 0, refused = 0;
  const std::vector<std::string> texts = hostilePayloads();
  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE("payload " + std::to_string(i));
    truncate(out.c_str(), 0);
    // IPP carries at most 32767 bytes a value: the longest payloads go as 10 kB.
    id = print_hostile(server.port(), "txa", page, texts[i].substr(0, 10240), &status);
    if (id == 0) {  // a request IPP cannot carry, or one the server turns down
      EXPECT_TRUE(status >= IPP_STATUS_ERROR_BAD_REQUEST && status < IPP_STATUS_ERROR_INTERNAL)
          << ippErrorString(status);
      ++refused;
      continue;
    }
    job = server.waitForEnd("txa", id, 120);
    EXPECT_EQ(job.state, "completed") << job.message;
    const std::string stream = readFile(out);
    EXPECT_EQ(pjlShape(stream), shape);
    EXPECT_EQ(inspectStream(stream, {"--check"}).out, check);
    ++printed;
  }
  const size_t commands = markersIn(server.dir()).size() + markersIn(std::filesystem::current_path()).size();
  EXPECT_EQ(commands, 0u);
  EXPECT_EQ(printed + refused, 40);
  EXPECT_GE(printed, 30) << "most hostile text is valid IPP and must print";
  std::cout << "hostile IPP job text: " << printed << " jobs printed whole, " << refused << " refused, "
            << commands << " commands run\n";
  // The server is still there and still prints.
  id = print_hostile(server.port(), "txa", page, "After", &status);
  job = server.waitForEnd("txa", id, 120);
  EXPECT_EQ(job.state, "completed") << job.message;
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

// The local addresses of the listening TCP sockets on `port`.
std::set<std::string> listening_addresses(int port) {
  std::set<std::string> found;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream f(line);
      std::string slot, local, remote, state;
      f >> slot >> local >> remote >> state;
      size_t colon = local.rfind(':');
      if (state == "0A" && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
        found.insert(local.substr(0, colon));
    }
  }
  return found;
}

TEST(AppHostile, SettingsNeedThePasswordAndTheServerAnswersOnLoopbackOnly) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  ASSERT_TRUE(server.addPrinter("office", "tesvel_tz3010", &why)) << why;
  std::string password = server.adminPassword();
  ASSERT_FALSE(password.empty());

  // IPP loopback: 127.0.0.1 and ::1 only, never a wildcard address.
  const std::set<std::string> loopback = {"0100007F", "00000000000000000000000001000000"};
  for (const std::string& a : listening_addresses(server.port())) EXPECT_EQ(loopback.count(a), 1u) << a;
  EXPECT_FALSE(listening_addresses(server.port()).empty());

  // One request to change a printer's setting without the password, one
  // with a wrong one, one with it.
  TempDir dir;
  writeFile(dir.file("set.test"), R"({
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR text printer-location "Room 101"
  STATUS successful-ok
})");
  const std::string path = server.printerUri("office").substr(std::string("ipp://127.0.0.1").size());
  auto set_location = [&](const std::string& credentials) {
    return runProcess({"/usr/bin/ipptool", "-t", "-T", "10", "ipp://" + credentials + "127.0.0.1" + path,
                       dir.file("set.test")});
  };
  ProcessResult anonymous = set_location("");
  EXPECT_NE(anonymous.exitStatus, 0) << anonymous.out;
  EXPECT_NE(anonymous.out.find("client-error-not-authenticated"), std::string::npos) << anonymous.out;
  EXPECT_NE(set_location("admin:wrong@").exitStatus, 0);
  ProcessResult admin = set_location("admin:" + password + "@");
  EXPECT_EQ(admin.exitStatus, 0) << admin.out;

  // The web pages behind the same password; printing and status need none.
  EXPECT_EQ(httpGetStatus(server.port(), "/office/printing", "", ""), 401);
  EXPECT_EQ(httpGetStatus(server.port(), "/office/printing", "admin", "wrong"), 401);
  EXPECT_EQ(httpGetStatus(server.port(), "/office/printing", "admin", password), 200);
  EXPECT_EQ(httpGetStatus(server.port(), "/office", "", ""), 200);
  writeFile(dir.file("doc.pdf"), makePdf(1));
  EXPECT_EQ(server.print("office", dir.file("doc.pdf"), "application/pdf").state, "completed");

  // The administrator changes the password in its file.
  writeFile(server.dir() + "/tesvel-printer-app.state.password", "Another secret\n");
  ASSERT_TRUE(server.restart()) << server.log();
  EXPECT_EQ(httpGetStatus(server.port(), "/office/printing", "admin", password), 401);
  EXPECT_EQ(httpGetStatus(server.port(), "/office/printing", "admin", "Another secret"), 200);
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

}  // namespace
