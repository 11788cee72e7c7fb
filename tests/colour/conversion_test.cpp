// The colour road's conversion steps in-process: option removal and the
// qpdf version line as pure functions, the duplex rotation with the real
// qpdf, checked through qpdf's own JSON description of its result.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "conversion.h"
#include "jw_test_support.h"
#include "wrapper_state.h"

namespace {

// Pages (counted from 1) whose dictionary holds /Rotate 180, from
// "qpdf --json": the page list names each page's object, the object table
// holds its dictionary.
std::vector<int> rotatedPages(const std::string& pdf, int* pageCount) {
  jwtest::ProcessResult r = jwtest::runProcess(
      {"/usr/bin/qpdf", "--json", "--json-key=pages", "--json-key=qpdf", pdf});
  const std::string& j = r.out;
  const size_t objects = j.find("\"qpdf\": [");
  std::vector<int> rotated;
  *pageCount = 0;
  for (size_t at = j.find("\"object\": \""); at < objects; at = j.find("\"object\": \"", at)) {
    at += 11;
    std::string ref = j.substr(at, j.find('"', at) - at);
    ++*pageCount;
    size_t open = j.find('{', j.find("\"obj:" + ref + "\"", objects));
    size_t end = open;
    for (int depth = 0; end < j.size(); ++end) {
      if (j[end] == '{') ++depth;
      if (j[end] == '}' && --depth == 0) break;
    }
    if (j.substr(open, end - open).find("\"/Rotate\": 180") != std::string::npos)
      rotated.push_back(*pageCount);
  }
  return rotated;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().string());
  return names;
}

}  // namespace

TEST(RemoveOption, TakesTheFirstOccurrenceUpToItsSeparator) {
  struct Case {
    std::string text;
    std::vector<const char*> keywords;  // removed in this order
    std::string expected;
  } cases[] = {
      {"page-set=odd media=A4", {"page-set"}, "media=A4"},
      // number-up finds the layout token first; the later removal of the
      // layout then finds nothing and the number-up token stays.
      {"number-up-layout=btlr number-up=2 media=A4", {"number-up", "number-up-layout"},
       "number-up=2 media=A4"},
      {"media=A4 OutputOrder=Reverse", {"OutputOrder"}, "media=A4 OutputOrder=Reverse"},
      {"media=A4", {"Collate"}, "media=A4"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    for (const char* k : c.keywords) jw::RemoveOption(text.data(), k, ' ');
    EXPECT_EQ(std::string(text.c_str()), c.expected) << c.text;
  }
  testing::internal::CaptureStderr();
  jw::RemoveOption(nullptr, "Collate", ' ');
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "the parameters is invalid!");
}

TEST(QpdfVersion, VersionEightOrLaterCounts) {
  struct Case {
    const char* line;
    bool modern;
  } cases[] = {
      {"qpdf version 11.3.0", true},   {"qpdf version 8.0.0", true},
      {"qpdf version 7.1.1", false},   {"qpdf version", false},
      {"Run qpdf --copyright to see copyright and license information.", false},
  };
  for (const Case& c : cases) EXPECT_EQ(jw::qpdf_version_is_modern(c.line), c.modern) << c.line;
  EXPECT_TRUE(jw::HasModernQpdf()) << "the system's qpdf is version 11";
}

class RotateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jw::resetWrapperState();
    jw::g_wrap.sideChannelSilent = true;  // no backend here: the PPD names the printer
    setenv("TMPDIR", spool.path().c_str(), 1);
  }
  void TearDown() override { unsetenv("TMPDIR"); }

  // A copy of the model's PPD whose default duplex choice is `defaultDuplex`.
  std::string ppdWithDefault(const std::string& model, const std::string& defaultDuplex) {
    std::string ppd = jwtest::readFile(jwtest::ppdPath(model));
    size_t at = ppd.find("*DefaultDuplex: ");
    ppd.replace(at, ppd.find('\n', at) - at, "*DefaultDuplex: " + defaultDuplex);
    std::string path = dir.file(model + "-" + defaultDuplex + ".ppd");
    jwtest::writeFile(path, ppd);
    return path;
  }

  jwtest::TempDir dir;
  jwtest::TempDir spool;
};

TEST_F(RotateTest, LongEdgeDuplexTurnsTheEvenPagesOfColourJobs) {
  struct Case {
    int pages;
    const char* options;
    const char* ppdDefault;
    const char* model;
    std::vector<int> rotated;
    const char* message;  // expected on standard error, or null
  } cases[] = {
      {5, "Duplex=DuplexNoTumble", "None", "tpc8010", {2, 4}, nullptr},
      {6, "media=A4 Duplex=DuplexNoTumble", "None", "tpc8030", {2, 4, 6}, nullptr},
      {1, "Duplex=DuplexNoTumble", "None", "tpc8010", {}, "The page count is 1!\n"},
      {5, "", "DuplexNoTumble", "tpc8010", {2, 4}, nullptr},          // the queue's default
      {5, "noDuplex", "DuplexNoTumble", "tpc8010", {}, nullptr},
      {5, "Duplex=None", "DuplexNoTumble", "tpc8010", {}, nullptr},   // one-sided chosen
      {5, "Duplex=DuplexTumble", "None", "tpc8010", {}, nullptr},
      {5, "Duplex=DuplexNoTumble", "None", "tp5010", {}, nullptr},    // not the colour group
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pages) + " pages, \"" + c.options + "\", default " +
                 c.ppdDefault + ", " + c.model);
    jwtest::ScopedPpd ppd(ppdWithDefault(c.model, c.ppdDefault));
    const std::string input = jwtest::makePdf(dir.path(), c.pages);
    const char* argv[] = {"tesvel", "42", "alice", "Report", "1", c.options, input.c_str()};
    char path[512];
    snprintf(path, sizeof path, "%s", input.c_str());
    bool owned = false;  // CUPS's document file: never removed

    testing::internal::CaptureStderr();
    jw::RotateDuplexPages(argv, path, sizeof path, &owned);
    std::string err = testing::internal::GetCapturedStderr();

    int pages = 0;
    EXPECT_EQ(rotatedPages(path, &pages), c.rotated);
    EXPECT_EQ(pages, c.pages);
    EXPECT_TRUE(jwtest::fileExists(input));
    if (c.message != nullptr) {
      EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    if (c.rotated.empty()) {
      EXPECT_EQ(std::string(path), input);
      EXPECT_FALSE(owned);
      EXPECT_TRUE(filesIn(spool.path()).empty()) << "the unused temporary file is removed";
    } else {
      EXPECT_TRUE(owned);
      EXPECT_EQ(filesIn(spool.path()), std::vector<std::string>{path});
      unlink(path);
    }
  }
}
