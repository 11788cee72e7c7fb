// Model classes, model lists and paper lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "cups_binding.h"
#include "model_classes.h"
#include "ppd_fixture.h"
#include "test_support.h"

using namespace rf;

TEST(ModelClasses, ListsHaveTheirSizesAndShareNoName) {
  const ModelList* lists[] = {&ModelListC1, &ModelListC2, &ModelListZ, &ModelListM, &ModelListA};
  const size_t sizes[] = {2, 2, 19, 31, 18};
  std::set<std::string> all;
  size_t total = 0;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(lists[i]->count, sizes[i]);
    for (size_t k = 0; k < lists[i]->count; ++k) {
      std::string name = lists[i]->names[k];
      EXPECT_EQ(name.rfind(" Series"), name.size() - 7) << name;
      all.insert(name);
      ++total;
    }
  }
  EXPECT_EQ(all.size(), total);
  EXPECT_TRUE(all.count(kModelTXD) && all.count(kModelTXF) && all.count(kModelTXGPrefix));
}

TEST(ModelClasses, ClassAndTableComeFromTheModelName) {
  struct Case {
    const char* name;
    ModelClass cls;
    const PaperEntry* table;
  } cases[] = {
      {ModelListC1.names[0], PLATFORM_C, PaperTableC1},
      {ModelListC2.names[1], PLATFORM_C, PaperTableC2},
      {kModelTXD, PLATFORM_Z, PaperTableZ},
      {ModelListM.names[30], PLATFORM_M, PaperTableM},
      {ModelListA.names[0], MODEL_NONE, nullptr},
      {"tesvel txd series", MODEL_NONE, nullptr},  // names are compared exactly
      {"Tesvel TXD Series ", MODEL_NONE, nullptr},
      {"", MODEL_NONE, nullptr},
  };
  for (const Case& c : cases) {
    ModelClass cls = PLATFORM_M;
    EXPECT_EQ(classifyModel(c.name, &cls), c.table) << c.name;
    EXPECT_EQ(cls, c.cls) << c.name;
  }
  EXPECT_TRUE(isModelListA(ModelListA.names[17]));
  EXPECT_FALSE(isModelListA(kModelTXD));
  EXPECT_FALSE(isModelListA(nullptr));
}

TEST(ModelClasses, PlatformTextOfThePpdNamesTheClass) {
  testing_support::TempDir dir;
  struct Case {
    const char* line;
    ModelClass cls;
    const PaperEntry* table;
  } cases[] = {
      {"*cupsIPPReason PlatForm/platform_z: \"\"\n", PLATFORM_Z, PaperTableZ},
      {"*cupsIPPReason PlatForm/PLATFORM_M: \"\"\n", PLATFORM_M, PaperTableM},
      {"*cupsIPPReason PlatForm/Platform_C: \"\"\n", PLATFORM_C, PaperTableC1},
      {"*cupsIPPReason PlatForm/PLATFORM_X: \"\"\n", MODEL_NONE, nullptr},
      {"", MODEL_NONE, nullptr},
  };
  for (const Case& c : cases) {
    std::string path = dir.file("p.ppd");
    testing_support::writeFile(path, makePpdText("Tesvel Unknown Series", c.line));
    ppd_file_t* ppd = cups().ppdOpenFile(path.c_str());
    ASSERT_NE(ppd, nullptr);
    ModelClass cls = MODEL_NONE;
    EXPECT_EQ(platformFromPpd(ppd, &cls), c.table) << c.line;
    EXPECT_EQ(cls, c.cls) << c.line;
    cups().ppdClose(ppd);
  }
}

TEST(PaperTables, RowsAreWhereTheLookupsExpectThem) {
  struct Case {
    const PaperEntry* table;
    size_t rows;
    const char* last;
  } cases[] = {
      {PaperTableC1, 24, "16K"},
      {PaperTableC2, 23, "16K"},
      {PaperTableZ, 24, "ChinaElectronic"},
      {PaperTableM, 23, "B6"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(paperTableSize(c.table), c.rows);
    EXPECT_STREQ(c.table[c.rows - 1].name, c.last);
    EXPECT_STREQ(c.table[0].name, "A5");
    for (size_t i = 0; i < c.rows; ++i) {
      EXPECT_EQ(c.table[i].imageWidth % 8, 0u) << c.table[i].name;
      // The image always fits the sheet at 600 dpi.
      EXPECT_LE(c.table[i].imageWidth, uint32_t(c.table[i].widthPt) * 600 / 72 + 1);
    }
  }
  // Offsets of the envelope rows of the second PLATFORM_C table.
  for (int i = 0; i < 23; ++i) {
    bool envelope = i >= 11 && i <= 16;
    EXPECT_EQ(PaperTableC2[i].extraA, envelope ? 240 : 0);
    EXPECT_EQ(PaperTableC2[i].extraB, envelope ? 120 : 0);
  }
}

TEST(PaperTables, LookupBySizeTakesTheFirstRowAndTreats421x595AsLongEdgeA5) {
  struct Case {
    unsigned w, h;
    const PaperEntry* table;
    int row;
    int32_t feedLongEdge;
  } cases[] = {
      {421, 595, PaperTableZ, 0, 1},
      {421, 595, nullptr, 0, 1},
      {420, 595, PaperTableZ, 0, 0},
      {595, 842, PaperTableM, 1, 0},
      {354, 499, PaperTableC1, 6, 0},  // B6 twice: the first wins
      {397, 680, PaperTableZ, 23, 0},
      {397, 680, PaperTableM, -1, 0},
      {842, 595, PaperTableC1, -1, 0},
  };
  for (const Case& c : cases) {
    unsigned size[2] = {c.w, c.h};
    int32_t fle = 0;
    EXPECT_EQ(findPaperIndex(size, c.table, &fle), c.row) << c.w << "x" << c.h;
    EXPECT_EQ(fle, c.feedLongEdge);
  }
  unsigned b6[2] = {354, 499};
  EXPECT_EQ(PaperTableC1[findPaperIndex(b6, PaperTableC1, nullptr)].paperCode, 31);
}
