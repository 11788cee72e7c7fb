#include "page_stream.h"

#include <cstring>

#include "job_state.h"
#include "keepalive.h"
#include "output_channel.h"

namespace rf {

namespace {

constexpr char kStartOp[] = "Prnt_StartPage()";
constexpr char kEndOp[] = "Prnt_EndPage()";

int start_page_m(const PageStartRecord& rec) {
  const bool custom = rec.paperCode == 0;
  const uint32_t items = custom ? kStartPageCustomItems : kStartPageItems;
  uint8_t buf[kChunkHeaderSize];
  fillChunkHeader(buf, custom ? kStartPageCustomChunkLength : kStartPageChunkLength,
                  START_PAGE_CMD, items, static_cast<uint16_t>(items * kItemSize), kChunkMark);
  if (!sendStep(kStartOp, "START_PAGE_CMD", false, buf, sizeof buf, 1)) return 0;

  StartPageItem list[kStartPageCustomItems];
  const size_t count = buildStartPageItems(rec, videoDepth(rec), list);
  for (size_t i = 0; i < count; ++i) {
    uint8_t item[kItemSize];
    fillItem(item, list[i].id, kItemKind, list[i].value);
    if (!sendStep(kStartOp, list[i].name, false, item, sizeof item, 1)) return 0;
  }
  return 1;
}

int start_page_records(const PageStartRecord& rec, ModelClass cls) {
  g_job.dotCount = 0;
  uint8_t buf[kMaxRecordSize];
  if (!sendStep(kStartOp, "cmdPageSpec", true, buf, fillCmdPageSpec(buf, rec, cls), 1) ||
      !sendStep(kStartOp, "cmdCustomPaper", true, buf, fillCmdCustomPaper(buf, rec, cls), 1) ||
      Insert00() != 1)
    return 0;
  if (cls == PLATFORM_C &&
      (!sendStep(kStartOp, "hostUseCmd", false, hostUseCmd, sizeof hostUseCmd, 1) ||
       Insert00() != 1))
    return 0;
  return 1;
}

int end_page_c(PageEndRecord& rec) {
  uint8_t buf[kMaxRecordSize];
  if (!sendStep(kEndOp, "UEL_CMD_C", false, UEL_CMD_C, sizeof UEL_CMD_C, 1) ||
      !sendStep(kEndOp, "cmdImageDataChenksum", true, buf,
                fillCmdImageDataChenksum(buf, g_job.imageChecksum), 1))
    return 0;
  const uint64_t coverage =
      weightedCoverage(g_job.dotCount, rec.resolution, rec.densityLevel, rec.paperSizeMm);
  rec.coverageValue = static_cast<uint16_t>(coverage);  // the printer takes the low 16 bits
  if (!sendStep(kEndOp, "cmdCoverage", true, buf,
                fillCmdCoverageC(buf, static_cast<uint16_t>(coverage)), 1) ||
      !sendStep(kEndOp, "formFeedCmd", true, formFeedCmd, sizeof formFeedCmd, 1))
    return 0;
  if (rec.autoDuplex == 1 && SendMachineDuplexCmd(rec.pageNumber, 1) != 1) {
    prependErrorText("Prnt_EndPage() :: MachineDuplexCmd Fail .\n");
    return 0;
  }
  return 1;
}

}  // namespace

uint32_t videoDepth(const PageStartRecord& record) {
  if (isModelListA(g_job.modelName)) return g_job.dpiMode == 2 ? 2 : 1;
  return record.doubleDepth == 1 ? 2 : 1;
}

uint64_t weightedCoverage(uint64_t dotCount, int resolution, int densityLevel, int paperSizeMm) {
  // Single precision and this order of operations: the printer's counters
  // were calibrated against exactly this arithmetic.
  const float dots = static_cast<float>(dotCount);
  const float resolutionWeight = resolution == 1200 ? 0.25f : 1.0f;
  float densityWeight = 1.0f;
  if (densityLevel == 0 || densityLevel == 1) densityWeight = 0.7f;
  if (densityLevel == 3 || densityLevel == 4) densityWeight = 1.2f;
  float sizeWeight = 1.0f;
  if (paperSizeMm >= 126 && paperSizeMm <= 174) sizeWeight = 1.5f;
  if (paperSizeMm <= 124) sizeWeight = 2.0f;
  const float value = ((dots * resolutionWeight) * densityWeight) * sizeWeight / 1000.0f;
  return static_cast<uint64_t>(value);  // at most 2^64 x 2.4 / 1000: always representable
}

int Prnt_StartPage(const PageStartRecord* record, ModelClass cls) {
  if (record == nullptr) return 0;
  switch (cls) {
    case PLATFORM_M: return start_page_m(*record);
    case PLATFORM_C:
    case PLATFORM_Z: return start_page_records(*record, cls);
    default: return 0;
  }
}

int Prnt_EndPage(PageEndRecord* record, ModelClass cls) {
  if (record == nullptr) return 0;
  switch (cls) {
    case PLATFORM_M: {
      uint8_t buf[kChunkHeaderSize];
      fillEmptyChunk(buf, END_PAGE_CMD);
      return sendStep(kEndOp, "END_PAGE_CMD", false, buf, sizeof buf, 1) ? 1 : 0;
    }
    case PLATFORM_C: return end_page_c(*record);
    case PLATFORM_Z:
      return sendStep(kEndOp, "formFeedCmd", true, formFeedCmd, sizeof formFeedCmd, 1) ? 1 : 0;
    default: return 0;
  }
}

int SendMachineDuplexCmd(int pageNumber, int selector) {
  const bool odd = (pageNumber & 1) != 0;
  if (selector != 0 ? !odd : odd) return 1;
  return sendStep("SendMachineDuplexCmd()", "machineDuplexCmd", true, machineDuplexCmd,
                  sizeof machineDuplexCmd, 1)
             ? 1
             : 0;
}

int SendManualDuplexCmd(ModelClass cls) {
  // This pass only: the command is not stored for replay (toPageStore 0).
  switch (cls) {
    case PLATFORM_M: {
      uint8_t buf[kChunkHeaderSize];
      fillEmptyChunk(buf, MANUAL_DUPLEX_CMD);
      return sendStep("SendManualDuplexCmd()", "MANUAL_DUPLEX_CMD", false, buf, sizeof buf, 0)
                 ? 1
                 : 0;
    }
    case PLATFORM_Z:
      return sendStep(kEndOp, "manualDuplexCmd", false, manualDuplexCmdZ, sizeof manualDuplexCmdZ,
                      0)
                 ? 1
                 : 0;
    case PLATFORM_C:
      return sendStep(kEndOp, "manualDuplexCmd", false, manualDuplexCmdC, sizeof manualDuplexCmdC,
                      0)
                 ? 1
                 : 0;
    default: return 0;
  }
}

}  // namespace rf
