// A private cupsd for tests that need the real scheduler: its own
// configuration, spool and log under a temporary directory, a Unix socket
// as its only listener, FileDevice on, stopped (and its jobs' filters with
// it) when the object goes.  CUPS clients (lp, lpadmin, lpstat, cancel) are
// pointed at it with -h <socket>.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

struct CupsdSetup {
  // Programs copied into the private ServerBin/filter beside links to the
  // system's CUPS filters.  Filters run as lp: copies are mode 0755.
  std::vector<std::string> filters;
  // Programs copied into ServerBin/backend with mode 0700, which makes
  // cupsd run them as root (a capture backend, for instance).
  std::vector<std::string> backends;
  // Backends of the system linked in by name ("usb", "socket", ...).
  std::vector<std::string> systemBackends;
  // When set, the scheduler's model directory: `lpinfo -m` lists the PPDs
  // found there (beside the system's /usr/share/ppd).
  std::string modelDir;
  int startSeconds = 15;  // how long the socket may take to appear
};

// Job states as IPP numbers them.
enum class JobState { Unknown = 0, Pending = 3, Held = 4, Processing = 5, Stopped = 6,
                      Canceled = 7, Aborted = 8, Completed = 9 };
const char* jobStateName(JobState state);

class PrivateCupsd {
 public:
  explicit PrivateCupsd(const CupsdSetup& setup = {});
  ~PrivateCupsd();  // SIGTERM, a bounded wait, then SIGKILL
  PrivateCupsd(const PrivateCupsd&) = delete;
  PrivateCupsd& operator=(const PrivateCupsd&) = delete;

  bool ready() const;
  const std::string& socket() const { return socket_; }
  // A world-writable directory for file: devices and capture backends.
  std::string outFile(const std::string& name) const;
  // The scheduler's TempDir: filters get it as TMPDIR.
  std::string tempDir() const;
  // Regular files left in tempDir() (cupsd's own sockets and dirs excluded).
  std::vector<std::string> tempFiles() const;

  // A CUPS client program (argv[0] a path) run against this scheduler.
  ProcessResult run(std::vector<std::string> argv) const;

  // lpadmin -p NAME -E -v URI -P PPD, with failed jobs aborted rather than
  // stopping the queue, plus any further lpadmin arguments.
  ProcessResult addPrinter(const std::string& name, const std::string& uri,
                           const std::string& ppd,
                           const std::vector<std::string>& extra = {}) const;
  // A driverless queue: lpadmin -p NAME -E -v URI -m everywhere.
  ProcessResult addDriverlessQueue(const std::string& name, const std::string& uri) const;

  // lp -d QUEUE [-o ...] FILE; the job id, or 0 when lp failed (`why` then
  // holds its messages).  `options` are whole lp arguments ("-n", "2",
  // "-o", "collate=true").
  int submit(const std::string& queue, const std::string& file,
             const std::vector<std::string>& options = {}, std::string* why = nullptr) const;

  JobState jobState(int jobId) const;
  // Polls until the job has ended (stopped, canceled, aborted or
  // completed) or `seconds` have passed; returns the last state seen.
  JobState waitForJob(int jobId, int seconds) const;
  // Polls the error log for `text` within the job's lines.
  bool waitForLog(int jobId, const std::string& text, int seconds) const;

  std::string errorLog() const;
  // The page log, once cupsd has written something there (it does as a job
  // ends) or after `seconds`.
  std::string pageLog(int seconds = 5) const;
  // What cupsd itself printed (configuration errors before the log opens).
  std::string daemonOutput() const;
  // The job's own lines of the error log (environment dumps left out), for
  // failure messages and for looking for sanitizer reports.
  std::string jobLog(int jobId) const;

 private:
  TempDir root_;  // outlives the daemon: it is stopped first
  std::string socket_;
  pid_t pid_ = -1;
};

}  // namespace testing_support
