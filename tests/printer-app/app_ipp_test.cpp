// The Printer Application as IPP clients meet it: CUPS's own conformance
// files, a CUPS 2.4 driverless queue, and the driver list with the
// device-ID match that picks a driver for a USB printer.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include <cups/cups.h>

#include "app_server.h"
#include "cupsd_harness.h"

using namespace testing_support;

namespace {

TEST(AppIpp, CupsConformanceFilesPassOnOnePrinterOfEachDialect) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  TempDir dir;
  writeFile(dir.file("doc.pdf"), makePdf(1));
  std::string why;
  for (const char* driver : {"tesvel_tc1110", "tesvel_tz3010", "tesvel_tm4010"})
    ASSERT_TRUE(server.addPrinter(driver, driver, &why)) << why;
  // printer-up-time must be above zero: give the printers a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  for (const char* driver : {"tesvel_tc1110", "tesvel_tz3010", "tesvel_tm4010"}) {
    SCOPED_TRACE(driver);
    ProcessResult r = server.ipptool(driver, {"-f", dir.file("doc.pdf")}, {"ipp-1.1.test", "ipp-2.0.test"});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(countOf(r.out, "[FAIL]"), 0u) << r.out;
  }
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

// What a client reads to build its dialog must agree with itself, and a
// job's pages are counted once whichever way PAPPL hands them over.
TEST(AppIpp, ThePrinterAttributesAgreeAndEveryPageIsCountedOnce) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  for (const char* driver : {"tesvel_tz3010", "tesvel_tc1110"}) {
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
    EXPECT_EQ(server.printerAttribute(driver, "number-up-supported"), "1");
    EXPECT_EQ(server.printerAttribute(driver, "print-rendering-intent-supported"), "auto");
    EXPECT_EQ(server.printerAttribute(driver, "preferred-attributes-supported"), "false");
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

// A two-page PDF printed with `options` through a CUPS 2.4 driverless
// queue ("lpadmin -m everywhere") to the server's printer "office": what
// the printer received.
// `queueOptions`, when given, gets the options the queue offers.
void print_through_driverless_queue(const AppServer& server, const std::vector<std::string>& options,
                                    std::string* stream, std::string* queueOptions = nullptr) {
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
  writeFile(dir.file("doc.pdf"), makePdf(2));
  std::string why;
  int id = cupsd.submit("office", dir.file("doc.pdf"), options, &why);
  ASSERT_GT(id, 0) << why;
  EXPECT_EQ(cupsd.waitForJob(id, 120), JobState::Completed) << cupsd.jobLog(id) << server.log();
  // The application's job ends after CUPS hands it over: wait for its file.
  for (int i = 0; i < 300 && stream->empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::string> out = dirEntries(server.dir() + "/out-office");
    if (out.size() == 1 && server.log().find("Completed, job-impressions-completed=") != std::string::npos)
      *stream = readFile(server.dir() + "/out-office/" + out[0]);
  }
}

TEST(AppIpp, ACupsDriverlessQueuePrintsThroughTheApplication) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  ASSERT_TRUE(server.addPrinter("office", "tesvel_tz3010", &why)) << why;
  std::string stream;
  ASSERT_NO_FATAL_FAILURE(print_through_driverless_queue(server, {"-o", "media=iso_a5_148x210mm"}, &stream));
  ProcessResult check = inspectStream(stream, {"--check", "--list"});
  EXPECT_NE(check.out.find("check ok dialect=PLATFORM_Z pages=2"), std::string::npos) << check.out;
  EXPECT_EQ(countOf(check.out, "paperCode=11 "), 2u) << "A5 on this printer is paper code 11";
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
  std::string stream, offered;
  ASSERT_NO_FATAL_FAILURE(print_through_driverless_queue(
      server, {"-o", "sides=two-sided-long-edge", "-o", "print-quality=3", "-o", "tesvel-image-rotation=true"},
      &stream, &offered));
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
