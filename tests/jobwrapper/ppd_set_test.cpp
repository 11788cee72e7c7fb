// The PostScript PPDs built from ppd/tesvel-ps.drv against the model tables,
// and through cupstestppd.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <cups/ppd.h>

#include "jw_test_support.h"
#include "model_tables.h"

using namespace jw;

namespace {

std::vector<std::string> psPpds() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(TESVEL_PPD_DIR)) {
    std::string name = e.path().filename().string();
    if (name.rfind("tesvel-ps-", 0) == 0 && e.path().extension() == ".ppd")
      files.push_back(e.path().string());
  }
  return files;
}

const char* attr(ppd_file_t* ppd, const char* name) {
  ppd_attr_t* a = ppdFindAttr(ppd, name, nullptr);
  return a != nullptr ? a->value : "";
}

bool inTable(const char* name, const char (*table)[kModelNameSize], size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (std::strcmp(table[i], name) == 0) return true;
  return false;
}

}  // namespace

TEST(PpdSet, OnePpdPerAcceptedModelWithItsNicknameAndDeviceId) {
  std::vector<std::string> files = psPpds();
  ASSERT_EQ(files.size(), kPsModelCount);
  std::set<std::string> nicknames;
  for (const std::string& file : files) {
    ppd_file_t* ppd = ppdOpenFile(file.c_str());
    ASSERT_NE(ppd, nullptr) << file;
    std::string nick = attr(ppd, "ShortNickName");
    nicknames.insert(nick);
    EXPECT_TRUE(inTable(nick.c_str(), PsModelNames, kPsModelCount)) << file;
    // The device ID a printer of this model reports matches its table entry.
    std::string id = attr(ppd, "1284DeviceID");
    std::string model = nick.substr(0, nick.size() - std::strlen(" Series PS"));
    int matches = 0;
    for (size_t i = kColourDeviceIdCount; i < kDeviceIdCount; ++i) {
      const DeviceIdEntry& e = DeviceIdTable[i];
      if (id.find(e.mfg) != std::string::npos && id.find(e.mdl) != std::string::npos &&
          id.find(e.cls) != std::string::npos) {
        ++matches;
        EXPECT_EQ(std::string(e.mdl), "MDL:" + model + " series;") << file;
      }
    }
    EXPECT_EQ(matches, 1) << file << ": " << id;
    ppdClose(ppd);
  }
  EXPECT_EQ(nicknames.size(), kPsModelCount);
}

TEST(PpdSet, TheColourGroupIsHandedPdfAndTheOthersPostScript) {
  for (const std::string& file : psPpds()) {
    ppd_file_t* ppd = ppdOpenFile(file.c_str());
    ASSERT_NE(ppd, nullptr) << file;
    bool colour = inTable(attr(ppd, "ShortNickName"), ColourModelNames, kColourModelCount);
    EXPECT_EQ(ppd->color_device != 0, colour) << file;
    EXPECT_STREQ(attr(ppd, "cupsFilter2"),
                 colour ? "application/vnd.cups-pdf application/vnd.cups-postscript 0 jobwrapper"
                        : "application/vnd.cups-postscript application/vnd.cups-postscript 0 "
                          "jobwrapper")
        << file;
    ppdClose(ppd);
  }
}

TEST(PpdSet, EveryPpdCarriesTheJobHeaderPaperAndFinishingOptions) {
  for (const std::string& file : psPpds()) {
    ppd_file_t* ppd = ppdOpenFile(file.c_str());
    ASSERT_NE(ppd, nullptr) << file;
    EXPECT_NE(std::strstr(ppd->jcl_begin ? ppd->jcl_begin : "", "@PJL JOB"), nullptr) << file;
    EXPECT_NE(ppd->jcl_ps, nullptr) << file;
    EXPECT_NE(ppd->jcl_end, nullptr) << file;
    EXPECT_TRUE(ppd->variable_sizes) << file;
    EXPECT_EQ(ppd->custom_min[0], 211);
    EXPECT_EQ(ppd->custom_min[1], 418);
    EXPECT_EQ(ppd->custom_max[0], 613);
    EXPECT_EQ(ppd->custom_max[1], 1010);
    for (const char* option : {"PageSize", "Duplex", "Collate"})
      EXPECT_NE(ppdFindOption(ppd, option), nullptr) << file << " " << option;
    EXPECT_NE(ppdFindChoice(ppdFindOption(ppd, "Duplex"), "DuplexNoTumble"), nullptr);
    // Only the job-control models act on the feed edge, so only they offer it.
    bool jobControl = false;
    for (const auto& model : JobControlModels)
      jobControl = jobControl || std::strstr(attr(ppd, "ShortNickName"), model) != nullptr;
    ppd_option_t* feedEdge = ppdFindOption(ppd, "FeedEdge");
    EXPECT_EQ(feedEdge != nullptr, jobControl) << file;
    if (feedEdge != nullptr) {
      EXPECT_NE(ppdFindChoice(feedEdge, "LongEdge"), nullptr) << file;
    }
    EXPECT_NE(ppdPageSize(ppd, "A5"), nullptr);
    ppdClose(ppd);
  }
}

TEST(PpdSet, EveryPpdPassesCupstestppd) {
  // cupstestppd looks for the filter below its root: give it one that has
  // jobwrapper where CUPS keeps filters.
  jwtest::TempDir root(0755);
  std::filesystem::create_directories(root.file("usr/lib/cups/filter"));
  std::filesystem::copy_file(jwtest::binPath("jobwrapper"),
                             root.file("usr/lib/cups/filter/jobwrapper"));
  std::vector<std::string> argv = {"/usr/bin/cupstestppd", "-R", root.path()};
  for (const std::string& file : psPpds()) argv.push_back(file);
  jwtest::ProcessResult r = jwtest::runProcess(argv, {});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(jwtest::countOf(r.out, ": PASS\n"), kPsModelCount) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}
