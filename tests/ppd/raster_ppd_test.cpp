// The generated PPDs of the raster models, checked against rasterfilter's
// own model lists and paper tables and by CUPS's PPD checker.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <cups/ppd.h>

#include "model_classes.h"
#include "test_support.h"

using namespace testing_support;

namespace {

struct PpdFile {
  std::string path;
  ppd_file_t* ppd;
};

// Every PPD of the build whose filter line names rasterfilter.
std::vector<PpdFile> rasterPpds() {
  std::vector<PpdFile> out;
  DIR* d = opendir(TESVEL_PPD_DIR);
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() < 5 || name.substr(name.size() - 4) != ".ppd") continue;
    std::string path = std::string(TESVEL_PPD_DIR) + "/" + name;
    ppd_file_t* ppd = ppdOpenFile(path.c_str());
    if (!ppd) {
      ADD_FAILURE() << "cannot open " << path;
      continue;
    }
    ppd_attr_t* f = ppdFindAttr(ppd, "cupsFilter2", nullptr);
    if (f && f->value && std::strstr(f->value, " rasterfilter")) out.push_back({path, ppd});
    else ppdClose(ppd);
  }
  closedir(d);
  return out;
}

class RasterPpds : public testing::Test {
 protected:
  static void SetUpTestSuite() { ppds_ = new std::vector<PpdFile>(rasterPpds()); }
  static void TearDownTestSuite() {
    for (auto& p : *ppds_) ppdClose(p.ppd);
    delete ppds_;
  }
  static std::vector<PpdFile>* ppds_;
};
std::vector<PpdFile>* RasterPpds::ppds_ = nullptr;

std::string text(ppd_file_t* ppd, const char* keyword) {
  ppd_attr_t* a = ppdFindAttr(ppd, "cupsIPPReason", keyword);
  return a ? a->text : "";
}

std::set<std::string> choices(ppd_file_t* ppd, const char* keyword) {
  std::set<std::string> out;
  ppd_option_t* o = ppdFindOption(ppd, keyword);
  if (!o) return out;
  for (int i = 0; i < o->num_choices; ++i) out.insert(o->choices[i].choice);
  return out;
}

}  // namespace

TEST_F(RasterPpds, ModelNamesAreExactlyTheModelsRasterfilterKnows) {
  std::set<std::string> expected, found;
  for (const rf::ModelList* l : {&rf::ModelListC1, &rf::ModelListC2, &rf::ModelListZ,
                                 &rf::ModelListM, &rf::ModelListA})
    for (size_t i = 0; i < l->count; ++i) expected.insert(l->names[i]);
  for (auto& p : *ppds_) EXPECT_TRUE(found.insert(p.ppd->modelname).second) << p.path;
  EXPECT_EQ(found, expected);
  EXPECT_EQ(ppds_->size(), 72u);
}

TEST_F(RasterPpds, EachPpdDescribesItsClassPaperAndResolution) {
  for (auto& p : *ppds_) {
    SCOPED_TRACE(p.path);
    const char* model = p.ppd->modelname;
    rf::ModelClass cls = rf::MODEL_NONE;
    const rf::PaperEntry* table = rf::classifyModel(model, &cls);
    std::string platform = text(p.ppd, "PlatForm");
    if (rf::isModelListA(model)) {
      cls = rf::platformFromText(platform.c_str());
      ASSERT_NE(cls, rf::MODEL_NONE) << "ModelListA models need their PlatForm text";
      table = rf::paperTableForClass(cls);
    }
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(rf::platformFromText(platform.c_str()), cls);

    // Page sizes: the table's names, sizes in points, no margins.
    std::map<std::string, std::pair<int, int>> sizes;
    for (const rf::PaperEntry* r = table; r->widthPt != -1; ++r)
      sizes.emplace(r->name, std::make_pair(r->widthPt, r->heightPt));
    ASSERT_EQ(p.ppd->num_sizes, static_cast<int>(sizes.size()));
    for (int i = 0; i < p.ppd->num_sizes; ++i) {
      const ppd_size_t& s = p.ppd->sizes[i];
      ASSERT_TRUE(sizes.count(s.name)) << s.name;
      EXPECT_EQ(static_cast<int>(s.width), sizes[s.name].first) << s.name;
      EXPECT_EQ(static_cast<int>(s.length), sizes[s.name].second) << s.name;
      EXPECT_EQ(s.left, 0.0f);
      EXPECT_EQ(s.bottom, 0.0f);
      EXPECT_EQ(s.right, s.width);
      EXPECT_EQ(s.top, s.length);
    }

    std::set<std::string> res = choices(p.ppd, "Resolution");
    if (cls == rf::PLATFORM_C && !rf::isModelListA(model))
      EXPECT_EQ(res, (std::set<std::string>{"600dpi", "1200dpi"}));
    else
      EXPECT_EQ(res, (std::set<std::string>{"600dpi"}));
    EXPECT_EQ(choices(p.ppd, "ColorModel"), (std::set<std::string>{"Gray"}));
    EXPECT_FALSE(p.ppd->manual_copies);
  }
}

TEST_F(RasterPpds, EveryJobOptionOfTheFilterIsOffered) {
  const std::set<std::string> boolean = {"True", "False"};
  for (auto& p : *ppds_) {
    SCOPED_TRACE(p.path);
    EXPECT_EQ(choices(p.ppd, "Duplex"), (std::set<std::string>{"None", "DuplexNoTumble", "DuplexTumble"}));
    EXPECT_EQ(choices(p.ppd, "InputSlot"), (std::set<std::string>{"Auto", "ManualFeed", "AutoFeed"}));
    EXPECT_EQ(choices(p.ppd, "Density"), (std::set<std::string>{"0", "1", "2", "3", "4"}));
    for (const char* b : {"ManualDuplex", "TonerMode", "FeedLongEdge", "DPI1200", "NegativePrint",
                          "ImageRotation", "Collate", "FineMode"})
      EXPECT_EQ(choices(p.ppd, b), boolean) << b;
    EXPECT_EQ(choices(p.ppd, "BlankSuppress"), (std::set<std::string>{"True", "False", "PrinterSetting"}));
    EXPECT_FALSE(text(p.ppd, "MDuplex").empty());
    std::string manual = text(p.ppd, "SupportManualDuplex");
    rf::ModelClass cls = rf::platformFromText(text(p.ppd, "PlatForm").c_str());
    EXPECT_EQ(manual.empty(), cls != rf::PLATFORM_Z);
  }
}

TEST_F(RasterPpds, CupsAcceptsEveryPpd) {
  // The checker looks for the filter the PPD names: give it a root with
  // this build's rasterfilter in the filter directory.
  TempDir root;
  std::string dir = root.path();
  for (const char* sub : {"/usr", "/usr/lib", "/usr/lib/cups", "/usr/lib/cups/filter"}) {
    dir = root.path() + sub;
    mkdir(dir.c_str(), 0755);
  }
  ASSERT_EQ(symlink(binPath("rasterfilter").c_str(), (dir + "/rasterfilter").c_str()), 0);
  std::vector<std::string> argv = {"/usr/bin/cupstestppd", "-q", "-R", root.path()};
  for (auto& p : *ppds_) argv.push_back(p.path);
  ProcessOptions opts;
  opts.stdinFromDevNull = true;
  ProcessResult r = runProcess(argv, opts);
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
}
