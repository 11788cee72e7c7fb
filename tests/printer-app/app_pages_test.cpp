// Every page of the web interface as a person meets it, in each language:
// valid HTML (checked by tidy), a label for every control, nothing loaded
// from other hosts, no English left and none of the wrong phrases PAPPL's
// own translations carry; and the forms that once chose for the user.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <strings.h>

#include "app_server.h"
#include "web_client.h"

using namespace testing_support;

namespace {

// One server for the whole suite: the pages only read it, and the forms
// below each set what they check.
class AppPages : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new AppServer;
    std::string why;
    if (server_->ready()) server_->addPrinter("office", "tesvel_tm4010", &why);
  }
  static void TearDownTestSuite() {
    server_->app({"cancel", "-d", "office", "-a"});  // a stop waits for queued jobs
    server_->stop();
    EXPECT_EQ(server_->sanitizerReports(), "");
    delete server_;
  }
  void SetUp() override { ASSERT_TRUE(server_->ready()) << server_->log(); }
  static WebAnswer get(const std::string& path, const std::string& language = "en") {
    return web(server_->port(), path, server_->adminPassword(), "", language);
  }
  static WebAnswer post(const std::string& path, const std::string& form) {
    return web(server_->port(), path, server_->adminPassword(),
               "session=" + sessionToken(server_->port(), "/office") + "&" + form);
  }
  static AppServer* server_;
};
AppServer* AppPages::server_ = nullptr;

// tidy's errors, and the warnings that say the markup does not nest (an
// element left open, a stray end tag); the others are matters of taste
// (empty <th>, the inline pictures' data: addresses).
std::string tidy_errors(const std::string& html) {
  TempDir dir;
  writeFile(dir.file("page.html"), html);
  ProcessResult r = runProcess({"/usr/bin/tidy", "-q", "-e", dir.file("page.html")});
  static const std::regex structural("Error:|missing </|discarding unexpected|isn't allowed in|not inside");
  std::string found;
  std::istringstream lines(r.err + r.out);
  for (std::string line; std::getline(lines, line);)
    if (std::regex_search(line, structural)) found += line + "\n";
  return r.exitStatus == 2 && found.empty() ? "tidy: " + r.err : found;
}

struct Page {
  const char* path;
  const char* title;  // what <title> starts with, in English
};
const Page kPages[] = {
    {"/", "Printers"},          {"/office", "office"},           {"/office/printing", "Printing Defaults"},
    {"/office/media", "Media"}, {"/office/jobs", "Jobs"},        {"/addprinter", "Add Printer"},
    {"/security", "Security"},  {"/office/delete", "Delete Printer"},
};
const char* const kLanguages[] = {"de", "es", "fr", "it", "ja"};

// Texts that read the same in a language as in English: names, numbers,
// paper sizes, and words the language shares.
bool same_in_every_language(const std::string& text) {
  std::string t = text.back() == ':' ? text.substr(0, text.size() - 1) : text;
  if (std::none_of(t.begin(), t.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
    return true;
  static const std::regex kept(
      // names: the printer's, the job's and its owner's, the program's
      "office.*|doc\\.pdf|root|Tesvel .*|tesvel-printer-app.*|"
      // paper and units
      "A[3-6].*|B[4-6].*|US .*|Letter.*|Legal.*|Executive.*|Folio.*|Oficio.*|Statement.*|.*Envelope.*|Postcard|"
      "ZL|16K|32K|Big 16K|Big 32K|China Electronic|.*\\d+ ?(mm|dpi|ppp).*|[0-9x .\"]+in|x|in|mm|"
      // words a language shares with English
      "Name|Status|Text|Photo|Configuration|Contact|Orientation|Portrait|Normal|Pages|Password|Version.*|"
      "socket://.*|DNS-SD.*|USB|TLS");
  return std::regex_match(t, kept);
}

// What PAPPL's own translations say wrongly, by language.
const std::map<std::string, std::vector<std::string>> kWrongPhrases = {
    {"ja", {"求人情報", "ペーパー印刷", "アクセサリー", "ログイン", "ペーパーから", "Hold New Jobs"}},
    {"de", {"( Normalpapier", "Hold New Jobs", "Handbuch"}},
    {"fr", {"Supprimer Printer", "Impression sur la douleur", "Save Changes", "( Papier", "Hold New Jobs"}},
    {"es", {"Hold New Jobs"}},
    {"it", {"Hold New Jobs"}},
};

TEST_F(AppPages, EveryPageInEveryLanguageIsValidLabelledLocalAndTranslated) {
  // A held job, so that the job lists and their buttons show.
  TempDir dir;
  writeFile(dir.file("doc.pdf"), makePdf(1));
  ASSERT_EQ(server_->app({"submit", "-d", "office", "-o", "job-hold-until=indefinite", dir.file("doc.pdf")}).exitStatus,
            0);
  std::string css = get("/style.css").body;
  EXPECT_EQ(outsideAddresses(css), std::vector<std::string>{});
  EXPECT_EQ(lowContrastRules(css), std::vector<std::string>{});
  for (const Page& p : kPages) {
    SCOPED_TRACE(p.path);
    WebAnswer en = get(p.path);
    ASSERT_EQ(en.status, 200);
    EXPECT_EQ(tidy_errors(en.body), "");
    EXPECT_EQ(unlabelledControls(en.body), std::vector<std::string>{});
    EXPECT_EQ(outsideAddresses(en.body), std::vector<std::string>{});
    EXPECT_NE(en.body.find(std::string("<title>") + p.title), std::string::npos);
    std::vector<std::string> english = pageTexts(en.body);
    for (const char* language : kLanguages) {
      SCOPED_TRACE(language);
      WebAnswer page = get(p.path, language);
      ASSERT_EQ(page.status, 200);
      EXPECT_EQ(tidy_errors(page.body), "");
      std::vector<std::string> left;
      for (const std::string& t : pageTexts(page.body))
        if (!same_in_every_language(t) && std::count(english.begin(), english.end(), t)) left.push_back(t);
      EXPECT_EQ(left, std::vector<std::string>{}) << "English left";
      for (const std::string& wrong : kWrongPhrases.at(language)) EXPECT_EQ(page.body.find(wrong), std::string::npos) << wrong;
    }
  }
}

// The paper list on Printing Defaults is a list of sources: each choice
// names its source, manual feed has its own row on Media, and the job
// goes to the printer from the source chosen.
TEST_F(AppPages, EachPaperChoiceNamesItsSourceAndTheJobTakesTheOneChosen) {
  // Automatic holds a custom 4 x 6 in, Tray 1 A5; manual feed A4 (the
  // driver's default): every source a different size.
  std::string form;
  const char* sizes[] = {"custom", "na_letter_8.5x11in", "iso_a5_148x210mm"};
  for (int i = 0; i < 3; ++i) {
    std::string n = "&ready" + std::to_string(i);
    form += n + "-size=" + sizes[i] + n + "-type=stationery";
  }
  form += "&ready0-custom-width=4&ready0-custom-length=6&ready0-custom-units=in";
  WebAnswer media = post("/office/media", form.substr(1));
  ASSERT_NE(media.body.find("Changes saved."), std::string::npos) << media.body;
  EXPECT_EQ(countOf(media.body, "-size\" id="), 3u) << "a row for each source, manual feed too";
  EXPECT_NE(media.body.find(">Manual feed Media:<"), std::string::npos);

  std::vector<std::pair<std::string, std::string>> choices = selectOptions(get("/office/printing").body, "media-source");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"auto", "4 x 6\" (Plain paper) from Automatic"},
      {"manual", "US Letter (Plain paper) from Manual feed"},
      {"tray-1", "A5 (Plain paper) from Tray 1"},
  };
  EXPECT_EQ(choices, expected);
  WebAnswer saved = post("/office/printing", "media-source=tray-1");
  EXPECT_NE(saved.body.find("Changes saved."), std::string::npos) << saved.body;
  std::string defaults = server_->printerAttribute("office", "media-col-default");
  EXPECT_NE(defaults.find("media-source=tray-1"), std::string::npos) << defaults;

  // The printer is asked for the tray (INPUT_TRAY_PARAM 2), not manual
  // feed (1), on every page.
  TempDir dir;
  writeFile(dir.file("doc.pdf"), makePdf(2, 420, 595));
  AppJob job = server_->print("office", dir.file("doc.pdf"), "application/pdf");
  ASSERT_EQ(job.state, "completed") << job.message << job.ipptool;
  std::string listing = inspectStream(job.stream, {}).out;
  EXPECT_EQ(countOf(listing, "INPUT_TRAY_PARAM=2 "), 2u) << listing;
  EXPECT_EQ(countOf(listing, "INPUT_TRAY_PARAM=1 "), 0u);
}

// Add Printer takes a host with or without its port and scheme, and when
// auto-detect cannot tell the model it says so and keeps what was filled in.
TEST_F(AppPages, AddPrinterTakesHostAndPortAndSaysWhyAutoDetectFailed) {
  DeafPrinter printer;  // takes connections; answers no SNMP (nothing listens on its UDP port 161)
  std::string port = printer.uri().substr(printer.uri().rfind(':') + 1);
  WebAnswer page = get("/addprinter");
  std::vector<std::pair<std::string, std::string>> drivers = selectOptions(page.body, "driver_name");
  ASSERT_GT(drivers.size(), 100u);
  EXPECT_TRUE(std::is_sorted(drivers.begin() + 1, drivers.end(),
                             [](const auto& a, const auto& b) { return strcasecmp(a.second.c_str(), b.second.c_str()) < 0; }));
  EXPECT_NE(page.body.find("/addprinter?discover"), std::string::npos) << "the network is searched on request";

  const std::pair<std::string, std::string> hosts[] = {
      {"hall", "127.0.0.1:" + port}, {"porch", "socket://127.0.0.1:" + port + "/"}, {"attic", "127.0.0.1"}};
  for (const auto& [name, host] : hosts) {
    SCOPED_TRACE(host);
    WebAnswer added = web(server_->port(), "/addprinter", server_->adminPassword(),
                          "session=" + sessionToken(server_->port(), "/office") + "&printer_name=" + name +
                              "&device_uri=socket&hostname=" + host + "&driver_name=tesvel_tz3010");
    EXPECT_EQ(added.status, 302) << added.body;
  }
  // The printers as the server keeps them (the state is saved within
  // seconds of a change).
  const std::string state = server_->dir() + "/tesvel-printer-app.state";
  const std::string want = "uri=\"socket://127.0.0.1:" + port + "/\"";
  const std::string plain = "uri=\"socket://127.0.0.1/\"";
  for (int i = 0; i < 100 && (countOf(readFile(state), want) < 2 || countOf(readFile(state), plain) < 1); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(countOf(readFile(state), want), 2u) << readFile(state);
  EXPECT_EQ(countOf(readFile(state), plain), 1u);

  WebAnswer failed = web(server_->port(), "/addprinter", server_->adminPassword(),
                         "session=" + sessionToken(server_->port(), "/office") + "&printer_name=cellar&device_uri=socket&hostname=127.0.0.1:" +
                             port + "&driver_name=auto");
  EXPECT_EQ(failed.status, 200);
  EXPECT_NE(failed.body.find("The printer did not say which model it is"), std::string::npos) << failed.body;
  EXPECT_NE(failed.body.find("value=\"cellar\""), std::string::npos);
  EXPECT_NE(failed.body.find("<option value=\"socket\" selected>"), std::string::npos);
  EXPECT_NE(failed.body.find("value=\"127.0.0.1:" + port + "\" required"), std::string::npos) << "not greyed out";
  std::vector<std::pair<std::string, std::string>> offered = selectOptions(failed.body, "driver_name");
  ASSERT_FALSE(offered.empty());
  EXPECT_EQ(offered.front().first, "") << "a driver to choose, not auto-detect";
  for (const char* name : {"hall", "porch", "attic"}) server_->app({"delete", "-d", name});
}

// The printer page follows a queued job, says what Print Test Page did on
// a paused printer, and names who asked for it; anyone may look at jobs.
TEST_F(AppPages, StatusFollowsTheQueueAndTheTestPageSaysItIsOnlyQueued) {
  ASSERT_NE(post("/office", "action=pause-printer").body.find("Printer paused."), std::string::npos);
  WebAnswer pressed = post("/office", "action=print-test-page");
  EXPECT_NE(pressed.body.find("Test page queued: the printer is paused."), std::string::npos) << pressed.body;
  WebAnswer status = web(server_->port(), "/office", "");
  EXPECT_NE(status.body.find("<meta http-equiv=\"refresh\""), std::string::npos) << "a job is queued";
  EXPECT_EQ(status.body.find(".."), std::string::npos);
  EXPECT_NE(status.body.find("alt=\"Stopped\""), std::string::npos);
  EXPECT_NE(web(server_->port(), "/", "").body.find("<meta http-equiv=\"refresh\""), std::string::npos);
  WebAnswer jobs = web(server_->port(), "/office/jobs", "");
  EXPECT_EQ(jobs.status, 200);
  EXPECT_NE(jobs.body.find("<td>admin</td>"), std::string::npos) << "the test page's owner: " << jobs.body;
  post("/office", "action=resume-printer");
}

}  // namespace
