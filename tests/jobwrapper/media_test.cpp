// Page size and media fix-ups.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "jw_test_support.h"
#include "media_fixup.h"
#include "wrapper_state.h"

using namespace jw;
using jwtest::ScopedPpd;

namespace {

class MediaTest : public ::testing::Test {
 protected:
  void SetUp() override { resetWrapperState(); }

  // FixupMediaLine on one line; the result text in *out.
  int fix(const std::string& text, std::string* out, int w = 612, int h = 792) {
    LineBuffer line;
    std::memcpy(line.data, text.data(), text.size());
    line.data[text.size()] = '\0';
    line.len = text.size();
    line.whole = true;
    testing::internal::CaptureStderr();
    int r = FixupMediaLine(&line, w, h, &state);
    log = testing::internal::GetCapturedStderr();
    *out = std::string(line.data, line.len);
    return r;
  }

  std::string job(const std::string& text) {
    std::string path = dir.file("job.ps");
    jwtest::writeFile(path, text);
    return path;
  }

  uint8_t state = 0;
  std::string log;
  jwtest::TempDir dir;
};

}  // namespace

TEST_F(MediaTest, ThePageDictionaryGetsTheSizeFromThePpd) {
  std::string out;
  EXPECT_EQ(fix("<</Type/Page/MediaBox [0 0 595 842]\n", &out), 1);
  EXPECT_EQ(out, "<</Type/Page/MediaBox [0 0 612 792]\n");
  EXPECT_EQ(log, "<</Type/Page/MediaBox [0 0 612 792]\n\n");
  EXPECT_EQ(fix("<</type/page/mediabox [0 0 595 842]\n", &out), 1) << "any letter case";
  EXPECT_EQ(out, "<</Type/Page/MediaBox [0 0 612 792]\n");
}

TEST_F(MediaTest, WithoutAPpdSizeNothingIsRewritten) {
  std::string out;
  EXPECT_EQ(fix("<</Type/Page/MediaBox [0 0 595 842]\n", &out, 0, 0), 0);
  EXPECT_EQ(out, "<</Type/Page/MediaBox [0 0 595 842]\n");
  EXPECT_EQ(fix("595 842 pdfSetupPaper\n", &out, 612, 0), 0);
  EXPECT_EQ(out, "595 842 pdfSetupPaper\n");
}

TEST_F(MediaTest, ThePdfSetupPaperCallIsRewrittenButNotItsDefinition) {
  std::string out;
  EXPECT_EQ(fix("595 842 pdfSetupPaper\n", &out), 1);
  EXPECT_EQ(out, "612 792 pdfSetupPaper\n");
  const std::string def = "/pdfSetupPaper {2 copy pop pop} bind def\n";
  EXPECT_EQ(fix(def, &out), 0);
  EXPECT_EQ(out, def);
}

TEST_F(MediaTest, CollatedJobsLoseTheCopyCountBlock) {
  g_wrap.g_bCollate = 1;
  std::string out;
  EXPECT_EQ(fix("%RBIBeginNonPPDFeature: *NumCopies 2\n", &out), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(state, 1);
  EXPECT_EQ(fix("{1 dict begin/NumCopies exch def currentdict end setpagedevice}\n", &out), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(fix("%RBIEndNonPPDFeature\n", &out), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(state, 0);
  EXPECT_EQ(fix("userdict/ESPwl{}bind put\n", &out), 0);
  EXPECT_EQ(out, "userdict/ESPwl{}bind put\n");
}

TEST_F(MediaTest, UncollatedJobsKeepTheCopyCountBlock) {
  std::string out;
  for (const char* line : {"%RBIBeginNonPPDFeature: *NumCopies 2\n",
                           "2/languagelevel where{pop languagelevel 2 ge}{false}ifelse\n",
                           "%RBIEndNonPPDFeature\n"}) {
    EXPECT_EQ(fix(line, &out), 0);
    EXPECT_EQ(out, line);
  }
}

TEST_F(MediaTest, TheDeferredMediaSelectionKeyBecomesAName) {
  std::string out;
  EXPECT_EQ(fix("<<DeferredMediaSelection true>>setpagedevice\n", &out), 1);
  EXPECT_EQ(out, "<</DeferredMediaSelection true>>setpagedevice\n");
  EXPECT_EQ(log, "Modified <</DeferredMediaSelection\n");
  EXPECT_EQ(fix("<<DeferredMediaSelection true>> def\n", &out), 0);
  EXPECT_EQ(fix("<</DeferredMediaSelection true>>setpagedevice\n", &out), 0);
}

TEST_F(MediaTest, TheDeferredMediaFixFitsAFullLine) {
  std::string text = "<<DeferredMediaSelection true>>setpagedevice";
  text += std::string(kLineBufferSize - 2 - text.size(), ' ') + "\n";
  ASSERT_EQ(text.size(), kLineBufferSize - 1);
  std::string out;
  EXPECT_EQ(fix(text, &out), 1);
  EXPECT_EQ(out, "<</" + text.substr(2));
}

struct CustomCase {
  const char* mediaBox;
  bool printable;
};

TEST_F(MediaTest, CustomSizesOutsideTheRangeAreRefused) {
  const CustomCase cases[] = {
      {"[0 0 200 500]", false}, {"[0 0 211 500]", true},   {"[0 0 613 500]", true},
      {"[0 0 614 500]", false}, {"[0 0 300 417]", false},  {"[0 0 300 418]", true},
      {"[0 0 300 1010]", true}, {"[0 0 300 1011]", false}, {"[10 20 221 438]", true},
      {"[0 0 210.5 500]", false},
  };
  for (const CustomCase& c : cases) {
    std::string path = job(std::string("%!PS\n4 0 obj\n<</Type/Page/MediaBox ") + c.mediaBox +
                           "\n/Parent 3 0 R\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(IsCustomSizePrintable("PageSize=Custom.300x500 Collate=True", path.c_str()),
              c.printable)
        << c.mediaBox;
    testing::internal::GetCapturedStderr();
  }
}

TEST_F(MediaTest, TheCustomCheckReportsWhatItRead) {
  std::string path = job("<</Type/Page/MediaBox [0 0 200 500]\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(IsCustomSizePrintable("PageSize=Custom.200x500", path.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "PageSize:Custom.200x500\nleft:0,top:0,right:200,bottom:500\n");
}

TEST_F(MediaTest, ThePdfSetupPaperCallIsCheckedToo) {
  std::string path = job("/pdfSetupPaper {} def\n200 500 pdfSetupPaper\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(IsCustomSizePrintable("media=custom_200x500", path.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "media=custom_200x500\npdfsetuppaper:width;200,height:500\n");
  path = job("/pdfSetupPaper {} def\n300 500 pdfSetupPaper\n");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(IsCustomSizePrintable("media=custom_300x500", path.c_str()));
  testing::internal::GetCapturedStderr();
}

TEST_F(MediaTest, StandardSizesAndUnreadableJobsAreNotRefused) {
  std::string path = job("<</Type/Page/MediaBox [0 0 100 100]\n");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(IsCustomSizePrintable("PageSize=A4", path.c_str()));
  EXPECT_TRUE(IsCustomSizePrintable("PageSize=Custom.100x100", "/nonexistent/job"));
  path = job("<</Type/Page/MediaBox 0 0 100 100\n");  // no brackets
  EXPECT_TRUE(IsCustomSizePrintable("PageSize=Custom.100x100", path.c_str()));
  testing::internal::GetCapturedStderr();
}

TEST_F(MediaTest, AJobPathFullOfShellCharactersIsOnlyEverAFileName) {
  std::string path = dir.file("a'b\" $(touch pwned); `touch pwned2` x.ps");
  jwtest::writeFile(path, "<</Type/Page/MediaBox [0 0 200 500]\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(IsCustomSizePrintable("PageSize=Custom.200x500", path.c_str()));
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(jwtest::fileExists("pwned"));
  EXPECT_FALSE(jwtest::fileExists("pwned2"));
}

TEST_F(MediaTest, A5FedLongEdgeIsFoundFromTheOptions) {
  ScopedPpd ppd(jwtest::ppdPath("tp5010"));  // default FeedEdge: ShortEdge
  testing::internal::CaptureStderr();
  EXPECT_TRUE(isA5PageSize("PageSize=A5 FeedEdge=LongEdge", "/nonexistent"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "FeedEdge=LongEdge\nLongEdge =true\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(isA5PageSize("PageSize=A5 FeedEdge=ShortEdge", "/nonexistent"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "FeedEdge=ShortEdge\nLongEdge =false\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(isA5PageSize("PageSize=A5", "/nonexistent")) << "the PPD default decides";
  EXPECT_FALSE(isA5PageSize("PageSize=a5 FeedEdge=LongEdge", "/nonexistent")) << "exact case";
  testing::internal::GetCapturedStderr();
}

TEST_F(MediaTest, A5WithoutAFeedEdgeAnywhereCountsAsLongEdge) {
  ScopedPpd ppd("/nonexistent.ppd");
  EXPECT_TRUE(isA5PageSize("PageSize=A5", "/nonexistent"));
}

TEST_F(MediaTest, ThePpdDefaultFeedEdgeDecidesWhenTheOptionIsMissing) {
  std::string text = jwtest::readFile(jwtest::ppdPath("tp5010"));
  size_t at = text.find("*DefaultFeedEdge: ShortEdge");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, std::strlen("*DefaultFeedEdge: ShortEdge"), "*DefaultFeedEdge: LongEdge");
  jwtest::writeFile(dir.file("long.ppd"), text);
  ScopedPpd ppd(dir.file("long.ppd"));
  testing::internal::CaptureStderr();
  EXPECT_TRUE(isA5PageSize("PageSize=A5", "/nonexistent"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "LongEdge =true\n");
}

TEST_F(MediaTest, TheJobFileIsReadOnlyWithoutAPageSize) {
  ScopedPpd ppd("/nonexistent.ppd");
  // A5 is 420 by 595 points, give or take 2 on each side.
  const struct {
    const char* size;
    bool a5;
  } boxes[] = {{"418 593", true},  {"422 597", true},  {"417 595", false},
               {"423 595", false}, {"420 592", false}, {"420 598", false}};
  for (const auto& b : boxes) {
    std::string path = job(std::string("%!PS\n<</Type/Page/MediaBox [0 0 ") + b.size + "]\n");
    EXPECT_EQ(isA5PageSize("FeedEdge=LongEdge", path.c_str()), b.a5) << b.size;
  }
  std::string a5 = job("%!PS\n<</Type/Page/MediaBox [0 0 419 596]\n");
  EXPECT_FALSE(isA5PageSize("PageSize=Letter FeedEdge=LongEdge", a5.c_str()));
  std::string setup = job("/pdfSetupPaper {} def\n419.53 595.28 pdfSetupPaper\n");
  EXPECT_TRUE(isA5PageSize("FeedEdge=LongEdge", setup.c_str()));
  std::string a4 = job("<</Type/Page/MediaBox [0 0 595 842]\n420 595 pdfSetupPaper\n");
  EXPECT_FALSE(isA5PageSize("FeedEdge=LongEdge", a4.c_str())) << "the first size line decides";
  std::string none = job("%!PS\n/pdfSetupPaper {} def\n");
  EXPECT_FALSE(isA5PageSize("FeedEdge=LongEdge", none.c_str()));
}

TEST_F(MediaTest, AnUnreadableJobFileIsNotA5) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(isA5PageSize("FeedEdge=LongEdge", "/nonexistent/job"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "isA5PageSize open file /nonexistent/job failed!,code:2\n");
}

TEST_F(MediaTest, ThePageSizeComesFromThePpd) {
  ScopedPpd ppd(jwtest::ppdPath("tp5010"));
  const char* argv[7] = {"q", "1", "u", "t", "1", "PageSize=Letter", nullptr};
  int w = 0, h = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetPageSizeFromPpd(argv, &w, &h), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "pagesize:Letter width:612,heigh:792\n");
  EXPECT_EQ(w, 612);
  EXPECT_EQ(h, 792);
  argv[5] = "PageSize=Custom.300x500";
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetPageSizeFromPpd(argv, &w, &h), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 500);
}

TEST_F(MediaTest, WithoutPageSizeOrPpdTheSizesStay) {
  const char* argv[7] = {"q", "1", "u", "t", "1", "Collate=True", nullptr};
  int w = 0, h = 0;
  {
    ScopedPpd ppd(jwtest::ppdPath("tp5010"));
    EXPECT_EQ(GetPageSizeFromPpd(argv, &w, &h), 0);
    argv[5] = nullptr;
    EXPECT_EQ(GetPageSizeFromPpd(argv, &w, &h), 0);
  }
  ScopedPpd ppd("/nonexistent.ppd");
  argv[5] = "PageSize=A4";
  EXPECT_EQ(GetPageSizeFromPpd(argv, &w, &h), 1);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}
