// What the printer says about itself, through a whole server: a network
// printer's Printer MIB (a fake agent on port 161) and a USB printer's port
// status (the fake libusb preloaded) become printer-state-reasons and
// supplies, and clear again; a USB printer plugged in at the first start
// appears by itself; the test page prints through the filter and its page
// image has the layout drawn; a printer that cannot identify itself says so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "app_fixture.h"
#include "fake_printer_mib.h"
#include "test_page.h"

using namespace testing_support;

namespace {

// A web page as the administrator sees it (GET, or POST of a form): its text.
std::string web_page(const AppServer& server, const std::string& path, const std::string& form = "") {
  http_t* http = connectLoopback(server.port());
  if (http == nullptr) return "";
  std::string pair = "admin:" + server.adminPassword();
  char encoded[256];
  httpEncode64_2(encoded, sizeof encoded, pair.c_str(), static_cast<int>(pair.size()));
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_HOST, "localhost");
  httpSetField(http, HTTP_FIELD_AUTHORIZATION, (std::string("Basic ") + encoded).c_str());
  bool sent = false;
  if (form.empty()) {
    sent = httpGet(http, path.c_str()) == 0;
  } else {
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
    httpSetLength(http, form.size());
    sent = httpPost(http, path.c_str()) == 0 &&
           httpWrite2(http, form.data(), form.size()) == static_cast<ssize_t>(form.size());
  }
  std::string text;
  if (sent) {
    while (httpUpdate(http) == HTTP_STATUS_CONTINUE) {
    }
    char buf[4096];
    for (ssize_t n; (n = httpRead2(http, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  }
  httpClose(http);
  return text;
}

TEST(AppStatus, ANetworkPrintersReasonsAndSuppliesFollowItsPrinterMibAndClearAgain) {
  FakePrinterMib mib;
  ASSERT_TRUE(mib.listening());
  AppServer server({"idle-status-seconds=2"});
  ASSERT_TRUE(server.ready()) << server.log();
  ProcessResult add = server.app({"add", "-d", "net", "-m", "tesvel_tz3010", "-v", mib.uri()});
  ASSERT_EQ(add.exitStatus, 0) << add.out << add.err;

  EXPECT_EQ(server.waitForPrinterAttribute("net", "marker-levels", "100"), "100");
  EXPECT_EQ(server.printerAttribute("net", "printer-state-reasons"), "none");
  EXPECT_EQ(server.printerAttribute("net", "marker-names"), "Black Toner");
  EXPECT_EQ(server.printerAttribute("net", "printer-supply"),
            "index=0;type=toner;maxcapacity=100;level=100;colorantname=black;");
  EXPECT_NE(server.printerAttribute("net", "printer-supply-info-uri"), "");
  EXPECT_NE(web_page(server, "/net/").find("/net/supplies"), std::string::npos);

  // hrPrinterDetectedErrorState: jammed 0x0400, low toner 0x2000.
  mib.setErrorState(0x0400 | 0x2000);
  mib.setTonerLevel(5);
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", "media-jam,toner-low"),
            "media-jam,toner-low");
  EXPECT_EQ(server.printerAttribute("net", "marker-levels"), "5");
  // No paper 0x4000, door open 0x0800, offline 0x0200, no toner 0x1000.
  mib.setErrorState(0x4000 | 0x0800 | 0x0200 | 0x1000);
  const std::string many = "media-empty,offline,toner-empty,door-open";
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", many), many);
  // The page says each once, in one sentence, and follows the printer.
  std::string page = web_page(server, "/net/");
  EXPECT_NE(page.find(", Out of paper, Offline, "), std::string::npos) << page;
  EXPECT_EQ(page.find(".."), std::string::npos);
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\""), std::string::npos);
  mib.setErrorState(0);
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", "none"), "none");

  // A level the printer does not know is no level: no supplies, no page.
  mib.setTonerLevel(-2);
  EXPECT_EQ(server.waitForPrinterAttribute("net", "marker-levels", ""), "");
  EXPECT_EQ(server.printerAttribute("net", "printer-supply-info-uri"), "");
  EXPECT_EQ(web_page(server, "/net/").find("/net/supplies"), std::string::npos);

  // Status never opened the printer's data port.
  EXPECT_EQ(mib.dataConnections(), 0);

  // Switched off behind a router: no SNMP answer any more, so offline,
  // and clients asking meanwhile are answered at once.
  mib.hang();
  bool answered = false;
  EXPECT_EQ(server.printerAttribute("net", "printer-name", 10, &answered), "net");
  EXPECT_TRUE(answered);
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", "offline"), "offline");
  EXPECT_EQ(server.printerAttribute("net", "printer-state-message").rfind("The printer is offline.", 0), 0u);
  // Nor does such a printer hold the server's start: a request that does
  // not ask for the printer's state is answered in time.
  ASSERT_TRUE(server.restart()) << server.log();
  ProcessResult jobs = server.ipptool("net", {"-T", "10"}, {"get-jobs.test"});
  EXPECT_EQ(jobs.exitStatus, 0) << jobs.out << jobs.err;
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

// A fake agent's printer as PAPPL's SNMP discovery names it, by its system
// name: the agent's address here.
std::string snmp_uri(const FakePrinterMib& mib) {
  std::string socket = mib.uri();  // socket://ADDRESS:PORT
  return "snmp://" + socket.substr(9, socket.rfind(':') - 9);
}

TEST(AppStatus, SnmpDiscoveredPrintersAreAskedLikeSocketOnesAndOneWithoutAnAgentIsNotKnownNotOffline) {
  FakePrinterMib mib, quiet;
  ASSERT_TRUE(mib.listening() && quiet.listening());
  quiet.hang();  // no agent: SNMP questions go unanswered
  AppServer server({"idle-status-seconds=2"});
  ASSERT_TRUE(server.ready()) << server.log();
  for (const auto& p : {std::make_pair("found", snmp_uri(mib)), std::make_pair("quiet", snmp_uri(quiet) + "/")}) {
    ProcessResult add = server.app({"add", "-d", p.first, "-m", "tesvel_tz3010", "-v", p.second});
    ASSERT_EQ(add.exitStatus, 0) << add.out << add.err;
  }

  EXPECT_EQ(server.waitForPrinterAttribute("found", "marker-levels", "100"), "100");
  mib.setErrorState(0x0400 | 0x2000);  // jammed, low toner
  EXPECT_EQ(server.waitForPrinterAttribute("found", "printer-state-reasons", "media-jam,toner-low"),
            "media-jam,toner-low");
  mib.setErrorState(0);
  EXPECT_EQ(server.waitForPrinterAttribute("found", "printer-state-reasons", "none"), "none");
  EXPECT_EQ(mib.dataConnections(), 0);

  // The silent one is said once not to answer; nothing is made up for it.
  const std::string silence = "[Printer quiet] The printer does not answer SNMP: its state is not known";
  for (int i = 0; i < deadlineSeconds(20) * 10 && server.log().find(silence) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(server.log().find(silence), std::string::npos) << server.log();
  EXPECT_EQ(server.printerAttribute("quiet", "printer-state-reasons"), "none");
  EXPECT_EQ(server.printerAttribute("quiet", "printer-state-message"), "Idle.");

  // One that answered and stops is offline.
  mib.hang();
  EXPECT_EQ(server.waitForPrinterAttribute("found", "printer-state-reasons", "offline"), "offline");
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

// The fake libusb in the server from its start: one Tesvel printer plugged
// in, its port status read from a file the test writes.
class UsbPrinterTest : public testing::Test {
 protected:
  struct Environment {
    explicit Environment(const TempDir& dir) {
      setenv("LD_PRELOAD", FAKE_LIBUSB, 1);
      std::string asan = getenv("ASAN_OPTIONS") != nullptr ? getenv("ASAN_OPTIONS") : "";
      setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
      setenv("FAKE_USB_DEVICES", "0:", 1);
      setenv("FAKE_USB_DEVICE_ID", "MFG:Tesvel;MDL:TZ3010 Series;CMD:TESVEL;", 1);
      setenv("FAKE_USB_PORT_STATUS", dir.file("port").c_str(), 1);
      setenv("FAKE_USB_STALL_WITHOUT_PAPER", "1", 1);  // no paper: the printer takes no data
    }
  };
  void set_port_status(unsigned char bits) { writeFile(dir_.file("port"), std::string(1, static_cast<char>(bits))); }

  TempDir dir_;
  Environment env_{dir_};
  AppServer server_{std::vector<std::string>{"idle-status-seconds=2"}};
};

TEST_F(UsbPrinterTest, APrinterPluggedInAtTheFirstStartAppearsAndItsPortStatusShowsIdleAndMidJob) {
  ASSERT_TRUE(server_.ready()) << server_.log();
  writeFile(dir_.file("page.pdf"), makePdf(1));
  ProcessResult list = server_.app({"printers"});
  EXPECT_NE(list.out.find("Tesvel TZ3010 Series"), std::string::npos) << list.out << server_.log();
  const std::string printer = "Tesvel_TZ3010_Series";
  EXPECT_EQ(server_.printerAttribute(printer, "printer-make-and-model"), "Tesvel TZ3010 Series");

  // The IEEE 1284 status byte: 0x08 no fault, 0x10 selected, 0x20 paper empty.
  const struct {
    unsigned char bits;
    const char* reasons;
  } kPort[] = {{0x18, "none"}, {0x38, "media-empty"}, {0x08, "offline"}, {0x10, "other"}, {0x18, "none"}};
  for (const auto& p : kPort) {
    set_port_status(p.bits);
    EXPECT_EQ(server_.waitForPrinterAttribute(printer, "printer-state-reasons", p.reasons), p.reasons)
        << "port status " << static_cast<int>(p.bits);
  }
  // Mid-job: out of paper, the printer takes nothing and the job waits,
  // told why through the job's own device; paper back, it goes on.
  set_port_status(0x38);
  EXPECT_EQ(server_.waitForPrinterAttribute(printer, "printer-state-reasons", "media-empty"), "media-empty");
  int id = server_.submit(printer, dir_.file("page.pdf"), "application/pdf");
  ASSERT_GT(id, 0);
  AppJob waiting;
  for (int i = 0; i < deadlineSeconds(60) * 10 && waiting.message != "The printer is out of paper."; ++i) {
    waiting = server_.status(printer, id);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(waiting.state, "processing");
  EXPECT_EQ(waiting.message, "The printer is out of paper.");
  auto back = std::chrono::steady_clock::now();
  set_port_status(0x18);
  EXPECT_EQ(server_.waitForPrinterAttribute(printer, "printer-state-reasons", "none"), "none");
  std::printf("USB paper back shown after %.1f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count());
  EXPECT_EQ(server_.waitForEnd(printer, id, deadlineSeconds(120)).state, "completed");
  // USB printers have no supplies to show.
  EXPECT_EQ(server_.printerAttribute(printer, "printer-supply-info-uri"), "");
  server_.stop();
  EXPECT_EQ(server_.sanitizerReports(), "");
}

using AppTestPage = OnePrinterTest;


// The share of black pixels in a rectangle of a PBM page.
double blackness(const std::string& pbm, size_t dataStart, int stride, int x0, int y0, int x1, int y1) {
  long black = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      unsigned char byte = static_cast<unsigned char>(pbm[dataStart + static_cast<size_t>(y) * stride + x / 8]);
      black += (byte >> (7 - x % 8)) & 1;
    }
  return static_cast<double>(black) / ((x1 - x0) * static_cast<double>(y1 - y0));
}

TEST_F(AppTestPage, TheTestPagePrintsFromTheWebPageAndTheCommandWithItsRampAndFrameAndIdentifyIsRefused) {
  // The printer's web page: its button prints the page as a job.
  std::string page = web_page(server_, "/p/");
  EXPECT_NE(page.find("Print Test Page"), std::string::npos) << page;
  EXPECT_EQ(page.find("Identify Printer"), std::string::npos);
  const std::string field = "name=\"session\" value=\"";
  size_t at = page.find(field);
  ASSERT_NE(at, std::string::npos) << page;
  at += field.size();
  std::string session = page.substr(at, page.find('"', at) - at);
  EXPECT_NE(web_page(server_, "/p/", "session=" + session + "&action=print-test-page").find("Test page printed"),
            std::string::npos);
  AppJob web = server_.waitForEnd("p", 1, deadlineSeconds(120));
  ASSERT_EQ(web.state, "completed") << web.message;
  std::vector<std::string> first = dirEntries(server_.outDir("p"));
  ASSERT_EQ(first.size(), 1u);
  ProcessResult webCheck = inspectStream(readFile(server_.outDir("p") + "/" + first[0]), {"--check", "--no-images"});
  EXPECT_NE(webCheck.out.find("pages=1"), std::string::npos) << webCheck.out;
  unlink((server_.outDir("p") + "/" + first[0]).c_str());

  // The command line: the same page, and its image checked.
  ProcessResult run = server_.app({"testpage", "-d", "p"});
  ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
  AppJob job = server_.waitForEnd("p", 2, deadlineSeconds(120));
  ASSERT_EQ(job.state, "completed") << job.message;
  std::vector<std::string> out = dirEntries(server_.outDir("p"));
  ASSERT_EQ(out.size(), 1u);
  TempDir pages;
  ProcessResult check =
      inspectStream(readFile(server_.outDir("p") + "/" + out[0]), {"--check", "--no-png", "-o", pages.path()});
  ASSERT_EQ(check.exitStatus, 0) << check.out;
  EXPECT_NE(check.out.find("pages=1"), std::string::npos) << check.out;

  // The page image (600 dpi, cropped to the printer's image area): the
  // frame's rows and columns are the ones nearly all black, and they lie a
  // page less two margins apart whatever the crop.
  std::string pbm = readFile(pages.file("page-001.pbm"));
  int width = 0, height = 0;
  ASSERT_EQ(sscanf(pbm.c_str(), "P4 %d %d", &width, &height), 2);
  size_t start = pbm.find('\n', pbm.find('\n') + 1) + 1;
  int stride = (width + 7) / 8;
  auto full_row = [&](int y) { return blackness(pbm, start, stride, 0, y, width, y + 1) > 0.8; };
  auto full_col = [&](int x) { return blackness(pbm, start, stride, x, 0, x + 1, height) > 0.8; };
  int top = 0, bottom = height - 1, left = 0, right = width - 1;
  while (top < height && !full_row(top)) ++top;
  while (bottom > 0 && !full_row(bottom)) --bottom;
  while (left < width && !full_col(left)) ++left;
  while (right > 0 && !full_col(right)) --right;
  const double dots = 600.0 / 72.0, margin = tpa::kTestPageMarginPt * dots;
  EXPECT_NEAR(right - left + 1, 595 * dots - 2 * margin, 4);  // A4: 595 x 842 points
  EXPECT_NEAR(bottom - top + 1, 842 * dots - 2 * margin, 4);

  // The ramp: eleven steps across the page, each darker than the one before.
  int rampTop = top + static_cast<int>((tpa::kTestPageRampTopPt - tpa::kTestPageMarginPt) * dots);
  int rampMid = rampTop + static_cast<int>(tpa::kTestPageRampHeightPt * dots / 2);
  double stepPx = (595 - 2 * (tpa::kTestPageMarginPt + tpa::kTestPageInsetPt)) * dots / tpa::kTestPageRampSteps;
  int rampLeft = left + static_cast<int>(tpa::kTestPageInsetPt * dots);
  double last = -1;
  for (int i = 0; i < tpa::kTestPageRampSteps; ++i) {
    int x0 = rampLeft + static_cast<int>((i + 0.2) * stepPx), x1 = rampLeft + static_cast<int>((i + 0.8) * stepPx);
    double b = blackness(pbm, start, stride, x0, rampMid - 100, x1, rampMid + 100);
    EXPECT_GT(b, last) << "step " << i;
    last = b;
    if (i == 0) {
      EXPECT_LT(b, 0.02);
    }
  }
  EXPECT_GT(last, 0.98);

  // No light, no sound: Identify-Printer is refused, not answered in vain.
  EXPECT_EQ(server_.printerAttribute("p", "identify-actions-supported"), "none");
  EXPECT_EQ(server_.printerAttribute("p", "operations-supported").find("Identify-Printer"), std::string::npos);
  EXPECT_EQ(server_.printerAttribute("p", "printer-supply-info-uri"), "");
  http_t* http = connectLoopback(server_.port());
  ASSERT_NE(http, nullptr);
  ipp_t* request = ippNewRequest(IPP_OP_IDENTIFY_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server_.printerUri("p").c_str());
  ippDelete(cupsDoRequest(http, request, "/ipp/print/p"));
  EXPECT_EQ(cupsLastError(), IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED);
  httpClose(http);
}

}  // namespace
