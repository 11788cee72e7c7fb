#include "printer_identity.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include <cups/sidechannel.h>

#include "model_tables.h"
#include "ppd_handle.h"
#include "text_io.h"
#include "wrapper_state.h"

namespace jw {

// CUPS hands every filter its side channel to the backend as a socket on
// descriptor 4.  Without one (the filter run by hand or by a test) that
// descriptor may be any file the process opened itself, and a request
// written there would land in it and then wait out the whole time-out.
static bool side_channel_present() {
  struct stat st;
  return fstat(CUPS_SC_FD, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool GetDeviceId(char* buffer, int* length) {
  cups_sc_status_t status = CUPS_SC_STATUS_TIMEOUT;
  if (!g_wrap.sideChannelSilent && !side_channel_present()) g_wrap.sideChannelSilent = true;
  if (!g_wrap.sideChannelSilent) {
    status = cupsSideChannelDoRequest(CUPS_SC_CMD_GET_DEVICE_ID, buffer, length,
                                      kDeviceIdTimeoutSeconds);
    if (status == CUPS_SC_STATUS_TIMEOUT) g_wrap.sideChannelSilent = true;
  }
  if (status == CUPS_SC_STATUS_OK && *length > 0) {
    buffer[*length] = '\0';
    return true;
  }
  buffer[0] = '\0';
  *length = 0;
  fprintf(stderr, "cups api can't find 1284 information.\n");
  return false;
}

static bool id_matches(const char* deviceId, const DeviceIdEntry& entry) {
  return contains(deviceId, entry.mfg) && contains(deviceId, entry.mdl) &&
         contains(deviceId, entry.cls);
}

// Sets the flag at the first JobControlModels name found in text.
static void mark_job_control(const char* text, uint8_t* jobControl) {
  for (const char* name : JobControlModels)
    if (contains_nocase(text, name)) {
      *jobControl = 1;
      return;
    }
}

bool IsSupportedModel(const char* deviceId, bool haveId, uint8_t* jobControl) {
  PpdHandle ppd;
  const char* nick = ppd.attr("ShortNickName");
  if (!haveId && nick != nullptr) {
    fprintf(stderr, "attr->value :%s.\n", nick);
    for (const char* name : PsModelNames)
      if (strcasecmp(nick, name) == 0) {
        mark_job_control(nick, jobControl);
        return true;
      }
  }
  // A device ID, when there is one, is the only source.  Without one the
  // empty text matches nothing here.
  const char* id = deviceId != nullptr ? deviceId : "";
  for (size_t i = kColourDeviceIdCount; i < kDeviceIdCount; ++i)
    if (id_matches(id, DeviceIdTable[i])) {
      mark_job_control(id, jobControl);
      return true;
    }
  return false;
}

bool IsColourModel(const char* deviceId, bool haveId) {
  PpdHandle ppd;
  if (haveId) {
    const char* id = deviceId != nullptr ? deviceId : "";
    for (size_t i = 0; i < kColourDeviceIdCount; ++i)
      if (id_matches(id, DeviceIdTable[i])) return true;
    return false;
  }
  const char* nick = ppd.attr("ShortNickName");
  if (nick == nullptr) return false;
  fprintf(stderr, "attr->value :%s.\n", nick);
  for (size_t i = 0; ColourModelNames[i][0] != '\0'; ++i)
    if (strcasecmp(nick, ColourModelNames[i]) == 0) return true;
  return false;
}

}  // namespace jw
