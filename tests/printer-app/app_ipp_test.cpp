// The Printer Application as IPP clients meet it: its attributes, a CUPS
// 2.4 driverless queue, and the driver list with the device-ID match that
// picks a driver for a USB printer.  (CUPS's conformance files run in
// conformance.sh.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include <cups/cups.h>

#include "app_server.h"
#include "cupsd_harness.h"
#include "page_ink.h"

using namespace testing_support;

namespace {

// What a client reads to build its dialog must agree with itself, and a
// job's pages are counted once whichever way PAPPL hands them over.
// The blank edges each printer advertises, worked out by hand from the
// paper tables: TZ3010, Letter (5100 dots wide, 4864 printed) leaves 118
// dots each side, 5.00 mm, and B5 (6075 lines, 5835 printed) 240 lines,
// 10.16 mm; TC1110, IOSB5 (4159 dots, 3968 printed) 96 dots, 4.07 mm.
struct EdgeCase {
  const char* driver;
  const char* leftRight;
  const char* bottomTop;
};
constexpr EdgeCase kEdges[] = {{"tesvel_tz3010", "500", "1016"}, {"tesvel_tc1110", "407", "1016"}};

TEST(AppIpp, ThePrinterAttributesAgreeAndEveryPageIsCountedOnce) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  for (const EdgeCase& e : kEdges) {
    const char* driver = e.driver;
    SCOPED_TRACE(driver);
    ASSERT_TRUE(server.addPrinter(driver, driver, &why)) << why;
    std::string sides = server.printerAttribute(driver, "sides-supported");
    std::string urf = server.printerAttribute(driver, "urf-supported");
    EXPECT_EQ(sides.find("two-sided") != std::string::npos, urf.find(",DM") != std::string::npos) << sides << " / " << urf;
    EXPECT_EQ(countOf(server.printerAttribute(driver, "media-source-supported"), "auto"), 1u);
    // One tray for each of the three sources, none made up after them.
    std::string trays = server.printerAttribute(driver, "printer-input-tray");
    EXPECT_EQ(countOf(trays, "type="), 3u) << trays;
    EXPECT_EQ(countOf(trays, "type=other;"), 0u) << trays;
    EXPECT_EQ(server.printerAttribute(driver, "print-darkness-supported"), "5") << "the density levels";
    EXPECT_EQ(server.printerAttribute(driver, "mopria-certified"), "");
    std::string settable = server.printerAttribute(driver, "printer-settable-attributes-supported");
    EXPECT_NE(settable.find("printer-location"), std::string::npos) << settable;
    EXPECT_EQ(settable.find("copies-default"), std::string::npos) << "Set-Printer-Attributes refuses it";
    EXPECT_EQ(server.printerAttribute(driver, "number-up-supported"), "1,2,4,6,9,16");
    // The driver's value, not PAPPL's "1" before it.
    EXPECT_EQ(server.printerAttribute(driver, "max-page-ranges-supported"), "100");
    EXPECT_EQ(server.printerAttribute(driver, "print-rendering-intent-supported"), "auto");
    EXPECT_EQ(server.printerAttribute(driver, "preferred-attributes-supported"), "false");
    // Nothing borderless: one value each, the printer's.
    EXPECT_EQ(server.printerAttribute(driver, "media-left-margin-supported"), e.leftRight);
    EXPECT_EQ(server.printerAttribute(driver, "media-bottom-margin-supported"), e.bottomTop);
    std::string ready = server.printerAttribute(driver, "media-col-ready");
    EXPECT_NE(ready.find(std::string("media-left-margin=") + e.leftRight), std::string::npos) << ready;
    std::string database = server.printerAttribute(driver, "media-col-database");
    EXPECT_NE(database.find(std::string("media-left-margin=") + e.leftRight), std::string::npos) << database;
    for (const char* zero : {"margin=0 ", "margin=0}"}) EXPECT_EQ(database.find(zero), std::string::npos) << database;
  }
  TempDir dir;
  writeFile(dir.file("two.pwg"), pwgRaster(makePdf(2)));
  runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=jpeggray", "-r20",
              "-sOutputFile=" + dir.file("one.jpg"), "-c", "showpage"});
  EXPECT_EQ(server.print("tesvel_tz3010", dir.file("two.pwg"), "image/pwg-raster").state, "completed");
  EXPECT_EQ(server.print("tesvel_tz3010", dir.file("one.jpg"), "image/jpeg", {"ATTR integer copies 2"}).state,
            "completed");
  server.stop();
  EXPECT_NE(server.log().find("[Job 1] Completed, job-impressions-completed=2."), std::string::npos) << server.log();
  EXPECT_NE(server.log().find("[Job 2] Completed, job-impressions-completed=2."), std::string::npos);
  EXPECT_EQ(server.sanitizerReports(), "");
}

// Documents printed one after another, each with its options, through one
// CUPS 2.4 driverless queue ("lpadmin -m everywhere") to the server's
// printer "office": what the printer received for each.
// `queueOptions`, when given, gets the options the queue offers.
struct QueueJob {
  std::string pdf;
  std::vector<std::string> options;
};
void print_through_driverless_queue(const AppServer& server, const std::vector<QueueJob>& jobs,
                                    std::vector<std::string>* streams, std::string* queueOptions = nullptr) {
  CupsdSetup setup;
  setup.systemBackends = {"ipp"};
  PrivateCupsd cupsd(setup);
  ASSERT_TRUE(cupsd.ready()) << cupsd.daemonOutput();
  ProcessResult add = cupsd.addDriverlessQueue("office", server.printerUri("office"));
  ASSERT_EQ(add.exitStatus, 0) << add.out << add.err << cupsd.errorLog();
  if (queueOptions) {
    // The PPD CUPS made, once cupsd has written it (as office.ppd.N, then
    // office.ppd): each option's OpenUI name ("*OpenUI *Duplex/...").
    std::string dir = cupsd.tempDir() + "/../conf/ppd/office.ppd", text;
    for (int i = 0; i < 100 && text.find("*End") == std::string::npos; ++i) {
      if (i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      text = fileExists(dir) ? readFile(dir) : readFile(dir + ".N");
    }
    std::istringstream ppd(text);
    for (std::string line; std::getline(ppd, line);)
      if (line.rfind("*OpenUI *", 0) == 0) *queueOptions += line.substr(9, line.find_first_of("/:", 9) - 9) + " ";
  }
  TempDir dir;
  const std::string out = server.dir() + "/out-office";
  for (const QueueJob& job : jobs) {
    // Named apart: the printer's file for a job is named after its title.
    const std::string doc = dir.file("doc" + std::to_string(streams->size()) + ".pdf");
    writeFile(doc, job.pdf);
    std::string why;
    std::vector<std::string> before = dirEntries(out);
    size_t done = countOf(server.log(), "Completed, job-impressions-completed=");
    int id = cupsd.submit("office", doc, job.options, &why);
    ASSERT_GT(id, 0) << why;
    EXPECT_EQ(cupsd.waitForJob(id, 120), JobState::Completed) << cupsd.jobLog(id) << server.log();
    // The application's job ends after CUPS hands it over: wait for its file.
    std::string stream;
    for (int i = 0; i < 300 && stream.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::vector<std::string> files = dirEntries(out);
      if (files.size() != before.size() + 1 || countOf(server.log(), "Completed, job-impressions-completed=") <= done)
        continue;
      for (const std::string& f : files)
        if (std::find(before.begin(), before.end(), f) == before.end()) stream = readFile(out + "/" + f);
    }
    streams->push_back(stream);
  }
}

// What a desktop prints through the queue: a plain job at full size on the
// paper CUPS chose from the printer's own sizes, and landscape, fit-to-page
// and two pages a sheet as CUPS lays them out.
TEST(AppIpp, ACupsDriverlessQueuePrintsThroughTheApplicationAtFullSize) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  ASSERT_TRUE(server.addPrinter("office", "tesvel_tz3010", &why)) << why;
  const std::string frame = framePdf(2);
  std::vector<std::string> streams;
  ASSERT_NO_FATAL_FAILURE(print_through_driverless_queue(
      server,
      {{makePdf(2), {"-o", "media=iso_a5_148x210mm"}},
       {frame, {}},
       {frame, {"-o", "landscape"}},
       {frame, {"-o", "fit-to-page"}},
       {frame, {"-o", "number-up=2"}}},
      &streams));
  ASSERT_EQ(streams.size(), 5u);
  ProcessResult check = inspectStream(streams[0], {"--check", "--list"});
  EXPECT_NE(check.out.find("check ok dialect=PLATFORM_Z pages=2"), std::string::npos) << check.out;
  EXPECT_EQ(countOf(check.out, "paperCode=11 "), 2u) << "A5 on this printer is paper code 11";
  // The queue's default paper is the printer's, A4 (paper code 1).
  EXPECT_EQ(countOf(inspectStream(streams[1], {"--list"}).out, "paperCode=1 "), 2u);
  std::vector<PageInk> plain = pageInk(streams[1]), landscape = pageInk(streams[2]), fit = pageInk(streams[3]),
                        twoUp = pageInk(streams[4]);
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_NEAR(plain[0].inkWidthMm(), frameWidthMm(595), frameWidthMm(595) / 100) << "at 100%";
  EXPECT_NEAR(plain[0].inkHeightMm(), frameHeightMm(842), frameHeightMm(842) / 100) << "at 100%";
  ASSERT_EQ(landscape.size(), 2u);
  // CUPS's pdftopdf turns a portrait page a quarter for landscape and its
  // auto-rotation a quarter more to the portrait paper: upside down.
  EXPECT_EQ(plain[0].heavyCorner(), "tl");
  EXPECT_EQ(landscape[0].heavyCorner(), "br") << "the page turned";
  ASSERT_EQ(fit.size(), 2u);
  EXPECT_LT(fit[0].inkWidthMm(), plain[0].inkWidthMm() * 0.99) << "fitted within the printer's edges";
  EXPECT_GT(fit[0].left, 0);
  EXPECT_LT(fit[0].bottom, fit[0].height - 1);
  EXPECT_EQ(twoUp.size(), 1u) << "two pages on one sheet";
}

// What a CUPS 2.4 driverless queue carries: the standard attributes (two-
// sided, draft as toner save); the vendor settings come from the printer's
// defaults.
TEST(AppIpp, ThroughACupsDriverlessQueueStandardAttributesAndPrinterDefaultsReachThePrinter) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  ASSERT_TRUE(server.addPrinter("office", "tesvel_tc1110", &why)) << why;
  ProcessResult set = server.app({"modify", "-d", "office", "-o", "tesvel-negative-print=true"});
  ASSERT_EQ(set.exitStatus, 0) << set.out << set.err;
  // At debug level the log lists the attributes of each request.
  server.stop();
  ASSERT_TRUE(server.restart({"log-level=debug"}));
  std::vector<std::string> streams;
  std::string offered;
  ASSERT_NO_FATAL_FAILURE(print_through_driverless_queue(
      server,
      {{makePdf(2), {"-o", "sides=two-sided-long-edge", "-o", "print-quality=3", "-o", "tesvel-image-rotation=true"}}},
      &streams, &offered));
  ASSERT_EQ(streams.size(), 1u);
  const std::string& stream = streams[0];
  // CUPS 2.4 makes options of the standard attributes only, though the
  // printer now answers its "all,media-col-database" with the vendor ones.
  EXPECT_EQ(offered, "PageSize PageRegion InputSlot cupsPrintQuality ColorModel Duplex OutputBin ");
  // CUPS sent the standard attributes.  The vendor setting the job named
  // usually stays behind (CUPS maps a job's options through the PPD it made
  // for the queue, which has none); once, to a slow server, it came along.
  // The printer's default holds either way ...
  EXPECT_NE(server.log().find("Create-Job request:   sides keyword two-sided-long-edge"), std::string::npos);
  // A server on loopback only is advertised on no network (the debug log
  // names each DNS-SD registration, with or without a daemon).
  EXPECT_EQ(server.log().find("Registering DNS-SD name"), std::string::npos);
  // ... and the job printed as one sent straight with the standard
  // attributes does, with the printer's default negative print.
  TempDir dir;
  writeFile(dir.file("doc.pdf"), makePdf(2));
  AppJob direct = server.print("office", dir.file("doc.pdf"), "application/pdf",
                               {"ATTR keyword sides two-sided-long-edge", "ATTR enum print-quality 3"});
  ASSERT_EQ(direct.state, "completed") << direct.message;
  // CUPS rewrites the document, so the pictures differ by a few dots; the
  // settings are the same: the duplex unit, toner save, two pages.
  ProcessResult list = inspectStream(stream, {"--no-png"});
  std::string expected = inspectStream(direct.stream, {"--no-png"}).out;
  for (const char* fact : {"machineDuplexCmd", "density=0 ", "pages=2 "}) {
    EXPECT_EQ(countOf(list.out, fact), countOf(expected, fact)) << fact;
    EXPECT_GT(countOf(list.out, fact), 0u) << fact;
  }
  size_t black = list.out.find(" black=");
  ASSERT_NE(black, std::string::npos);
  EXPECT_GT(std::atol(list.out.c_str() + black + 7), 4928L * 6364 / 2) << "a negative page is mostly black";
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

TEST(AppIpp, EveryModelHasADriverAndTheDeviceIdPicksTheRightOne) {
  AppServer server;
  ProcessResult all = server.app({"drivers"});
  EXPECT_EQ(countOf(all.out, "\n"), 133u) << all.out;  // 72 host-based, 61 PostScript
  EXPECT_NE(all.out.find("tesvel_tz3010 \"Tesvel TZ3010 Series\" \"MFG:Tesvel;MDL:TZ3010 Series;\""),
            std::string::npos);
  struct Case {
    const char* id;
    const char* driver;  // "" when no driver fits
  };
  const Case cases[] = {
      {"MFG:Tesvel;MDL:TZ3010 Series;CMD:PJL;", "tesvel_tz3010"},
      {"MANUFACTURER:TESVEL;MODEL:TZ3010;", "tesvel_tz3010"},
      {"MFG:Tesvel;MDL:TXA200 Series;", "tesvel_txa200"},  // not the TXA
      {"MFG:Tesvel;MDL:TXA;", "tesvel_txa"},
      {"MFG:Tesvel;MDL:TM4050DN;", "tesvel_tm4050"},        // a variant of the TM4050
      {"MFG:Other;MDL:TZ3010 Series;", ""},
      {"MFG:Tesvel;MDL:TP3010 Series PS;", "tesvel_ps_tp3010"},
      {"MFG:Tesvel;CMD:PJL,POSTSCRIPT;MDL:Tesvel TPC8010 series;CLS:PRINTER;", "tesvel_ps_tpc8010"},
      {"MFG:Tesvel;MDL:TP5160DN;", "tesvel_ps_tp5160"},
      {"MFG:Tesvel;MDL:TP301;", ""},                       // no model of that number
  };
  auto driver_for = [&](const std::string& id) {
    ProcessResult r = server.app({"drivers", "-o", "device-id='" + id + "'"});
    return r.out.substr(0, r.out.find(' '));
  };
  for (const Case& c : cases) EXPECT_EQ(driver_for(c.id), c.driver) << c.id;
  // Every model's own name picks it; with a digit after it ("TXA700"), the
  // name is another model's, or none.
  std::map<std::string, std::string> byStem;  // "TZ3010" -> "tesvel_tz3010"
  std::istringstream lines(all.out);
  for (std::string line; std::getline(lines, line);) {
    size_t mdl = line.find("MDL:"), end = line.find(" Series;", mdl);
    if (mdl != std::string::npos && end != std::string::npos)
      byStem[line.substr(mdl + 4, end - mdl - 4)] = line.substr(0, line.find(' '));
  }
  ASSERT_EQ(byStem.size(), 72u);
  for (const auto& [stem, driver] : byStem) {
    EXPECT_EQ(driver_for("MFG:Tesvel;MDL:" + stem + " Series;"), driver) << stem;
    std::string longer = stem + "0";
    EXPECT_EQ(driver_for("MFG:Tesvel;MDL:" + longer + ";"), byStem.count(longer) ? byStem[longer] : "") << longer;
  }
}

}  // namespace
