// The model tables and the printer identity checks.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "jw_test_support.h"
#include "model_tables.h"
#include "printer_identity.h"
#include "wrapper_state.h"

using namespace jw;
using jwtest::ScopedPpd;

namespace {

std::string modelOf(const char* shortNickName) {
  std::string s = shortNickName;
  return s.substr(0, s.size() - std::strlen(" Series PS"));
}

std::string mdlField(const std::string& model) { return "MDL:" + model + " series;"; }

// A copy of a built PPD with another ShortNickName.
std::string ppdWithNickname(const jwtest::TempDir& dir, const std::string& model,
                            const std::string& nick) {
  std::string text = jwtest::readFile(jwtest::ppdPath(model));
  size_t at = text.find("*ShortNickName: \"");
  size_t end = text.find('\n', at);
  text.replace(at, end - at, "*ShortNickName: \"" + nick + "\"");
  std::string path = dir.file("nick.ppd");
  jwtest::writeFile(path, text);
  return path;
}

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { resetWrapperState(); }
};

}  // namespace

TEST(ModelTables, EveryAcceptedNameIsAShortNickNameOfTheFixedForm) {
  std::set<std::string> names;
  for (const char* name : PsModelNames) {
    std::string s = name;
    EXPECT_EQ(s.rfind("Tesvel ", 0), 0u) << s;
    ASSERT_GT(s.size(), std::strlen(" Series PS"));
    EXPECT_EQ(s.substr(s.size() - 10), " Series PS") << s;
    EXPECT_LE(s.size(), 31u) << "cupstestppd allows 31 characters: " << s;
    names.insert(s);
  }
  EXPECT_EQ(names.size(), 61u);
}

TEST(ModelTables, TheColourGroupIsEightAcceptedModelsEndedByAnEmptyEntry) {
  std::set<std::string> ps(std::begin(PsModelNames), std::end(PsModelNames));
  for (size_t i = 0; i < kColourModelCount; ++i) {
    EXPECT_NE(ColourModelNames[i][0], '\0');
    EXPECT_EQ(ps.count(ColourModelNames[i]), 1u) << ColourModelNames[i];
  }
  EXPECT_EQ(ColourModelNames[kColourModelCount][0], '\0');
}

TEST(ModelTables, DeviceIdEntriesAreTheColourGroupThenEveryAcceptedModel) {
  for (const DeviceIdEntry& e : DeviceIdTable) {
    EXPECT_STREQ(e.mfg, "MFG:Tesvel;");
    EXPECT_STREQ(e.cls, "CLS:PRINTER;");
  }
  for (size_t i = 0; i < kColourModelCount; ++i)
    EXPECT_EQ(DeviceIdTable[i].mdl, mdlField(modelOf(ColourModelNames[i])));
  std::set<std::string> expected, got;
  for (const char* name : PsModelNames) expected.insert(mdlField(modelOf(name)));
  for (size_t i = kColourDeviceIdCount; i < kDeviceIdCount; ++i) got.insert(DeviceIdTable[i].mdl);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(kDeviceIdCount - kColourDeviceIdCount, 61u);
}

TEST(ModelTables, JobControlNamesAreSixteenMonochromeModelsOneListedTwice) {
  std::set<std::string> distinct(std::begin(JobControlModels), std::end(JobControlModels));
  EXPECT_EQ(distinct.size(), 16u);
  for (const std::string& name : distinct) {
    int inPs = 0;
    for (const char* ps : PsModelNames)
      if (strcasestr(ps, name.c_str()) != nullptr) ++inPs;
    EXPECT_EQ(inPs, 1) << name << " must name exactly one accepted model";
    for (size_t i = 0; i < kColourModelCount; ++i)
      EXPECT_EQ(strcasestr(ColourModelNames[i], name.c_str()), nullptr) << name;
  }
}

TEST_F(IdentityTest, ADeviceIdIsAcceptedWithItsFieldsInAnyOrder) {
  ScopedPpd ppd("/nonexistent.ppd");
  const char* ids[] = {
      "MFG:Tesvel;CMD:PJL,POSTSCRIPT;MDL:Tesvel TP3120 series;CLS:PRINTER;",
      "CLS:PRINTER;MDL:Tesvel TP3120 series;MFG:Tesvel;",
      "MDL:Tesvel TP3120 series;CLS:PRINTER;DES:office;MFG:Tesvel;",
  };
  for (const char* id : ids) {
    uint8_t jobControl = 0;
    EXPECT_TRUE(IsSupportedModel(id, true, &jobControl)) << id;
    EXPECT_EQ(jobControl, 0) << "TP3120 is copied block by block";
  }
}

TEST_F(IdentityTest, ADeviceIdWithoutTheClassFieldIsRefused) {
  ScopedPpd ppd(jwtest::ppdPath("tp3120"));
  uint8_t jobControl = 0;
  EXPECT_FALSE(IsSupportedModel("MFG:Tesvel;MDL:Tesvel TP3120 series;", true, &jobControl));
}

TEST_F(IdentityTest, ADeviceIdWithSeriesInTheWrongCaseIsRefused) {
  ScopedPpd ppd(jwtest::ppdPath("tp3120"));
  uint8_t jobControl = 0;
  EXPECT_FALSE(
      IsSupportedModel("MFG:Tesvel;MDL:Tesvel TP3120 Series;CLS:PRINTER;", true, &jobControl));
}

TEST_F(IdentityTest, AJobControlDeviceIdSetsTheFlagAndAnotherNeverClearsIt) {
  ScopedPpd ppd("/nonexistent.ppd");
  uint8_t jobControl = 0;
  EXPECT_TRUE(
      IsSupportedModel("MFG:Tesvel;MDL:Tesvel TP5080 series;CLS:PRINTER;", true, &jobControl));
  EXPECT_EQ(jobControl, 1);
  EXPECT_TRUE(
      IsSupportedModel("MFG:Tesvel;MDL:Tesvel TP3010 series;CLS:PRINTER;", true, &jobControl));
  EXPECT_EQ(jobControl, 1);
}

TEST_F(IdentityTest, ADeviceIdIsTheOnlySourceWhenThereIsOne) {
  ScopedPpd ppd(jwtest::ppdPath("tp5010"));  // an accepted nickname
  uint8_t jobControl = 0;
  EXPECT_FALSE(IsSupportedModel("MFG:Other;MDL:Laser 1 series;CLS:PRINTER;", true, &jobControl));
  EXPECT_EQ(jobControl, 0);
}

TEST_F(IdentityTest, TheNicknameDecidesWithoutADeviceIdInAnyLetterCase) {
  jwtest::TempDir dir;
  ScopedPpd ppd(ppdWithNickname(dir, "tp5030", "TESVEL tp5030 series ps"));
  uint8_t jobControl = 0;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(IsSupportedModel("", false, &jobControl));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "attr->value :TESVEL tp5030 series ps.\n");
  EXPECT_EQ(jobControl, 1);
}

TEST_F(IdentityTest, ANicknameOutsideTheTableIsRefused) {
  jwtest::TempDir dir;
  ScopedPpd ppd(ppdWithNickname(dir, "tp5030", "Tesvel TP5030 Series"));
  uint8_t jobControl = 0;
  EXPECT_FALSE(IsSupportedModel("", false, &jobControl));
}

TEST_F(IdentityTest, NoPpdAndNoDeviceIdIsRefused) {
  ScopedPpd ppd("/nonexistent.ppd");
  uint8_t jobControl = 0;
  EXPECT_FALSE(IsSupportedModel("", false, &jobControl));
}

TEST_F(IdentityTest, EveryBuiltPpdIsAcceptedByItsNickname) {
  for (const char* name : PsModelNames) {
    std::string model = modelOf(name).substr(std::strlen("Tesvel "));
    for (char& c : model) c = static_cast<char>(tolower(c));
    ScopedPpd ppd(jwtest::ppdPath(model));
    uint8_t jobControl = 0;
    testing::internal::CaptureStderr();
    bool accepted = IsSupportedModel("", false, &jobControl);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(accepted) << model;
    EXPECT_EQ(jobControl, model.rfind("tp5", 0) == 0 ? 1 : 0) << model;
  }
}

TEST_F(IdentityTest, TheColourGroupIsKnownByDeviceIdOrNickname) {
  {
    ScopedPpd ppd(jwtest::ppdPath("tp3010"));
    EXPECT_TRUE(IsColourModel("MFG:Tesvel;MDL:Tesvel TPC8050 series;CLS:PRINTER;", true));
    EXPECT_FALSE(IsColourModel("MFG:Tesvel;MDL:Tesvel TP3010 series;CLS:PRINTER;", true));
  }
  {
    ScopedPpd ppd(jwtest::ppdPath("tpc8030"));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(IsColourModel("", false));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "attr->value :Tesvel TPC8030 Series PS.\n");
    // With a device ID the nickname is not asked.
    EXPECT_FALSE(IsColourModel("MFG:Tesvel;MDL:Tesvel TP3010 series;CLS:PRINTER;", true));
  }
  {
    ScopedPpd ppd(jwtest::ppdPath("tp5010"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(IsColourModel("", false));
    testing::internal::GetCapturedStderr();
  }
}
