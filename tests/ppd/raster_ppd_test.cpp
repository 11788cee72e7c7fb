// The PPDs of the raster models, built from the model catalogue, checked
// against the catalogue, the catalogue against rasterfilter's own model
// lists and paper tables, and every PPD by CUPS's PPD checker.
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

#include "model_catalog.h"
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

TEST(ModelCatalogue, HoldsExactlyTheModelsRasterfilterKnowsWithTheirClassAndPaperTable) {
  std::set<std::string> listed, catalogued;
  for (const rf::ModelList* l : {&rf::ModelListC1, &rf::ModelListC2, &rf::ModelListZ,
                                 &rf::ModelListM, &rf::ModelListA})
    for (size_t i = 0; i < l->count; ++i) listed.insert(l->names[i]);
  for (size_t i = 0; i < rf::kModelCatalogSize; ++i) {
    const rf::ModelInfo& m = rf::kModelCatalog[i];
    SCOPED_TRACE(m.modelName);
    EXPECT_TRUE(catalogued.insert(m.modelName).second);
    EXPECT_EQ(rf::findModelInfo(m.modelName), &m);
    rf::ModelClass cls = rf::MODEL_NONE;
    const rf::PaperEntry* table = rf::classifyModel(m.modelName, &cls);
    if (rf::isModelListA(m.modelName)) {  // the filter reads the class from the PPD's PlatForm
      cls = m.cls;
      table = rf::paperTableForClass(m.cls);
    }
    EXPECT_EQ(m.cls, cls);
    EXPECT_EQ(m.paperTable, table);
  }
  EXPECT_EQ(catalogued, listed);
  EXPECT_EQ(rf::kModelCatalogSize, 72u);
  EXPECT_EQ(rf::findModelInfo("Tesvel TZ3010 series"), nullptr);
}

TEST_F(RasterPpds, ThereIsOnePpdPerCatalogueRowUnderItsName) {
  std::set<std::string> found;
  for (auto& p : *ppds_) {
    const rf::ModelInfo* m = rf::findModelInfo(p.ppd->modelname);
    ASSERT_NE(m, nullptr) << p.path;
    EXPECT_EQ(p.path, std::string(TESVEL_PPD_DIR) + "/" + m->ppdName);
    EXPECT_TRUE(found.insert(p.ppd->modelname).second) << p.path;
  }
  EXPECT_EQ(found.size(), rf::kModelCatalogSize);
}

TEST_F(RasterPpds, EachPpdDescribesItsClassPaperResolutionAndCustomSizes) {
  for (auto& p : *ppds_) {
    SCOPED_TRACE(p.path);
    const rf::ModelInfo* m = rf::findModelInfo(p.ppd->modelname);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(rf::platformFromText(text(p.ppd, "PlatForm").c_str()), m->cls);

    // Page sizes: the table's names, sizes in points, no margins.
    std::map<std::string, std::pair<int, int>> sizes;
    for (const rf::PaperEntry* r = m->paperTable; r->widthPt != -1; ++r)
      sizes.emplace(r->name, std::make_pair(r->widthPt, r->heightPt));
    ASSERT_EQ(p.ppd->num_sizes, static_cast<int>(sizes.size()) + 1);  // and "Custom"
    for (int i = 0; i < p.ppd->num_sizes; ++i) {
      const ppd_size_t& s = p.ppd->sizes[i];
      if (std::strcmp(s.name, "Custom") == 0) continue;
      ASSERT_TRUE(sizes.count(s.name)) << s.name;
      EXPECT_EQ(static_cast<int>(s.width), sizes[s.name].first) << s.name;
      EXPECT_EQ(static_cast<int>(s.length), sizes[s.name].second) << s.name;
      EXPECT_EQ(s.left, 0.0f);
      EXPECT_EQ(s.bottom, 0.0f);
      EXPECT_EQ(s.right, s.width);
      EXPECT_EQ(s.top, s.length);
    }
    EXPECT_TRUE(p.ppd->variable_sizes);
    EXPECT_EQ(p.ppd->custom_min[0], m->customMinPt[0]);
    EXPECT_EQ(p.ppd->custom_min[1], m->customMinPt[1]);
    EXPECT_EQ(p.ppd->custom_max[0], m->customMaxPt[0]);
    EXPECT_EQ(p.ppd->custom_max[1], m->customMaxPt[1]);
    for (float margin : p.ppd->custom_margins) EXPECT_EQ(margin, 0.0f);

    std::set<std::string> res = choices(p.ppd, "Resolution");
    if (m->resolution1200)
      EXPECT_EQ(res, (std::set<std::string>{"600dpi", "1200dpi"}));
    else
      EXPECT_EQ(res, (std::set<std::string>{"600dpi"}));
    EXPECT_EQ(choices(p.ppd, "ColorModel"), (std::set<std::string>{"Gray"}));
    EXPECT_FALSE(p.ppd->manual_copies);
  }
}

TEST_F(RasterPpds, EachPpdOffersTheOptionsItsPrinterDataRespondsToAndNoOthers) {
  const std::set<std::string> boolean = {"True", "False"}, none;
  struct Feature {
    unsigned bit;
    const char* keyword;
    std::set<std::string> choices;
  } features[] = {
      {rf::kFeatureManualDuplex, "ManualDuplex", boolean},
      {rf::kFeatureNegativePrint, "NegativePrint", boolean},
      {rf::kFeatureImageRotation, "ImageRotation", boolean},
      {rf::kFeatureFeedLongEdge, "FeedLongEdge", boolean},
      {rf::kFeatureFineMode, "FineMode", boolean},
      {rf::kFeatureDpi1200, "DPI1200", boolean},
      {rf::kFeatureBlankSuppress, "BlankSuppress", {"True", "False", "PrinterSetting"}},
  };
  for (auto& p : *ppds_) {
    SCOPED_TRACE(p.path);
    const rf::ModelInfo* m = rf::findModelInfo(p.ppd->modelname);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(choices(p.ppd, "Duplex"), (std::set<std::string>{"None", "DuplexNoTumble", "DuplexTumble"}));
    EXPECT_EQ(choices(p.ppd, "InputSlot"), (std::set<std::string>{"Auto", "ManualFeed", "AutoFeed"}));
    EXPECT_EQ(choices(p.ppd, "Density"), (std::set<std::string>{"0", "1", "2", "3", "4"}));
    EXPECT_EQ(choices(p.ppd, "TonerMode"), boolean);
    EXPECT_EQ(choices(p.ppd, "Collate"), boolean);
    for (const Feature& f : features)
      EXPECT_EQ(choices(p.ppd, f.keyword), (m->features & f.bit) ? f.choices : none) << f.keyword;
    EXPECT_FALSE(text(p.ppd, "MDuplex").empty());
    // Only PLATFORM_Z jobs read it: TRUE turns two-sided jobs into manual duplex.
    const std::string manual = text(p.ppd, "SupportManualDuplex");
    EXPECT_EQ(manual, m->cls != rf::PLATFORM_Z ? "" : m->duplexUnit ? "FALSE" : "TRUE");
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
