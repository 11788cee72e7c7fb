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

// "mm:hh:dd:MM:yyyy\r\n" of the local time into a buffer of 32 bytes.
void formatJobTime(char* buffer);
void formatJobTimeFrom(char* buffer, const std::tm& when);

// Where the job header's host name and clock come from; tests pin them.
// A null argument restores the system's gethostname / localtime.
using HostNameFn = int (*)(char* name, size_t length);
using LocalTimeFn = void (*)(std::tm* out);
void setJobStreamSources(HostNameFn hostName, LocalTimeFn localTime);

}  // namespace rf
