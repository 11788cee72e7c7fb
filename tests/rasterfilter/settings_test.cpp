// Job settings: header, option text and PPD defaults into JobSettings.
#include <gtest/gtest.h>

#include <cstdlib>

#include "job_loop.h"
#include "job_settings.h"
#include "job_state.h"
#include "ppd_fixture.h"
#include "test_support.h"

using namespace rf;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

struct Options {
  explicit Options(const char* text) { n = cupsParseOptions(text, 0, &opts); }
  ~Options() { cupsFreeOptions(n, opts); }
  int n = 0;
  cups_option_t* opts = nullptr;
};

cups_page_header2_t header(unsigned duplex = 0, unsigned tumble = 0) {
  cups_page_header2_t h = testing_support::greyHeader(595, 842);
  h.Duplex = static_cast<cups_bool_t>(duplex);
  h.Tumble = static_cast<cups_bool_t>(tumble);
  return h;
}

JobSettings settingsFor(const char* options, const cups_page_header2_t& h) {
  JobSettings s = jobSettingsTemplate();
  Options o(options);
  testing::internal::CaptureStderr();
  readJobOptions(s, o.n, o.opts, h);
  testing::internal::GetCapturedStderr();
  return s;
}

}  // namespace

TEST(JobSettings, TemplateHoldsTheThirteenEntriesInOrderWithTheirDefaults) {
  JobSettings s = jobSettingsTemplate();
  const char* names[] = {"Duplex", "Sides", "ManualDuplex", "Density", "TonerMode",
                         "FeedLongEdge", "outputorder", "DPI1200", "NegativePrint",
                         "InputSlot", "ImageRotation", "Collate", "FineMode"};
  for (int i = 0; i < kJobOptionCount; ++i) {
    EXPECT_STREQ(s.entries[i].name, names[i]);
    EXPECT_EQ(s.entries[i].value, i == 3 ? 2 : 0) << names[i];
  }
}

TEST(JobSettings, DuplexComesFromTheHeaderUnlessAnOptionOverridesIt) {
  struct Case {
    unsigned duplex, tumble;
    const char* options;
    int32_t expected;
  } cases[] = {
      {1, 0, "", 1},
      {1, 1, "", 2},
      {1, 7, "", 0},
      {0, 1, "", 0},
      {1, 1, "Duplex=whatever", 0},
      {0, 0, "Duplex=DuplexTumble", 2},
      {0, 0, "Duplex=duplexnotumble", 1},
      {0, 0, "Duplex=two-sided-long-edge", 1},
      {1, 0, "Duplex=one-sided", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(settingsFor(c.options, header(c.duplex, c.tumble))[JobKey::Duplex], c.expected)
        << c.duplex << "/" << c.tumble << " " << c.options;
  EXPECT_EQ(settingsFor("Sides=two-sided-short-edge", header())[JobKey::Sides], 2);
}

TEST(JobSettings, ValuesOfTheOtherEntries) {
  struct Case {
    const char* options;
    JobKey key;
    int32_t expected;
  } cases[] = {
      {"InputSlot=Tray1", JobKey::InputSlot, 0},
      {"InputSlot=manualfeed", JobKey::InputSlot, 1},
      {"InputSlot=AutoFeed", JobKey::InputSlot, 2},
      {"Density=5", JobKey::Density, 5},
      {"", JobKey::Density, 2},
      {"Density=x", JobKey::Density, 0},
      {"TonerMode=TRUE", JobKey::TonerMode, 1},
      {"TonerMode=yes", JobKey::TonerMode, 0},
      {"Collate", JobKey::Collate, 1},  // a bare keyword parses as "true"
      {"noCollate", JobKey::Collate, 0},
      {"DPI1200=True ImageRotation=true", JobKey::ImageRotation, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(settingsFor(c.options, header())[c.key], c.expected) << c.options;
}

TEST(JobSettings, ABooleanRaisedOnAnEarlierPageStaysRaised) {
  JobSettings s = jobSettingsTemplate();
  Options on("ManualDuplex=True"), off("ManualDuplex=false");
  testing::internal::CaptureStderr();
  readJobOptions(s, on.n, on.opts, header());
  readJobOptions(s, off.n, off.opts, header());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(s[JobKey::ManualDuplex], 1);
  EXPECT_EQ(jobSettingsTemplate()[JobKey::ManualDuplex], 0);
  EXPECT_NE(err.find("DEBUG: ##Duplex = 0\n"), std::string::npos);
}

class PpdDefaults : public testing::Test {
 protected:
  void usePpd(const std::string& extra) {
    path_ = dir_.file("test.ppd");
    writeFile(path_, makePpdText("Tesvel Test Series", extra));
    setenv("PPD", path_.c_str(), 1);
    if (ppd_) ppdClose(ppd_);
    ppd_ = ppdOpenFile(path_.c_str());
    ASSERT_NE(ppd_, nullptr);
  }
  void TearDown() override {
    if (ppd_) ppdClose(ppd_);
    unsetenv("PPD");
  }
  std::string append(const char* user) {
    std::string text = user;
    testing::internal::CaptureStderr();
    appendPpdDefaults(text, user, ppd_);
    err_ = testing::internal::GetCapturedStderr();
    return text;
  }
  TempDir dir_;
  std::string path_, err_;
  ppd_file_t* ppd_ = nullptr;
};

TEST_F(PpdDefaults, DefaultsTheUserDidNotMentionAreAppended) {
  usePpd(ppdOption("InputSlot", "ManualFeed", {"Auto", "ManualFeed", "AutoFeed"}) +
         ppdOption("FeedLongEdge", "True", {"True", "False"}) +
         ppdOption("TonerMode", "False", {"True", "False"}) +
         ppdOption("ImageRotation", "True", {"True", "False"}) +
         ppdOption("Density", "4", {"0", "2", "4"}));
  EXPECT_EQ(append("Copies=1"),
            "Copies=1 InputSlot=ManualFeed FeedLongEdge ImageRotation Density=4");
  EXPECT_NE(err_.find("DEBUG:  InputSlot=ManualFeed\n"), std::string::npos);
  EXPECT_NE(err_.find("No find NegativePrint option\n"), std::string::npos);

  // Any mention counts, negated or not.
  EXPECT_EQ(append("noFeedLongEdge InputSlot=Auto Density=1 ImageRotation=False"), 
            "noFeedLongEdge InputSlot=Auto Density=1 ImageRotation=False");
}

TEST_F(PpdDefaults, OnlyDensitiesZeroTwoAndFourAreAppended) {
  usePpd(ppdOption("Density", "3", {"0", "3"}));
  EXPECT_EQ(append(""), "");
  EXPECT_NE(err_.find("No find InputSlot option\n"), std::string::npos);
}

TEST_F(PpdDefaults, ALongOptionTextIsKeptWholeAndStillGetsTheDefaults) {
  usePpd(ppdOption("Density", "0", {"0", "2"}));
  std::string user(9000, 'x');
  user = "job-name=" + user;
  std::string text = append(user.c_str());
  EXPECT_EQ(text, user + " Density=0");
}

TEST_F(PpdDefaults, TheProbesReadTheValueOfWholeOptionNamesAndElseThePpdDefault) {
  constexpr int kDefault = 0;  // the PPD's default decides
  struct Case {
    const char* options;
    int dpi, blank;
  } cases[] = {
      {"DPI1200=True", 2, kDefault}, {"DPI1200=true", 2, kDefault}, {"DPI1200=yes", 2, kDefault},
      {"DPI1200=on", 2, kDefault},   {"DPI1200", 2, kDefault},      {"DPI1200=False", 1, kDefault},
      {"DPI1200=false", 1, kDefault}, {"DPI1200=no", 1, kDefault},  {"DPI1200=off", 1, kDefault},
      {"noDPI1200", 1, kDefault},
      {"BlankSuppress=True", kDefault, 3}, {"BlankSuppress", kDefault, 3},
      {"BlankSuppress=PrinterSetting", kDefault, 1}, {"BlankSuppress=False", kDefault, 2},
      {"noBlankSuppress", kDefault, 2},
      {"Copies=2 DPI1200=False BlankSuppress=False", 1, 2},  // what a print dialog sends
      {"noDPI1200 DPI1200=on", 2, kDefault},                  // the last setting wins
      {"", kDefault, kDefault},
      {"XDPI1200=1 DPI1200x=True XBlankSuppress=True", kDefault, kDefault},
      {"job-name='DPI1200 BlankSuppress' title=noDPI1200", kDefault, kDefault},
      {"DPI1200=maybe BlankSuppress=sometimes", kDefault, kDefault},
  };
  // Two queues whose defaults differ from each other in both settings.
  struct Queue {
    const char* dpiDefault;
    const char* blankDefault;
    int dpi, blank;
  } queues[] = {{"False", "True", 1, 3}, {"True", "PrinterSetting", 2, 1}};
  for (const Queue& q : queues) {
    usePpd(ppdOption("DPI1200", q.dpiDefault, {"True", "False"}) +
           ppdOption("BlankSuppress", q.blankDefault, {"True", "False", "PrinterSetting"}));
    testing::internal::CaptureStderr();
    for (const Case& c : cases) {
      EXPECT_EQ(is1200dpiprint(c.options), c.dpi == kDefault ? q.dpi : c.dpi)
          << c.options << " with DPI1200 default " << q.dpiDefault;
      EXPECT_EQ(blankSuppressMode(c.options), c.blank == kDefault ? q.blank : c.blank)
          << c.options << " with BlankSuppress default " << q.blankDefault;
    }
    EXPECT_EQ(is1200dpiprint(nullptr), 1);
    EXPECT_EQ(blankSuppressMode(nullptr), 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("-->invalid parameter!\n"), std::string::npos);
    EXPECT_NE(err.find("-->parameter is NULL!\n"), std::string::npos);
    EXPECT_NE(err.find(std::string("-->opt_str:DPI1200, opt->defchoices :") + q.dpiDefault + ".\n"),
              std::string::npos);
  }

  char out[64] = {};
  getPpdDefaultChoice("NoSuchOption", out);
  EXPECT_STREQ(out, "");
}

TEST(JobSettings, ProbesFallBackTo600DpiAndNoBlankSuppressWithoutAPpd) {
  unsetenv("PPD");
  EXPECT_EQ(is1200dpiprint(""), 1);
  EXPECT_EQ(blankSuppressMode(""), 2);
  setenv("PPD", "/nonexistent/x.ppd", 1);
  EXPECT_EQ(is1200dpiprint(""), 1);
  unsetenv("PPD");
}

TEST(PageSettings, NamedPageSizeAppliesOnlyAboveLegalInBothDirections) {
  char arg0[] = "rasterfilter";
  char opts[] = "PageSize=Legal";
  char* argv[] = {arg0, arg0, arg0, arg0, arg0, opts, nullptr};
  RasterJob job;
  job.argv = argv;
  job.modelClass = PLATFORM_Z;
  job.paperTable = PaperTableZ;
  job.numOptions = cupsParseOptions(opts, 0, &job.options);

  testing::internal::CaptureStderr();
  job.header = testing_support::greyHeader(620, 1010);
  applyPageSettings(job);
  EXPECT_EQ(job.header.PageSize[0], 612u);
  EXPECT_EQ(job.header.PageSize[1], 1008u);

  job.header = testing_support::greyHeader(612, 1500);
  applyPageSettings(job);
  EXPECT_EQ(job.header.PageSize[0], 612u);
  testing::internal::GetCapturedStderr();
  cupsFreeOptions(job.numOptions, job.options);
}

TEST(PageSettings, AutomaticDuplexBecomesManualOnPrintersWithoutADuplexUnit) {
  char arg0[] = "rasterfilter";
  char opts[] = "Duplex=DuplexTumble";
  char* argv[] = {arg0, arg0, arg0, arg0, arg0, opts, nullptr};
  RasterJob job;
  job.argv = argv;
  job.modelClass = PLATFORM_Z;
  job.supportManualDuplex = 1;
  job.numOptions = cupsParseOptions(opts, 0, &job.options);
  job.header = testing_support::greyHeader(595, 842);

  testing::internal::CaptureStderr();
  applyPageSettings(job);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(job.settings[JobKey::ManualDuplex], 1);
  EXPECT_EQ(job.settings[JobKey::Duplex], 0);
  EXPECT_EQ(job.manualDuplexType, 1);
  EXPECT_NE(err.find("DEBUG: ##platform = 2, ##autoduplex = 2\n"), std::string::npos);
  EXPECT_NE(err.find("DEBUG: ##ManualDuplex = 1, type is 1\n"), std::string::npos);

  // The same job on a printer with a duplex unit stays automatic.
  RasterJob other;
  other.argv = argv;
  other.modelClass = PLATFORM_Z;
  other.numOptions = job.numOptions;
  other.options = job.options;
  other.header = job.header;
  testing::internal::CaptureStderr();
  applyPageSettings(other);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(other.settings[JobKey::Duplex], 2);
  EXPECT_EQ(other.settings[JobKey::ManualDuplex], 0);
  other.options = nullptr;
  cupsFreeOptions(job.numOptions, job.options);
}
