#include "app_system.h"

#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "admin_auth.h"
#include "drivers.h"
#include "print_job.h"
#include "printer_icons.h"
#include "server_settings.h"
#include "status_callback.h"
#include "status_watch.h"
#include "stall_watch.h"
#include "web_strings.h"

namespace tpa {

namespace {

struct AppData {
  std::string stateFile;
  int watchdogSeconds = 0;
  PasswordFile password;
};

bool save_state(pappl_system_t* system, void* data) {
  AppData* app = static_cast<AppData*>(data);
  // False makes PAPPL try again when its main loop next wakes (at the
  // latest at the next state_tick), until both are on the disk.
  bool ok = papplSystemSaveState(system, app->stateFile.c_str());
  return keepPasswordChange(system, &app->password) && ok;
}

// PAPPL saves its state (new jobs among it) only when its main loop wakes,
// which an idle server does every 30 seconds: a crash lost the jobs queued
// since, and left their documents in the spool.  This timer wakes it every
// kStateSeconds.  Each call tells the stall watch that the main loop runs.
constexpr int kStateSeconds = 2;

bool state_tick(pappl_system_t* system, void* data) {
  AppData* app = static_cast<AppData*>(data);
  stallWatchTick(system, app->watchdogSeconds);
  // Memory freed by ended connections and jobs goes back to the system:
  // glibc returns only the top of its heap by itself, and hundreds of idle
  // connections, once closed, left their buffers scattered below it.
  malloc_trim(0);
  return true;
}

// The status watches' findings reach PAPPL from the main loop, once a second.
bool status_tick(pappl_system_t* system, void*) {
  publishPrinterStatus(system);
  return true;
}

bool make_dir(const std::string& path) {
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

pappl_system_t* systemCallback(const char* baseName, int numOptions, cups_option_t* options,
                               std::vector<pappl_pr_driver_t>& drivers) {
  ServerSettings s = serverSettings(baseName, numOptions, options);
  if (!s.error.empty()) {
    std::fprintf(stderr, "%s: %s\n", baseName, s.error.c_str());
    return nullptr;
  }
  std::string stateDir = s.stateFile.substr(0, s.stateFile.rfind('/'));
  if (!stateDir.empty() && !make_dir(stateDir)) {
    std::fprintf(stderr, "%s: cannot make %s: %s\n", baseName, stateDir.c_str(), strerror(errno));
    return nullptr;
  }
  if (!make_dir(s.spoolDirectory)) {
    std::fprintf(stderr, "%s: cannot make %s: %s\n", baseName, s.spoolDirectory.c_str(), strerror(errno));
    return nullptr;
  }
  drawIcons();
  pappl_system_t* system = papplSystemCreate(
      s.options, baseName, s.port, "_print,_universal", s.spoolDirectory.c_str(),
      s.logFile.empty() ? nullptr : s.logFile.c_str(), s.logLevel,
      s.authService.empty() ? nullptr : s.authService.c_str(), false);
  if (system == nullptr) return nullptr;
  if (!s.adminGroup.empty()) papplSystemSetAdminGroup(system, s.adminGroup.c_str());
  if (!s.serverHostname.empty()) papplSystemSetHostName(system, s.serverHostname.c_str());
  if (!s.controlSocket.empty()) papplSystemAddListeners(system, s.controlSocket.c_str());
  if (s.listenNetwork &&
      !papplSystemAddListeners(system, s.listenHostname.empty() ? nullptr : s.listenHostname.c_str())) {
    std::fprintf(stderr, "%s: cannot listen on %s\n", baseName,
                 s.listenHostname.empty() ? "any address" : s.listenHostname.c_str());
    papplSystemDelete(system);
    return nullptr;
  }
  addWebStrings(system);
  addDocumentFilters(system);

  // Printers come back from the state file, so the drivers come first.
  static AppData app;
  app.stateFile = s.stateFile;
  app.watchdogSeconds = s.watchdogSeconds;
  papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(),
                               autoaddCallback, nullptr, driverCallback, nullptr);
  // A first start (no state yet) adds the USB printers that are plugged in.
  if (!papplSystemLoadState(system, app.stateFile.c_str())) addUsbPrinters(system);
  if (s.options & PAPPL_SOPTIONS_WEB_SECURITY) {
    app.password.path = app.stateFile + ".password";
    applyPasswordFile(system, &app.password);
    // Without a callback PAPPL lets any client on this machine change
    // printers over IPP; with it, IPP and the web pages both need the
    // administrator password (a PAM service, when configured, decides instead).
    if (s.authService.empty()) papplSystemSetAuthCallback(system, "Basic", adminAuthCallback, nullptr);
  }
  papplSystemSetMaxProcessingJobs(system, s.jobsAtOnce);
  papplSystemSetSaveCallback(system, save_state, &app);
  papplSystemAddTimerCallback(system, 0, kStateSeconds, state_tick, &app);
  WatchIntervals intervals;
  intervals.activeSeconds = s.statusSeconds;
  intervals.idleSeconds = s.idleStatusSeconds;
  intervals.silentSeconds = std::max(s.idleStatusSeconds, 120);
  setWatchIntervals(intervals);
  papplSystemAddTimerCallback(system, 0, 1, status_tick, nullptr);
  return system;
}

pappl_system_t* listingSystem(const char* baseName) {
  return papplSystemCreate(PAPPL_SOPTIONS_NONE, baseName, 0, nullptr, papplGetTempDir(), "-",
                           PAPPL_LOGLEVEL_ERROR, nullptr, false);
}

}  // namespace tpa
