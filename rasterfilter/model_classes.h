// Model classes, model lists and paper tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include <cups/ppd.h>

namespace rf {

// Chooses the printer dialect and the form of every record the writers emit.
enum ModelClass : int {
  MODEL_NONE = 0,
  PLATFORM_C = 1,  // command records, first platform
  PLATFORM_Z = 2,  // command records, second platform
  PLATFORM_M = 3,  // binary chunk stream
};

// One row of a paper table.  A row whose widthPt is -1 ends the table.
struct PaperEntry {
  int32_t widthPt;       // page width in points
  int32_t heightPt;      // page height in points
  uint32_t imageWidth;   // page image width in pixels at 600 dpi
  int32_t imageHeight;   // page image height in lines at 600 dpi
  int16_t paperCode;     // the printer's paper code (page-start record)
  int16_t reserved;      // always 0
  int16_t extraA;        // printable-area offsets, sent as offsetX/offsetY
  int16_t extraB;
  char name[16];         // CUPS "PageSize" name
};

extern const PaperEntry PaperTableC1[];
extern const PaperEntry PaperTableC2[];
extern const PaperEntry PaperTableZ[];
extern const PaperEntry PaperTableM[];

// Model name lists, exact PPD ModelName values.
struct ModelList {
  const char* const* names;
  size_t count;
};
extern const ModelList ModelListC1;
extern const ModelList ModelListC2;
extern const ModelList ModelListZ;
extern const ModelList ModelListM;
extern const ModelList ModelListA;

// The two PLATFORM_Z models whose job header differs, and the model whose
// pages get the 96 x 96 screens (matched as a prefix).
extern const char kModelTXD[];
extern const char kModelTXF[];
extern const char kModelTXGPrefix[];

// Class and paper table for a model name; class 0 and null when unknown.
const PaperEntry* classifyModel(const char* modelName, ModelClass* out);

// Class and paper table named by the PPD's "PlatForm" text; leaves *out
// unchanged and returns null when the PPD names none.
const PaperEntry* platformFromPpd(ppd_file_t* ppd, ModelClass* out);

// Class named by a "PlatForm" text (ignoring case); MODEL_NONE otherwise.
ModelClass platformFromText(const char* text);

bool isModelListA(const char* modelName);

// The paper table of a class, null for MODEL_NONE.
const PaperEntry* paperTableForClass(ModelClass cls);

// Number of rows before the terminating row.
size_t paperTableSize(const PaperEntry* table);

}  // namespace rf

namespace rf {

// Row of `table` for a page size in points: a page of 421 x 595 points is
// A5 fed long edge first (row 0, and *feedLongEdge becomes 1); otherwise
// the first row of exactly that size.  -1 when no row matches.
int findPaperIndex(const unsigned pageSize[2], const PaperEntry* table, int32_t* feedLongEdge);

}  // namespace rf
