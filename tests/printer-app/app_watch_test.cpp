// The status watch through a whole server: a network printer is asked over
// SNMP only (no empty print connection), paper running out mid-job shows on
// the printer and the job and clears again while the job waits and goes on,
// a subscriber that only pulls notifications sees every change in order,
// and a USB printer's port status changes during a job.  The SNMP packets
// and the Printer MIB's error bits are checked directly.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app_fixture.h"
#include "cupsd_harness.h"
#include "fake_printer_mib.h"
#include "filter_messages.h"
#include "printer_status.h"
#include "snmp_status.h"
#include "web_client.h"

using namespace testing_support;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The fake network printer, added to a started server as `name`.
void add_network_printer(const AppServer& server, const FakePrinterMib& mib, const std::string& name) {
  ASSERT_TRUE(mib.listening());
  ASSERT_TRUE(server.ready()) << server.log();
  ASSERT_EQ(server.app({"add", "-d", name, "-m", "tesvel_tz3010", "-v", mib.uri()}).exitStatus, 0);
}

int subscribe(const AppServer& server, const std::string& printer) {
  ipp_t* response = server.ask(printer, IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, [](ipp_t* request) {
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
    const char* events[] = {"printer-state-changed", "job-state-changed"};
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", 2, nullptr, events);
  });
  int id = ippGetInteger(ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER), 0);
  if (id == 0) std::printf("Create-Printer-Subscriptions: %s\n", cupsLastErrorString());
  ippDelete(response);
  return id;
}

// One notification: its attributes as text.
using Event = std::map<std::string, std::string>;

std::vector<Event> notifications(const AppServer& server, const std::string& printer, int sub, int from,
                                 bool wait = false) {
  ipp_t* response = server.ask(printer, IPP_OP_GET_NOTIFICATIONS, [&](ipp_t* request) {
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids", sub);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers", from);
    if (wait) ippAddBoolean(request, IPP_TAG_OPERATION, "notify-wait", 1);
  }, 60);
  std::vector<Event> events;
  bool open = false;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    if (ippGetName(a) == nullptr || ippGetGroupTag(a) != IPP_TAG_EVENT_NOTIFICATION) {
      open = false;
      continue;
    }
    if (!open) events.emplace_back();
    open = true;
    char text[1024];
    ippAttributeString(a, text, sizeof text);
    events.back()[ippGetName(a)] = text;
  }
  ippDelete(response);
  return events;
}

// Pages that the printer's language cannot squeeze: grey noise, so the
// job (about 5 MB) is far bigger than what the sockets between server and
// printer hold (one such page is not: its job ends in the socket buffers).
std::string noise_raster() {
  RasterPage page{greyHeader(595, 842), {}};
  page.header.cupsColorSpace = CUPS_CSPACE_SW;  // sgray, as PWG raster has it
  std::mt19937 random(7);
  page.fill.resize(9973);
  for (uint8_t& b : page.fill) b = static_cast<uint8_t>(random());
  return writeRaster({page, page}, CUPS_RASTER_WRITE_PWG);
}

TEST(AppWatch, PaperOutMidJobShowsAndClearsWhileTheJobWaitsAndAPullingSubscriberSeesItAllInOrder) {
  FakePrinterMib mib;
  AppServer server({"idle-status-seconds=3"});  // the notify-wait check at the end: an idle printer
  ASSERT_NO_FATAL_FAILURE(add_network_printer(server, mib, "net"));
  int sub = subscribe(server, "net");
  ASSERT_GT(sub, 0);
  TempDir dir;
  writeFile(dir.file("noise.pwg"), noise_raster());
  // The printer runs out of paper once it has read a little of the job.
  mib.runOutOfPaperAfter(64 * 1024);
  Clock::time_point start = Clock::now();
  int submitted = 0;
  std::thread sender([&] { submitted = server.submit("net", dir.file("noise.pwg"), "image/pwg-raster"); });
  for (auto end = start + std::chrono::seconds(deadlineSeconds(60));
       mib.ranOutAt() == Clock::time_point() && Clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_NE(mib.ranOutAt(), Clock::time_point()) << server.log();
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", "media-empty", deadlineSeconds(10)),
            "media-empty");
  double shown = seconds_since(mib.ranOutAt());
  std::printf("paper out shown after %.1f s\n", shown);
  EXPECT_LT(shown, 5.0 * kDeadlineScale + 2);
  // Raster goes to the printer as it arrives: the client's upload waits
  // with the printer, so the job is the server's first, 1.
  const int job = 1;
  EXPECT_EQ(server.printerAttribute("net", "printer-state-message"), "The printer is out of paper.");
  EXPECT_EQ(server.jobAttribute("net", job, "job-state-reasons").find("printer-stopped") != std::string::npos, true);
  EXPECT_EQ(server.jobAttribute("net", job, "job-state-message"), "The printer is out of paper.");
  // The printer takes nothing meanwhile, and the job waits: neither
  // completed nor aborted.
  long held = mib.dataBytes();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(mib.dataBytes(), held);
  EXPECT_EQ(server.jobAttribute("net", job, "job-state"), "processing");

  mib.setErrorState(0);
  Clock::time_point back = Clock::now();
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", "none", deadlineSeconds(10)), "none");
  double cleared = seconds_since(back);
  std::printf("paper back shown after %.1f s\n", cleared);
  EXPECT_LT(cleared, 5.0 * kDeadlineScale + 2);
  sender.join();
  EXPECT_EQ(submitted, job);
  AppJob end = server.waitForEnd("net", job, deadlineSeconds(120));
  EXPECT_EQ(end.state, "completed") << end.message;
  std::printf("job of %ld bytes ended at %.1f s\n", mib.dataBytes(), seconds_since(start));
  EXPECT_EQ(server.jobAttribute("net", job, "job-state-reasons").find("printer-stopped"), std::string::npos);
  // One connection to the data port: the job's.  Status never used it.
  EXPECT_EQ(mib.dataConnections(), 1);
  EXPECT_EQ(mib.emptyDataConnections(), 0);

  // The subscriber pulled nothing until now: every event is kept, numbered
  // from 1 without a gap, the paper's going and coming in order, the job's end.
  std::vector<Event> events = notifications(server, "net", sub, 1);
  ASSERT_GE(events.size(), 4u);
  int paperOut = -1, paperBack = -1, jobEnd = -1;
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i]["notify-sequence-number"], std::to_string(i + 1));
    const std::string& reasons = events[i]["printer-state-reasons"];
    if (paperOut < 0 && reasons.find("media-empty") != std::string::npos) paperOut = static_cast<int>(i);
    if (paperOut >= 0 && paperBack < 0 && events[i]["notify-subscribed-event"] == "printer-state-changed" &&
        reasons.find("media-empty") == std::string::npos)
      paperBack = static_cast<int>(i);
    if (events[i]["notify-subscribed-event"] == "job-completed") jobEnd = static_cast<int>(i);
  }
  EXPECT_GE(paperOut, 0);
  EXPECT_GT(paperBack, paperOut);
  ASSERT_GE(jobEnd, 0);
  EXPECT_EQ(events[jobEnd]["job-state"], "completed");
  // "From N" gives N first.
  std::vector<Event> from = notifications(server, "net", sub, 3);
  ASSERT_FALSE(from.empty());
  EXPECT_EQ(from.front()["notify-sequence-number"], "3");
  // notify-wait: the answer comes with the next change.
  int next = static_cast<int>(events.size()) + 1;
  std::vector<Event> waited;
  std::thread waiter([&] { waited = notifications(server, "net", sub, next, true); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  mib.setErrorState(0x0400);  // jammed
  waiter.join();
  ASSERT_FALSE(waited.empty());
  EXPECT_EQ(waited.front()["notify-sequence-number"], std::to_string(next));
  EXPECT_NE(waited.back()["printer-state-reasons"].find("media-jam"), std::string::npos);
  // A change of reasons alone (the message stays the jam's) is an event too.
  mib.setErrorState(0x0400 | 0x2000);  // and low toner
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", "media-jam,toner-low", deadlineSeconds(10)),
            "media-jam,toner-low");
  std::vector<Event> later = notifications(server, "net", sub, next);
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(later.back()["printer-state-reasons"], "media-jam,toner-low");
  EXPECT_EQ(later.back()["printer-state-message"], "Paper is jammed in the printer.");
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

// A printer that runs out of paper at once, with the whole of a small job
// on its way (the sockets between server and printer hold it), is waited
// for at the job's end as in its middle, longer than the silence allowed to
// a printer that reports nothing wrong, and prints the job once put right.
TEST(AppWatch, PaperOutAfterTheLastByteIsWaitedForAndTheJobPrints) {
  FakePrinterMib mib;
  AppServer server;
  ASSERT_NO_FATAL_FAILURE(add_network_printer(server, mib, "net"));
  TempDir dir;
  writeFile(dir.file("page.pdf"), makePdf(1));
  mib.runOutOfPaperAfter(1);
  int job = server.submit("net", dir.file("page.pdf"), "application/pdf");
  ASSERT_GT(job, 0) << server.log();
  EXPECT_EQ(server.waitForPrinterAttribute("net", "printer-state-reasons", "media-empty", deadlineSeconds(20)),
            "media-empty");
  std::this_thread::sleep_for(std::chrono::seconds(33));
  EXPECT_EQ(server.jobAttribute("net", job, "job-state"), "processing");
  mib.setErrorState(0);
  AppJob end = server.waitForEnd("net", job, deadlineSeconds(60));
  EXPECT_EQ(end.state, "completed") << end.message << server.log();
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

// What a CUPS user sees: CUPS's IPP backend reads the printer's state
// while it sends the job, and the driverless queue shows the printer's
// message (CUPS 2.4's backend keeps a bare "media-empty" to itself).
TEST(AppWatch, ACupsDriverlessQueueShowsWhyThePrinterWaitsWhileTheJobWaits) {
  FakePrinterMib mib;
  AppServer server;
  ASSERT_NO_FATAL_FAILURE(add_network_printer(server, mib, "office"));
  CupsdSetup setup;
  setup.systemBackends = {"ipp"};
  PrivateCupsd cupsd(setup);
  ASSERT_TRUE(cupsd.ready()) << cupsd.daemonOutput();
  ProcessResult add = cupsd.addDriverlessQueue("office", server.printerUri("office"));
  ASSERT_EQ(add.exitStatus, 0) << add.out << add.err << cupsd.errorLog();
  TempDir dir;
  writeFile(dir.file("noise.pwg"), noise_raster());
  mib.runOutOfPaperAfter(64 * 1024);
  std::string why;
  int id = cupsd.submit("office", dir.file("noise.pwg"), {}, &why);
  ASSERT_GT(id, 0) << why;
  std::string shown;
  for (auto end = Clock::now() + std::chrono::seconds(deadlineSeconds(60)); Clock::now() < end;) {
    shown = cupsd.run({"/usr/bin/lpstat", "-p", "-l"}).out;
    if (shown.find("The printer is out of paper.") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_NE(shown.find("The printer is out of paper."), std::string::npos) << shown << cupsd.jobLog(id);
  mib.setErrorState(0);
  EXPECT_EQ(cupsd.waitForJob(id, deadlineSeconds(120)), JobState::Completed) << cupsd.jobLog(id) << server.log();
  EXPECT_EQ(cupsd.run({"/usr/bin/lpstat", "-p", "-l"}).out.find("out of paper"), std::string::npos);
}

TEST(AppWatch, APrinterThatRefusesConnectionsIsOfflineNotPausedWhileTheJobWaits) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  // A printer switched off: its port is bound but nothing listens, so every
  // connection is refused until it listens.
  int port = 0;
  int printer = loopbackSocket(&port);
  ASSERT_GT(port, 0);
  ASSERT_EQ(server.app({"add", "-d", "gone", "-m", "tesvel_tz3010", "-v",
                        "socket://127.0.0.1:" + std::to_string(port)})
                .exitStatus,
            0);
  TempDir dir;
  writeFile(dir.file("one.pdf"), makePdf(1));
  int id = server.submit("gone", dir.file("one.pdf"), "application/pdf");
  ASSERT_GT(id, 0);
  EXPECT_EQ(server.waitForPrinterAttribute("gone", "printer-state-reasons", "offline,connecting-to-device",
                                           deadlineSeconds(30)),
            "offline,connecting-to-device")
      << server.log();
  EXPECT_EQ(server.printerAttribute("gone", "printer-state"), "processing");
  EXPECT_EQ(server.printerAttribute("gone", "printer-state-message"),
            "Cannot reach the printer: trying again every 5 seconds.");
  EXPECT_EQ(server.jobAttribute("gone", id, "job-state-reasons"), "printer-stopped");
  EXPECT_EQ(server.jobAttribute("gone", id, "job-state-message"),
            "Cannot reach the printer: trying again every 5 seconds.");
  // The printer's web page says it too, in the reader's language.
  EXPECT_NE(web(server.port(), "/gone", "").body.find("Offline, Connecting to the printer."), std::string::npos);
  EXPECT_NE(web(server.port(), "/gone", "", "", "de").body.find("Verbindung zum Drucker wird aufgebaut."),
            std::string::npos);

  // Switched on: the printer takes the job, and nothing is connecting any more.
  EXPECT_EQ(listen(printer, 4), 0);
  long taken = 0;
  std::thread reader([printer, &taken] {
    pollfd p{printer, POLLIN, 0};
    int c = poll(&p, 1, deadlineSeconds(60) * 1000) == 1 ? accept4(printer, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    timeval limit{deadlineSeconds(60), 0};
    if (c >= 0) setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char buffer[65536];
    for (ssize_t n; c >= 0 && (n = read(c, buffer, sizeof buffer)) > 0;) taken += n;
    if (c >= 0) close(c);
  });
  AppJob job = server.waitForEnd("gone", id, deadlineSeconds(60));
  reader.join();
  close(printer);
  EXPECT_EQ(job.state, "completed") << job.message << server.log();
  EXPECT_GT(taken, 0);
  EXPECT_EQ(server.printerAttribute("gone", "printer-state-reasons").find("connecting-to-device"),
            std::string::npos);
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

TEST(SnmpStatus, TheErrorStateQuestionAndItsAnswerAreReadAsThePrinterMibWritesThem) {
  // The request: SNMPv1, "public", GetRequest of hrPrinterDetectedErrorState.1.
  const std::string expected =
      std::string("\x30\x29\x02\x01\x00\x04\x06public\xa0\x1c\x02\x01\x07\x02\x01\x00\x02\x01\x00", 24) +
      std::string("\x30\x11\x30\x0f\x06\x0b\x2b\x06\x01\x02\x01\x19\x03\x05\x01\x02\x01\x05\x00", 19);
  EXPECT_EQ(tpa::snmpErrorStateRequest(7), expected);
  // An answer: the request turned GetResponse, the OID then two octets.
  auto response = [](char id, char error, const std::string& value) {
    std::string bind = std::string("\x06\x0b\x2b\x06\x01\x02\x01\x19\x03\x05\x01\x02\x01", 13) + value;
    std::string list = std::string("\x30", 1) + char(bind.size() + 2) + "\x30" + char(bind.size()) + bind;
    std::string pdu = std::string("\x02\x01", 2) + id + std::string("\x02\x01", 2) + error + "\x02\x01" +
                      std::string(1, '\0') + list;
    std::string body = std::string("\x02\x01\x00\x04\x06public", 11) + "\xa2" + char(pdu.size()) + pdu;
    return "\x30" + std::string(1, char(body.size())) + body;
  };
  uint16_t state = 0;
  EXPECT_TRUE(tpa::snmpReadErrorState(response(7, 0, std::string("\x04\x02\x44\x00", 4)), 7, &state));
  EXPECT_EQ(state, 0x4400);
  EXPECT_TRUE(tpa::snmpReadErrorState(response(7, 0, std::string("\x04\x01\x04", 3)), 7, &state));
  EXPECT_EQ(state, 0x0400);
  EXPECT_FALSE(tpa::snmpReadErrorState(response(8, 0, std::string("\x04\x02\x44\x00", 4)), 7, &state));  // another question's
  EXPECT_FALSE(tpa::snmpReadErrorState(response(7, 2, std::string("\x05\x00", 2)), 7, &state));  // noSuchName
  EXPECT_FALSE(tpa::snmpReadErrorState(response(7, 0, std::string("\x04\x05\x44", 3)), 7, &state));  // cut short

  // The error bits as reasons: each alone, then the graver of a kind wins.
  const struct {
    uint16_t bits;
    unsigned reasons;
  } kBits[] = {
      {0x8000, PAPPL_PREASON_MEDIA_LOW},   {0x4000, PAPPL_PREASON_MEDIA_EMPTY},
      {0x2000, PAPPL_PREASON_TONER_LOW},   {0x1000, PAPPL_PREASON_TONER_EMPTY},
      {0x0800, PAPPL_PREASON_DOOR_OPEN},   {0x0400, PAPPL_PREASON_MEDIA_JAM},
      {0x0200, PAPPL_PREASON_OFFLINE},     {0x0100, PAPPL_PREASON_OTHER},
      {0x0080, PAPPL_PREASON_INPUT_TRAY_MISSING}, {0x0040, PAPPL_PREASON_OTHER},
      {0x0020, PAPPL_PREASON_OTHER},       {0x0010, PAPPL_PREASON_NONE},  // output near full: a warning we do not show
      {0x0008, PAPPL_PREASON_OTHER},       {0x0004, PAPPL_PREASON_MEDIA_EMPTY},
      {0xc000, PAPPL_PREASON_MEDIA_EMPTY}, {0x3000, PAPPL_PREASON_TONER_EMPTY},
      {0x0000, PAPPL_PREASON_NONE},
  };
  for (const auto& b : kBits) EXPECT_EQ(tpa::errorStateReasons(b.bits), b.reasons) << std::hex << b.bits;
  EXPECT_STREQ(tpa::reasonMessage(static_cast<pappl_preason_t>(PAPPL_PREASON_TONER_LOW | PAPPL_PREASON_MEDIA_EMPTY)),
               "The printer is out of paper.");
  EXPECT_EQ(tpa::reasonMessage(PAPPL_PREASON_NONE), nullptr);
}

TEST(SnmpStatus, ADeviceUriGivesTheHostToAskOrTheStatusOnlyUriPapplFindsThePrinterBy) {
  const struct {
    const char* uri;
    const char* host;
    const char* discover;
  } kUris[] = {
      {"socket://10.0.0.5:9100/?contimeout=30", "10.0.0.5", ""},
      {"snmp://NPI3B5F2A", "NPI3B5F2A", "snmp://NPI3B5F2A/?status-only"},
      {"dnssd://T%20Z._pdl-datastream._tcp.local/?uuid=4c1f", "",
       "dnssd://T%20Z._pdl-datastream._tcp.local/?uuid=4c1f&status-only"},
      {"usb://Tesvel/TZ3010?serial=1", "", ""},
  };
  for (const auto& u : kUris) {
    tpa::StatusRoute route = tpa::statusRouteOf(u.uri);
    EXPECT_EQ(route.host, u.host) << u.uri;
    EXPECT_EQ(route.discoverUri, u.discover) << u.uri;
  }
  // PAPPL opens a status-only URI among other options without connecting
  // (nothing listens on port 9), and says where the device points.
  pappl_device_t* device =
      papplDeviceOpen("socket://127.0.0.1:9/?uuid=4c1f&status-only", "t", nullptr, nullptr);
  ASSERT_NE(device, nullptr);
  char address[256];
  EXPECT_STREQ(papplDeviceGetAddress(device, address, sizeof address), "127.0.0.1");
  papplDeviceClose(device);
}

TEST(FilterState, AFiltersStateLinesAddRemoveOrReplaceTheReasonsAsCupsdReadsThem) {
  const unsigned all = PAPPL_PREASON_OTHER | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_DOOR_OPEN |
                       PAPPL_PREASON_INPUT_TRAY_MISSING | PAPPL_PREASON_MARKER_SUPPLY_EMPTY |
                       PAPPL_PREASON_MARKER_SUPPLY_LOW | PAPPL_PREASON_MARKER_WASTE_ALMOST_FULL |
                       PAPPL_PREASON_MARKER_WASTE_FULL | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_JAM |
                       PAPPL_PREASON_MEDIA_LOW | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_TONER_EMPTY |
                       PAPPL_PREASON_TONER_LOW;
  const struct {
    const char* line;
    unsigned add, remove;
  } kLines[] = {
      {"+media-empty-error", PAPPL_PREASON_MEDIA_EMPTY, 0},
      {"-media-empty-error", 0, PAPPL_PREASON_MEDIA_EMPTY},
      {"+media-jam-error +toner-low-warning", PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_TONER_LOW, 0},
      {"+offline-report,-door-open", PAPPL_PREASON_OFFLINE, PAPPL_PREASON_DOOR_OPEN},
      {"+connecting-to-device", 0, 0},  // no such reason in PAPPL: left out
      {"cover-open-error", PAPPL_PREASON_COVER_OPEN, all & ~PAPPL_PREASON_COVER_OPEN},
      {"none", 0, all},
  };
  for (const auto& l : kLines) {
    tpa::StateLine s = tpa::parseStateLine(l.line);
    EXPECT_EQ(s.add, l.add) << l.line;
    EXPECT_EQ(s.remove, l.remove) << l.line;
  }
  EXPECT_EQ(tpa::parseFilterLine("STATE: +media-empty-error").kind, tpa::FilterMessage::State);
  EXPECT_EQ(tpa::parseFilterLine("STATE: +media-empty-error").text, "+media-empty-error");
  EXPECT_EQ(tpa::parseFilterLine("ATTR: marker-levels=50").kind, tpa::FilterMessage::Attr);
}

}  // namespace
