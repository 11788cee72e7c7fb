// The server's settings from its "-o name=value" options, with the
// defaults of a print server that answers only its own machine.
#pragma once

#include <string>

#include <cups/cups.h>
#include <pappl/pappl.h>

namespace tpa {

struct ServerSettings {
  std::string stateFile;       // printers, defaults and the admin password
  std::string spoolDirectory;  // job files
  std::string logFile;         // empty: PAPPL's default
  pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_WARN;
  std::string listenHostname;  // "localhost" unless the user opts in; empty: every interface
  bool listenNetwork = true;   // false for a private server (domain socket only)
  std::string serverHostname;  // empty: PAPPL's default
  int port = 0;                // 0: the first free port from 8000
  std::string adminGroup;
  std::string authService;
  std::string controlSocket;   // an extra domain socket, for a server run as a service user
  int watchdogSeconds = 60;    // a main loop stopped this long ends the server; 0: never
  int jobsAtOnce = 0;          // jobs rendering at once on all printers; 0: no limit
  int statusSeconds = 2;       // the printer asked this often while a job runs or a reason is set
  int idleStatusSeconds = 30;  // and this often while all is well
  pappl_soptions_t options = PAPPL_SOPTIONS_NONE;
  std::string error;           // set when an option is not valid
};

// `baseName` is the program's name ("tesvel-printer-app").  The directory
// of a private instance (TESVEL_PRINTER_APP_DIR) holds state, spool and
// socket; otherwise root gets the system's directories and a user their
// own configuration directory.
ServerSettings serverSettings(const char* baseName, int numOptions, cups_option_t* options);

// How many jobs a machine renders at once unless told: each is a
// Ghostscript and a filter (60 to 80 MB together) and mostly computes, so
// two a core, no more than a quarter of the memory holds, and at least one.
int defaultJobsAtOnce(long cores, long memoryMegabytes);

}  // namespace tpa
