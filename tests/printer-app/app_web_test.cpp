// The web interface as a browser meets it: every button that changes a
// printer or its jobs wants the administrator password, the Security page
// changes that password for good, and the 401 page says where it is kept.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <cups/cups.h>

#include "app_server.h"
#include "web_client.h"

using namespace testing_support;

namespace {

std::string session_token(int port) { return sessionToken(port, "/office"); }

TEST(AppWeb, EveryPrinterButtonWantsThePasswordAndWorksWithIt) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  ASSERT_TRUE(server.addPrinter("office", "tesvel_tz3010", &why)) << why;
  std::string password = server.adminPassword();
  std::string session = session_token(server.port());
  ASSERT_EQ(session.size(), 64u);
  // A held job for the job buttons.
  TempDir dir;
  writeFile(dir.file("doc.pdf"), makePdf(1));
  ProcessResult hold = server.app({"submit", "-d", "office", "-o", "job-hold-until=indefinite", dir.file("doc.pdf")});
  ASSERT_EQ(hold.exitStatus, 0) << hold.out << hold.err;

  struct Case {
    const char* path;
    std::string action;
    const char* attribute;  // of the printer, what the action changes
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"/office", "action=pause-printer", "printer-state", "idle", "stopped"},
      {"/office", "action=resume-printer", "printer-state", "stopped", "idle"},
      {"/office", "action=hold-new-jobs", "printer-state-reasons", "none", "hold-new-jobs"},
      {"/office", "action=release-held-new-jobs", "printer-state-reasons", "hold-new-jobs", "none"},
      {"/office/jobs", "action=cancel-job&job-id=1", "queued-job-count", "1", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    std::string form = "session=" + session + "&" + c.action;
    EXPECT_EQ(web(server.port(), c.path, "", form).status, 401);
    EXPECT_EQ(web(server.port(), c.path, "Wrong1234", form).status, 401);
    EXPECT_EQ(server.printerAttribute("office", c.attribute), c.before);
    EXPECT_EQ(web(server.port(), c.path, password, form).status, 200);
    EXPECT_EQ(server.printerAttribute("office", c.attribute), c.after);
  }
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

TEST(AppWeb, TheSecurityPageChangesThePasswordForGoodAnd401SaysWhereItIs) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  ASSERT_TRUE(server.addPrinter("office", "tesvel_tz3010", &why)) << why;
  const std::string file = server.dir() + "/tesvel-printer-app.state.password";
  std::string old = server.adminPassword();
  std::string session = session_token(server.port());

  WebAnswer refused = web(server.port(), "/office/printing", "");
  EXPECT_EQ(refused.status, 401);
  EXPECT_NE(refused.body.find("The administrator password is in " + file), std::string::npos) << refused.body;

  const std::string change = "session=" + session + "&new_password=Fresh4Secret&new_password2=Fresh4Secret";
  WebAnswer wrong = web(server.port(), "/security", old, change + "&old_password=Wrong1234");
  EXPECT_NE(wrong.body.find("Wrong old password."), std::string::npos) << wrong.body;
  WebAnswer right = web(server.port(), "/security", old, change + "&old_password=" + old);
  EXPECT_NE(right.body.find("Password changed."), std::string::npos) << right.body;
  EXPECT_EQ(web(server.port(), "/office/printing", "Fresh4Secret").status, 200);
  EXPECT_EQ(web(server.port(), "/office/printing", old).status, 401);

  // The file keeps the change (as a hash) once the state is saved, and a
  // restart reads it back.
  for (int i = 0; i < 100 && readFile(file).find("Security page") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(readFile(file).find(old), std::string::npos) << readFile(file);
  // The file holds a hash now: the 401 page no longer sends anyone there
  // for the password, before a restart or after.
  const std::string hashed = file + " keeps only its hash";
  EXPECT_NE(web(server.port(), "/office/printing", old).body.find(hashed), std::string::npos);
  ASSERT_TRUE(server.restart()) << server.log();
  EXPECT_EQ(web(server.port(), "/office/printing", "Fresh4Secret").status, 200);
  WebAnswer after = web(server.port(), "/office/printing", old);
  EXPECT_EQ(after.status, 401);
  EXPECT_NE(after.body.find(hashed), std::string::npos) << after.body;
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

// Labels a person can read, in the browser's language, on the pages and
// for IPP clients; custom sizes only within the printer's range.
TEST(AppWeb, SettingsAndPaperHaveReadableNamesAndCustomSizesStayInRange) {
  AppServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  std::string why;
  ASSERT_TRUE(server.addPrinter("office", "tesvel_tz3010", &why)) << why;
  std::string password = server.adminPassword();
  std::string english = web(server.port(), "/office/printing", password).body;
  for (const char* text : {"Negative print (white on black)", "Two-sided by hand", "Draft (toner save)",
                           "1200 dpi quality"})
    EXPECT_NE(english.find(text), std::string::npos) << text;
  EXPECT_EQ(english.find("<th>tesvel-"), std::string::npos) << "a raw name shows";
  EXPECT_NE(english.find("Manual feed"), std::string::npos) << "manual feed as the default source";
  EXPECT_NE(english.find("(Plain paper)"), std::string::npos) << "a laser printer prints nothing borderless";
  EXPECT_EQ(english.find("Borderless)"), std::string::npos) << "a laser printer prints nothing borderless";
  std::string german = web(server.port(), "/office/printing", password, "", "de").body;
  EXPECT_NE(german.find("Negativdruck (weiß auf schwarz)"), std::string::npos);
  std::string media = web(server.port(), "/office/media", password).body;
  for (const char* text : {"B5 (ISO)", "B5 (JIS)", "min=\"98.43\" max=\"215.90\""})
    EXPECT_NE(media.find(text), std::string::npos) << text;
  EXPECT_EQ(media.find("B5 Envelope"), std::string::npos);
  // Its icons are our drawing (grey with alpha), at PAPPL's three sizes.
  const std::pair<const char*, int> icons[] = {{"sm", 48}, {"md", 128}, {"lg", 512}};
  for (const auto& [name, size] : icons) {
    WebAnswer icon = web(server.port(), std::string("/office/icon-") + name + ".png", "");
    ASSERT_EQ(icon.status, 200) << name;
    ASSERT_GT(icon.body.size(), 26u) << name;
    // IHDR: width and height big-endian at 16 and 20, colour type at 25.
    auto be32 = [&](size_t at) {
      return (static_cast<unsigned char>(icon.body[at]) << 24) | (static_cast<unsigned char>(icon.body[at + 1]) << 16) |
             (static_cast<unsigned char>(icon.body[at + 2]) << 8) | static_cast<unsigned char>(icon.body[at + 3]);
    };
    EXPECT_EQ(icon.body.substr(1, 3), "PNG") << name;
    EXPECT_EQ(be32(16), size) << name;
    EXPECT_EQ(be32(20), size) << name;
    EXPECT_EQ(icon.body[25], 4) << name << ": grey with alpha";
  }
  // Every answer names the strings languages once.
  std::string languages = server.printerAttribute("office", "printer-strings-languages-supported");
  EXPECT_EQ(countOf(languages, "en"), 1u) << languages;
  EXPECT_EQ(server.printerAttribute("office", "printer-strings-languages-supported"), languages);

  // 279 x 420 points is the smallest custom size: 98.4 x 148.2 mm.
  std::string session = session_token(server.port());
  auto set_custom = [&](const std::string& w, const std::string& h) {
    std::string form = "session=" + session;
    for (int i = 0; i < 3; ++i) {
      std::string n = "&ready" + std::to_string(i);
      form += n + "-size=custom" + n + "-custom-width=" + w + n + "-custom-length=" + h + n + "-custom-units=mm" +
              n + "-type=stationery";
    }
    return web(server.port(), "/office/media", password, form).body;
  };
  std::string ready = server.printerAttribute("office", "media-ready");
  EXPECT_NE(set_custom("50", "100").find("outside what the printer takes: 98.4 x 148.2 mm to 215.9 x 355.6 mm"),
            std::string::npos);
  EXPECT_EQ(server.printerAttribute("office", "media-ready"), ready);
  EXPECT_NE(set_custom("101", "152").find("Changes saved."), std::string::npos);
  EXPECT_EQ(countOf(server.printerAttribute("office", "media-ready"), "custom_101x152mm"), 3u);
  // The page shows no manual feed; saving it leaves that source's media be.
  std::string form = "session=" + session + "&ready0-size=iso_a5_148x210mm&ready2-size=iso_a5_148x210mm";
  EXPECT_NE(web(server.port(), "/office/media", password, form).body.find("Changes saved."), std::string::npos);
  EXPECT_EQ(server.printerAttribute("office", "media-ready"), "iso_a5_148x210mm,custom_101x152mm_101x152mm,iso_a5_148x210mm");
  server.stop();
  EXPECT_EQ(server.sanitizerReports(), "");
}

}  // namespace
