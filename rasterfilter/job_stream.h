// What the printer receives before the first page and after the last one.
#pragma once

#include <cstddef>
#include <ctime>

#include "model_classes.h"
#include "stream_records.h"

namespace rf {

// Writes the job start for the class: 1 when all of it was sent, 0 at the
// first failed write (reason in errorText) or for a class other than 1-3
// (nothing written, no message).
int Prnt_StartDoc(const JobStartRecord* record, ModelClass cls);

// Writes the job end; same results as Prnt_StartDoc.
int Prnt_EndDoc(const JobEndRecord* record, ModelClass cls);

// ---- What the job loop calls ----

// The job-level settings the job start record is made from.
struct JobStartInputs {
  const char* jobIdArg;     // argv[1]
  const char* title;        // argv[3]
  ModelClass cls;
  int duplex;               // Duplex entry
  int manualDuplex;         // ManualDuplex entry
  int supportManualDuplex;  // from the PPD
  int fineMode;             // FineMode entry
  int tonerMode;            // TonerMode entry
  int density;              // Density entry
};
JobStartRecord makeJobStartRecord(const JobStartInputs& in);
JobEndRecord makeJobEndRecord(int pageCount, int duplex);

// First page: starts the keep-alive timer (PLATFORM_C, PLATFORM_Z) and
// writes the job start, reporting a failure as "main() :: Start doc Fail ! ".
// Leaves outputBusy at 0 for the conversion that follows.  False when the
// job must end at once with exit status 1: a model of no class (reported
// by name, nothing written) or a printer stream that went away.
bool startJobStream(const JobStartRecord& record, ModelClass cls);

// After the last page and the replays: writes the job end, reporting a
// failure as "main() :: End doc Fail ! ".  False when the printer stream
// went away (exit status 1).
bool endJobStream(const JobEndRecord& record, ModelClass cls);

// "mm:hh:dd:MM:yyyy\r\n" of the local time into a buffer of 32 bytes.
void formatJobTime(char* buffer);
void formatJobTimeFrom(char* buffer, const std::tm& when);

// Where the job header's host name and clock come from; tests pin them.
// A null argument restores the system's gethostname / localtime.
using HostNameFn = int (*)(char* name, size_t length);
using LocalTimeFn = void (*)(std::tm* out);
void setJobStreamSources(HostNameFn hostName, LocalTimeFn localTime);

}  // namespace rf
