// The job monitor's call points: the status thread of the PostScript road
// and the keep-alive thread of the colour road.
//
// The monitor threads themselves (USB status reads, SNMP queries) are not
// built yet.  Until they are, these functions do the least that is sound:
// no thread is started (its id stays 0, as after a failed start), the job
// is copied unmonitored, and each says so on standard error.  Nothing here
// claims that a printer is being watched.
#pragma once

#include <cstddef>

namespace jw {

// Record handed to the status thread; it lives until the process ends.
struct cancel_query_arg {
  char uri[512];
  int jobId;
  char owner[512];
};

// Device URI of the queue.  For now: the DEVICE_URI that CUPS gives every
// filter (at most 255 characters), empty when unset.
void FindDeviceUri(const char* queueName, char* uri, size_t uriSize);

// Starts the status thread.  Not available yet: reports that and leaves
// the thread id at 0.
void Printer_cancle_query_tread(cancel_query_arg* arg);

// Starts the keep-alive thread.  Not available yet: reports that and
// leaves the thread id at 0.
void CreateDammyThread(const char* const* argv);

// Stops and joins the keep-alive thread (finds none while it is not built).
void pthread_dammy_join();

}  // namespace jw
