#include "job_stream.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "job_state.h"
#include "keepalive.h"
#include "output_channel.h"
#include "page_stream.h"

namespace rf {

namespace {

constexpr char kStartOp[] = "Prnt_StartDoc()";
constexpr char kEndOp[] = "Prnt_EndDoc()";
constexpr size_t kHostNameBuffer = 32;

void system_local_time(std::tm* out) {
  const std::time_t now = std::time(nullptr);
  localtime_r(&now, out);
}

HostNameFn g_hostName = ::gethostname;
LocalTimeFn g_localTime = system_local_time;

bool start_text(const char* name, const char* text, int toPageStore) {
  return sendStep(kStartOp, name, false, text, std::strlen(text), toPageStore);
}

bool start_bytes(const char* name, bool filler, const uint8_t* data, size_t length,
                 int toPageStore) {
  return sendStep(kStartOp, name, filler, data, length, toPageStore);
}

int start_doc_m() {
  uint8_t buf[kTonerParamChunkLength];
  if (!start_text("UEL_CMD", UEL_CMD, 1) || !start_text("pjlJZJZ_TXE", pjlJZJZ_TXE, 1)) return 0;
  if (!start_bytes("TONER_PARAM", false, buf, fillTonerParamChunk(buf), 1)) return 0;
  fillChunkHeader(buf, kStartDocChunkLength, START_DOC_CMD, kStartDocItems,
                  kStartDocItems * kItemSize, kChunkMark);
  if (!start_bytes("START_DOC_CMD", false, buf, kChunkHeaderSize, 1)) return 0;
  const uint32_t values[kStartDocItems] = {0, 0, 1};  // the printer expects 0, 0, 1
  for (uint16_t id = 0; id < kStartDocItems; ++id) {
    fillItem(buf, id, kItemKind, values[id]);
    if (!start_bytes("TOTAL_PAGE_PARAM", false, buf, kItemSize, 1)) return 0;
  }
  return 1;
}

// The PJL lines of a PLATFORM_Z job header, up to the language switch.
bool start_pjl_z() {
  if (!start_text("PJLheader", PJLheader, 0)) return false;
  if (std::strcmp(g_job.modelName, kModelTXD) == 0 && !start_text("pjlVersion", pjlVersion, 0))
    return false;
  char time[32];
  formatJobTime(time);
  if (!start_text("pjlSendTime", pjlJobTime, 0) || !start_text("pjlSendTime", time, 0))
    return false;
  char host[kHostNameBuffer] = {};
  g_hostName(host, kHostNameBuffer - 1);  // result not needed: a failure leaves it empty
  host[kHostNameBuffer - 1] = '\0';
  if (!start_text("pjlHostName", pjlJobOwner, 0) || !start_text("pjlHostName", host, 0) ||
      !start_text("pjlHostName", pjlLineEnd, 1))
    return false;
  if (isModelListA(g_job.modelName)) {
    const int mode = g_job.blankSuppress;
    const char* line = (mode == 0 || mode == 2) ? pjlBlankSuppressDisable
                       : mode == 3              ? pjlBlankSuppressEnable
                                                : nullptr;  // 1: the printer's own setting
    if (line && !start_text("SkipBlankPagesPJLcmd", line, 0)) return false;
  }
  return start_text("pjlPosCmd", pjlPosCmd, 0);
}

int start_doc_z(const JobStartRecord& rec) {
  if (!start_pjl_z()) return 0;
  uint8_t buf[kMaxRecordSize];
  if (!start_bytes("cmdFineMode", true, buf, fillCmdFineMode(buf, rec.fineMode), 1) ||
      !start_bytes("cmdJobSpec", true, buf, fillCmdJobSpecZ(buf, rec), 0) ||
      !start_bytes("cmdDensity", true, buf, fillCmdDensity(buf, rec.density), 0))
    return 0;
  // Two models take a toner table; the others only get the filler.
  if (Insert00() != 1) {
    prependErrorText("Prnt_StartDoc() :: send cmdTonerParamTXD Fail 0 ==  \n");
    return 0;
  }
  size_t length = 0;
  if (std::strcmp(g_job.modelName, kModelTXD) == 0) length = fillCmdTonerParamTXD(buf);
  if (std::strcmp(g_job.modelName, kModelTXF) == 0) length = fillCmdTonerParamTXF(buf);
  if (length > 0 && !start_bytes("cmdTonerParamTXD", false, buf, length, 0)) return 0;
  return 1;
}

int start_doc_c(const JobStartRecord& rec) {
  // Clear whatever the printer was doing before this job opens its own PJL job.
  if (!start_bytes("UEL_CMD_C", false, UEL_CMD_C, sizeof UEL_CMD_C, 1) ||
      !start_bytes("abortCmd", false, abortCmd, sizeof abortCmd, 1) ||
      !start_text("endOfJobCmd", endOfJobCmd, 1) || !start_text("fw Version", fwVersionText, 1))
    return 0;
  if (!sendStep(kStartOp, "PJLheader", true, PJLheader, std::strlen(PJLheader), 1) ||
      !start_text("pjlCmd", pjlPosCmd, 1))
    return 0;
  uint8_t buf[kMaxRecordSize];
  if (!start_bytes("cmdJobSpec", true, buf, fillCmdJobSpecC(buf, rec), 1) ||
      !start_bytes("cmdTonerSave", true, buf, fillCmdTonerSave(buf, rec.tonerSave), 1) ||
      !start_bytes("cmdDensity", true, buf, fillCmdDensity(buf, rec.density), 1))
    return 0;
  std::tm today{};
  g_localTime(&today);
  const size_t length = fillCmdSysTime(buf, today.tm_year + 1900, today.tm_mon + 1, today.tm_mday);
  return start_bytes("cmdSysTime", false, buf, length, 1) ? 1 : 0;
}

bool end_step(const char* name, bool filler, const void* data, size_t length, int toPageStore) {
  return sendStep(kEndOp, name, filler, data, length, toPageStore);
}

int end_doc_z(bool filler) {
  return end_step("resetCmd", filler, resetCmd, sizeof resetCmd, 1) &&
                 end_step("endOfJobCmd", false, endOfJobCmd, std::strlen(endOfJobCmd), 1)
             ? 1
             : 0;
}

}  // namespace

void formatJobTimeFrom(char* buffer, const std::tm& when) {
  // Two digits per field and four for the year always fit the 32 bytes.
  auto field = [](int v, unsigned limit) { return static_cast<unsigned>(v) % limit; };
  std::snprintf(buffer, 32, "%02u:%02u:%02u:%02u:%04u\r\n", field(when.tm_min, 100),
                field(when.tm_hour, 100), field(when.tm_mday, 100), field(when.tm_mon + 1, 100),
                field(when.tm_year + 1900, 10000));
}

void formatJobTime(char* buffer) {
  std::tm now{};
  g_localTime(&now);
  formatJobTimeFrom(buffer, now);
}

void setJobStreamSources(HostNameFn hostName, LocalTimeFn localTime) {
  g_hostName = hostName ? hostName : ::gethostname;
  g_localTime = localTime ? localTime : system_local_time;
}

int Prnt_StartDoc(const JobStartRecord* record, ModelClass cls) {
  if (record == nullptr) return 0;
  switch (cls) {
    case PLATFORM_M: return start_doc_m();
    case PLATFORM_Z: return start_doc_z(*record);
    case PLATFORM_C: return start_doc_c(*record);
    default: return 0;
  }
}

int Prnt_EndDoc(const JobEndRecord* record, ModelClass cls) {
  if (record == nullptr) return 0;
  switch (cls) {
    case PLATFORM_M: {
      uint8_t buf[kChunkHeaderSize];
      fillEmptyChunk(buf, END_DOC_CMD);
      return end_step("END_DOC_CMD", false, buf, sizeof buf, 0) &&
                     end_step("UEL_CMD_C", false, UEL_CMD, std::strlen(UEL_CMD), 0)
                 ? 1
                 : 0;
    }
    case PLATFORM_C:
      if (record->autoDuplex == 1 && SendMachineDuplexCmd(record->pageNumber, 1) != 1) {
        prependErrorText("Prnt_EndDoc() :: MachineDuplexCmd Fail .\n");
        return 0;
      }
      if (!end_step("queryStatusCmd", true, queryStatusCmd, sizeof queryStatusCmd, 1)) return 0;
      return end_doc_z(true);
    case PLATFORM_Z: return end_doc_z(false);
    default: return 0;
  }
}

}  // namespace rf
