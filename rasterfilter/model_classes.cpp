#include "model_classes.h"

#include <strings.h>

#include <cstring>

#include "cups_binding.h"

namespace rf {

// Paper tables: page size in points to the printer's paper code and the
// page image size at 600 dpi.  Row order matters: lookups take the first
// match (354 x 499 "B6" appears twice in the PLATFORM_C tables).
const PaperEntry PaperTableC1[] = {
    // widthPt heightPt imageWidth imageHeight paperCode reserved extraA extraB name
    {420, 595, 3328, 4736, 6, 0, 0, 0, "A5"},  // 0
    {612, 792, 4928, 6364, 0, 0, 0, 0, "Letter"},  // 1
    {595, 842, 4800, 6780, 1, 0, 0, 0, "A4"},  // 2
    {298, 420, 2304, 3260, 24, 0, 0, 0, "A6"},  // 3
    {516, 729, 4128, 5835, 3, 0, 0, 0, "B5"},  // 4
    {499, 709, 3968, 5670, 25, 0, 0, 0, "IOSB5"},  // 5
    {354, 499, 2784, 3922, 31, 0, 0, 0, "B6"},  // 6
    {522, 756, 4192, 6064, 10, 0, 0, 0, "Executive"},  // 7
    {396, 612, 3136, 4864, 12, 0, 0, 0, "Statement"},  // 8
    {612, 936, 4928, 7560, 26, 0, 0, 0, "Folio"},  // 9
    {612, 972, 4928, 7866, 27, 0, 0, 0, "Oficio"},  // 10
    {283, 420, 2176, 3260, 8, 0, 0, 0, "Postcard"},  // 11
    {279, 540, 2144, 4264, 11, 0, 0, 0, "EnvMonarch"},  // 12
    {312, 624, 2432, 4961, 14, 0, 0, 0, "EnvDL"},  // 13
    {459, 649, 3648, 5174, 15, 0, 0, 0, "EnvC5"},  // 14
    {297, 684, 2304, 5464, 16, 0, 0, 0, "Com10Envelope"},  // 15
    {323, 459, 2528, 3591, 28, 0, 0, 0, "EnvC6"},  // 16
    {340, 652, 2656, 5197, 29, 0, 0, 0, "ZL"},  // 17
    {354, 499, 2784, 3922, 30, 0, 0, 0, "B6"},  // 18
    {612, 1008, 4928, 8164, 2, 0, 0, 0, "Legal"},  // 19
    {383, 553, 3008, 4371, 23, 0, 0, 0, "Big32K"},  // 20
    {553, 765, 4448, 6142, 21, 0, 0, 0, "Big16K"},  // 21
    {369, 524, 2912, 4134, 22, 0, 0, 0, "32K"},  // 22
    {524, 737, 4192, 5906, 20, 0, 0, 0, "16K"},  // 23
    {-1, 0, 0, 0, 0, 0, 0, 0, ""},
};

const PaperEntry PaperTableC2[] = {
    // widthPt heightPt imageWidth imageHeight paperCode reserved extraA extraB name
    {420, 595, 3312, 4720, 6, 0, 0, 0, "A5"},  // 0
    {612, 792, 4912, 6364, 0, 0, 0, 0, "Letter"},  // 1
    {595, 842, 4776, 6782, 1, 0, 0, 0, "A4"},  // 2
    {298, 420, 2296, 3260, 24, 0, 0, 0, "A6"},  // 3
    {516, 729, 4112, 5835, 3, 0, 0, 0, "B5"},  // 4
    {499, 709, 3968, 5669, 25, 0, 0, 0, "IOSB5"},  // 5
    {354, 499, 2760, 3921, 31, 0, 0, 0, "B6"},  // 6
    {522, 756, 4168, 6064, 10, 0, 0, 0, "Executive"},  // 7
    {396, 612, 3112, 4864, 12, 0, 0, 0, "Statement"},  // 8
    {612, 936, 4912, 7564, 26, 0, 0, 0, "Folio"},  // 9
    {612, 972, 4920, 7866, 27, 0, 0, 0, "Oficio"},  // 10
    {283, 420, 1896, 3024, 8, 0, 240, 120, "Postcard"},  // 11
    {279, 540, 1856, 4028, 11, 0, 240, 120, "EnvMonarch"},  // 12
    {312, 624, 2128, 4724, 14, 0, 240, 120, "EnvDL"},  // 13
    {459, 649, 3360, 4937, 15, 0, 240, 120, "EnvC5"},  // 14
    {297, 684, 2008, 5228, 16, 0, 240, 120, "Com10Envelope"},  // 15
    {323, 459, 2224, 3354, 28, 0, 240, 120, "EnvC6"},  // 16
    {340, 652, 2648, 5197, 29, 0, 0, 0, "ZL"},  // 17
    {612, 1008, 4912, 8164, 2, 0, 0, 0, "Legal"},  // 18
    {383, 553, 3000, 4370, 23, 0, 0, 0, "Big32K"},  // 19
    {553, 765, 4424, 6142, 21, 0, 0, 0, "Big16K"},  // 20
    {369, 524, 2888, 4134, 22, 0, 0, 0, "32K"},  // 21
    {524, 737, 4184, 5906, 20, 0, 0, 0, "16K"},  // 22
    {-1, 0, 0, 0, 0, 0, 0, 0, ""},
};

const PaperEntry PaperTableZ[] = {
    // widthPt heightPt imageWidth imageHeight paperCode reserved extraA extraB name
    {420, 595, 3264, 4736, 11, 0, 0, 0, "A5"},  // 0
    {595, 842, 4736, 6780, 1, 0, 0, 0, "A4"},  // 1
    {612, 792, 4864, 6364, 2, 0, 0, 0, "Letter"},  // 2
    {612, 1008, 4864, 8164, 4, 0, 0, 0, "Legal"},  // 3
    {516, 729, 4064, 5835, 5, 0, 0, 0, "B5"},  // 4
    {279, 540, 2112, 4264, 6, 0, 0, 0, "EnvMonarch"},  // 5
    {312, 624, 2368, 4961, 7, 0, 0, 0, "EnvDL"},  // 6
    {459, 649, 3616, 5174, 8, 0, 0, 0, "EnvC5"},  // 7
    {297, 684, 2240, 5464, 9, 0, 0, 0, "Com10Envelope"},  // 8
    {283, 420, 2144, 3260, 12, 0, 0, 0, "Postcard"},  // 9
    {524, 737, 4160, 5906, 14, 0, 0, 0, "16K"},  // 10
    {553, 765, 4384, 6142, 15, 0, 0, 0, "Big16K"},  // 11
    {369, 524, 2848, 4134, 16, 0, 0, 0, "32K"},  // 12
    {383, 553, 2976, 4371, 17, 0, 0, 0, "Big32K"},  // 13
    {298, 420, 2272, 3260, 19, 0, 0, 0, "A6"},  // 14
    {499, 709, 3936, 5670, 20, 0, 0, 0, "IOSB5"},  // 15
    {522, 756, 4128, 6064, 21, 0, 0, 0, "Executive"},  // 16
    {612, 936, 4864, 7560, 22, 0, 0, 0, "Folio"},  // 17
    {612, 972, 4864, 7866, 23, 0, 0, 0, "Oficio"},  // 18
    {396, 612, 3072, 4864, 24, 0, 0, 0, "Statement"},  // 19
    {323, 459, 2464, 3591, 25, 0, 0, 0, "EnvC6"},  // 20
    {340, 652, 2624, 5197, 26, 0, 0, 0, "ZL"},  // 21
    {354, 499, 2720, 3922, 28, 0, 0, 0, "B6"},  // 22
    {397, 680, 3200, 5568, 77, 0, 0, 0, "ChinaElectronic"},  // 23
    {-1, 0, 0, 0, 0, 0, 0, 0, ""},
};

const PaperEntry PaperTableM[] = {
    // widthPt heightPt imageWidth imageHeight paperCode reserved extraA extraB name
    {420, 595, 3264, 4736, 11, 0, 0, 0, "A5"},  // 0
    {595, 842, 4736, 6784, 9, 0, 0, 0, "A4"},  // 1
    {612, 792, 4864, 6368, 1, 0, 0, 0, "Letter"},  // 2
    {612, 1008, 4864, 8192, 5, 0, 0, 0, "Legal"},  // 3
    {516, 729, 4064, 5856, 13, 0, 0, 0, "B5"},  // 4
    {279, 540, 2112, 4288, 37, 0, 0, 0, "EnvMonarch"},  // 5
    {312, 624, 2368, 4992, 27, 0, 0, 0, "EnvDL"},  // 6
    {459, 649, 3616, 5184, 28, 0, 0, 0, "EnvC5"},  // 7
    {297, 684, 2240, 5472, 20, 0, 0, 0, "Com10Envelope"},  // 8
    {283, 420, 2144, 3264, 43, 0, 0, 0, "Postcard"},  // 9
    {524, 737, 4160, 5920, 263, 0, 0, 0, "16K"},  // 10
    {553, 765, 4384, 6144, 264, 0, 0, 0, "Big16K"},  // 11
    {369, 524, 2848, 4160, 266, 0, 0, 0, "32K"},  // 12
    {383, 553, 2976, 4384, 260, 0, 0, 0, "Big32K"},  // 13
    {298, 420, 2272, 3264, 70, 0, 0, 0, "A6"},  // 14
    {499, 709, 3936, 5696, 34, 0, 0, 0, "IOSB5"},  // 15
    {522, 756, 4128, 6080, 7, 0, 0, 0, "Executive"},  // 16
    {612, 936, 4864, 7584, 14, 0, 0, 0, "Folio"},  // 17
    {612, 972, 4864, 7872, 269, 0, 0, 0, "Oficio"},  // 18
    {396, 612, 3072, 4864, 6, 0, 0, 0, "Statement"},  // 19
    {323, 459, 2464, 3616, 31, 0, 0, 0, "EnvC6"},  // 20
    {340, 652, 2624, 5216, 270, 0, 0, 0, "ZL"},  // 21
    {354, 499, 2720, 3936, 271, 0, 0, 0, "B6"},  // 22
    {-1, 0, 0, 0, 0, 0, 0, 0, ""},
};

static const char* const kNamesC1[] = {
    "Tesvel TC1110 Series",
    "Tesvel TC1120 Series",
};
const ModelList ModelListC1 = {kNamesC1, sizeof kNamesC1 / sizeof kNamesC1[0]};

static const char* const kNamesC2[] = {
    "Tesvel TC2110 Series",
    "Tesvel TC2120 Series",
};
const ModelList ModelListC2 = {kNamesC2, sizeof kNamesC2 / sizeof kNamesC2[0]};

static const char* const kNamesZ[] = {
    "Tesvel TXD Series",
    "Tesvel TXF Series",
    "Tesvel TXG Series",
    "Tesvel TZ3010 Series",
    "Tesvel TZ3020 Series",
    "Tesvel TZ3030 Series",
    "Tesvel TZ3040 Series",
    "Tesvel TZ3050 Series",
    "Tesvel TZ3060 Series",
    "Tesvel TZ3070 Series",
    "Tesvel TZ3080 Series",
    "Tesvel TZ3090 Series",
    "Tesvel TZ3100 Series",
    "Tesvel TZ3110 Series",
    "Tesvel TZ3120 Series",
    "Tesvel TZ3130 Series",
    "Tesvel TZ3140 Series",
    "Tesvel TZ3150 Series",
    "Tesvel TZ3160 Series",
};
const ModelList ModelListZ = {kNamesZ, sizeof kNamesZ / sizeof kNamesZ[0]};

static const char* const kNamesM[] = {
    "Tesvel TM4010 Series",
    "Tesvel TM4020 Series",
    "Tesvel TM4030 Series",
    "Tesvel TM4040 Series",
    "Tesvel TM4050 Series",
    "Tesvel TM4060 Series",
    "Tesvel TM4070 Series",
    "Tesvel TM4080 Series",
    "Tesvel TM4090 Series",
    "Tesvel TM4100 Series",
    "Tesvel TM4110 Series",
    "Tesvel TM4120 Series",
    "Tesvel TM4130 Series",
    "Tesvel TM4140 Series",
    "Tesvel TM4150 Series",
    "Tesvel TM4160 Series",
    "Tesvel TM4170 Series",
    "Tesvel TM4180 Series",
    "Tesvel TM4190 Series",
    "Tesvel TM4200 Series",
    "Tesvel TM4210 Series",
    "Tesvel TM4220 Series",
    "Tesvel TM4230 Series",
    "Tesvel TM4240 Series",
    "Tesvel TM4250 Series",
    "Tesvel TM4260 Series",
    "Tesvel TM4270 Series",
    "Tesvel TM4280 Series",
    "Tesvel TM4290 Series",
    "Tesvel TM4300 Series",
    "Tesvel TM4310 Series",
};
const ModelList ModelListM = {kNamesM, sizeof kNamesM / sizeof kNamesM[0]};

static const char* const kNamesA[] = {
    "Tesvel TXA Series",
    "Tesvel TXA200 Series",
    "Tesvel TXA300 Series",
    "Tesvel TXA400 Series",
    "Tesvel TXA500 Series",
    "Tesvel TXA600 Series",
    "Tesvel TXB Series",
    "Tesvel TXB200 Series",
    "Tesvel TXB300 Series",
    "Tesvel TXB400 Series",
    "Tesvel TXB500 Series",
    "Tesvel TXB600 Series",
    "Tesvel TXC Series",
    "Tesvel TXC200 Series",
    "Tesvel TXC300 Series",
    "Tesvel TXC400 Series",
    "Tesvel TXC500 Series",
    "Tesvel TXC600 Series",
};
const ModelList ModelListA = {kNamesA, sizeof kNamesA / sizeof kNamesA[0]};

const char kModelTXD[] = "Tesvel TXD Series";
const char kModelTXF[] = "Tesvel TXF Series";
const char kModelTXGPrefix[] = "Tesvel TXG Series";

static bool in_list(const ModelList& list, const char* name) {
  if (name == nullptr) return false;
  for (size_t i = 0; i < list.count; ++i)
    if (std::strcmp(list.names[i], name) == 0) return true;
  return false;
}

const PaperEntry* classifyModel(const char* modelName, ModelClass* out) {
  struct Row {
    const ModelList* list;
    ModelClass cls;
    const PaperEntry* table;
  };
  static const Row rows[] = {
      {&ModelListC1, PLATFORM_C, PaperTableC1},
      {&ModelListC2, PLATFORM_C, PaperTableC2},
      {&ModelListZ, PLATFORM_Z, PaperTableZ},
      {&ModelListM, PLATFORM_M, PaperTableM},
  };
  for (const Row& row : rows) {
    if (in_list(*row.list, modelName)) {
      if (out) *out = row.cls;
      return row.table;
    }
  }
  if (out) *out = MODEL_NONE;
  return nullptr;
}

ModelClass platformFromText(const char* text) {
  if (text == nullptr) return MODEL_NONE;
  if (strcasecmp(text, "PLATFORM_M") == 0) return PLATFORM_M;
  if (strcasecmp(text, "PLATFORM_C") == 0) return PLATFORM_C;
  if (strcasecmp(text, "PLATFORM_Z") == 0) return PLATFORM_Z;
  return MODEL_NONE;
}

const PaperEntry* paperTableForClass(ModelClass cls) {
  switch (cls) {
    case PLATFORM_C: return PaperTableC1;
    case PLATFORM_Z: return PaperTableZ;
    case PLATFORM_M: return PaperTableM;
    default: return nullptr;
  }
}

const PaperEntry* platformFromPpd(ppd_file_t* ppd, ModelClass* out) {
  if (ppd == nullptr) return nullptr;
  char text[1024] = {};
  if (cups().ppdLocalizeIPPReason(ppd, "PlatForm", nullptr, text, sizeof text) == nullptr)
    return nullptr;
  ModelClass cls = platformFromText(text);
  if (cls == MODEL_NONE) return nullptr;
  if (out) *out = cls;
  return paperTableForClass(cls);
}

bool isModelListA(const char* modelName) { return in_list(ModelListA, modelName); }

size_t paperTableSize(const PaperEntry* table) {
  size_t n = 0;
  if (table == nullptr) return 0;
  while (table[n].widthPt != -1) ++n;
  return n;
}

}  // namespace rf

namespace rf {

int findPaperIndex(const unsigned pageSize[2], const PaperEntry* table, int32_t* feedLongEdge) {
  if (pageSize[0] == 421 && pageSize[1] == 595) {
    if (feedLongEdge) *feedLongEdge = 1;
    return 0;
  }
  if (table == nullptr) return -1;
  for (int i = 0; table[i].widthPt != -1; ++i)
    if (static_cast<uint32_t>(table[i].widthPt) == pageSize[0] &&
        static_cast<uint32_t>(table[i].heightPt) == pageSize[1])
      return i;
  return -1;
}

}  // namespace rf
