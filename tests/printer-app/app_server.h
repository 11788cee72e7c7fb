// A private Printer Application server for tests: this build's
// tesvel-printer-app on a free loopback port, with its state, spool and
// control socket in a temporary directory (never the system's), printers
// on file: devices, stopped when the object goes, even after a failure.
// Jobs go in through ipptool, as any IPP client would send them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include <cups/cups.h>

#include "test_support.h"

namespace testing_support {

struct AppJob {
  int id = 0;
  std::string state;    // "completed", "aborted", "canceled", ... ("" when ipptool failed)
  std::string message;  // job-state-message
  std::string stream;   // what the printer received
  std::string ipptool;  // ipptool's report, for failure messages
};

class AppServer {
 public:
  AppServer();
  explicit AppServer(const std::vector<std::string>& serverOptions);  // "name=value", each after -o
  ~AppServer();  // stop()
  AppServer(const AppServer&) = delete;
  AppServer& operator=(const AppServer&) = delete;

  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string printerUri(const std::string& printer) const;
  const std::string& dir() const { return dir_.path(); }

  // The application's own command line, run against this server.
  ProcessResult app(const std::vector<std::string>& args) const;
  // tesvel-printer-app add: the printer writes each job to a file of its own.
  bool addPrinter(const std::string& name, const std::string& driver, std::string* why);

  // Print-Job with ipptool: `attrs` are ipptool ATTR lines of the job
  // group ("ATTR keyword sides two-sided-long-edge").  Waits until the job
  // has ended; `stream` is then the printer's file for it.
  AppJob print(const std::string& printer, const std::string& file, const std::string& format,
               const std::vector<std::string>& attrs = {}, const std::string& title = "job",
               int seconds = 120) const;

  // Runs ipptool test files (or CUPS's own, by name) against a printer.
  ProcessResult ipptool(const std::string& printer, const std::vector<std::string>& options,
                        const std::vector<std::string>& testFiles) const;

  // Print-Job without waiting: the new job's id (0 when refused; `refusal`
  // then has ipptool's report).
  int submit(const std::string& printer, const std::string& file, const std::string& format,
             std::string* refusal = nullptr) const;
  // The job's state and message now (no stream).
  AppJob status(const std::string& printer, int id) const;
  // Polls the job until it has ended (or `seconds` have passed, or the
  // server has gone); its state then.
  AppJob waitForEnd(const std::string& printer, int id, int seconds) const;

  // One attribute of the printer as ippAttributeString gives it ("" when
  // absent), asked over a connection of its own that gives up after
  // `seconds`; `answered` says whether an answer came.
  std::string printerAttribute(const std::string& printer, const std::string& name, int seconds = 30,
                               bool* answered = nullptr) const;
  // Polls the printer's attribute until it reads `expected` or `seconds`
  // pass: what it read last.
  std::string waitForPrinterAttribute(const std::string& printer, const std::string& name,
                                      const std::string& expected, int seconds = deadlineSeconds(20)) const;
  // One attribute of a job, the same way.
  std::string jobAttribute(const std::string& printer, int id, const char* name) const;
  // A request to the printer: `op` with its printer-uri and user name, then
  // what `fill` adds, sent over a connection of its own that gives up after
  // `seconds`.  The answer (nullptr when none came), for the caller to delete.
  ipp_t* ask(const std::string& printer, ipp_op_t op, const std::function<void(ipp_t*)>& fill = {},
             int seconds = 30) const;
  // The administrator password the server made at its first start.
  std::string adminPassword() const;

  std::string log() const;
  // Stops the server: SIGTERM, a bounded wait, then SIGKILL.
  void stop();
  // Starts it again on the same port and directory (after stop()), with
  // these "-o" server options added.
  bool restart(const std::vector<std::string>& serverOptions = {});
  // Waits for the server to end by itself: its exit status, or -1 when it
  // is still running after `seconds` (or ended by a signal).
  int waitForExit(int seconds);
  pid_t pid() const { return pid_; }
  // False once the server has ended, by itself or by a crash.
  bool running() const;
  // What AddressSanitizer and UndefinedBehaviorSanitizer reported in the
  // server, up to now (all of it once the server has stopped): each report
  // with its stacks, without the shadow-memory dump.
  std::string sanitizerReports() const;
  // Where a printer's job files land.
  std::string outDir(const std::string& printer) const;
  // Processes whose parent is the server (filters, Ghostscript).
  std::vector<pid_t> children() const;
  // Entries left in the spool directory.
  std::vector<std::string> spoolFiles() const;

 private:
  void start(const std::vector<std::string>& serverOptions = {});

  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Where two printer streams differ, item by item as the inspector lists
// them, leaving out what differs between two runs of the same job: the job
// header's clock fields and the keep-alive filler.  Empty when they agree.
std::string streamDifference(const std::string& a, const std::string& b);

// The fields of /proc/PID/stat after the command name, from the state on
// ("" when the process is gone).
std::string procStat(pid_t pid);

// An IPP client connection to a server on 127.0.0.1 (nullptr when none).
http_t* connectLoopback(int port);

// A TCP socket bound to a free port on 127.0.0.1 (`port`; 0 when none).
int loopbackSocket(int* port);

// One HTTP GET with optional Basic credentials: the status (0 when none came).
int httpGetStatus(int port, const std::string& path, const std::string& user, const std::string& password);

// A printer on a loopback port that takes the connection and never reads.
class DeafPrinter {
 public:
  DeafPrinter();
  ~DeafPrinter();
  DeafPrinter(const DeafPrinter&) = delete;
  DeafPrinter& operator=(const DeafPrinter&) = delete;
  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }

 private:
  int port_ = 0;
  int listener_ = -1;  // connections wait in its backlog, unread
};

// Grey noise over three pages: its printer stream is megabytes long.
extern const char kNoisePostScript[];

// A PDF rendered by Ghostscript to 600-dpi 8-bit grey PWG raster (or,
// with the device "urf", Apple raster), as a client that sends raster
// would send it.
std::string pwgRaster(const std::string& pdf, const std::string& device = "pwgraster");

}  // namespace testing_support
