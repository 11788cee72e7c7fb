// The job monitor: the status thread of the PostScript road, which ends
// the job at a page boundary when the printer reports it cancelled on its
// panel, and the keep-alive thread of the colour road, which keeps a
// network printer from dropping the connection during a long conversion.
// Both talk to the printer directly: USB (usb_status.h) or SNMP
// (snmp_status.h), chosen by the device URI.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_uri.h"

namespace jw {

// Record handed to the status thread; it lives until the process ends.
struct cancel_query_arg {
  char uri[512];    // the queue's device URI (at most kDeviceUriMax characters)
  int jobId;        // carried, not used by the thread
  char owner[512];  // the host name, as in the PJL owner line
};

// The printer's job state in a status reply: the state byte 60 bytes
// before the reply's end, the owner text from 56 bytes before its end.
// A reply shorter than 60 bytes (or none: count 0 or below) carries no
// state and is no cancel.
bool net_status_cancelled(const uint8_t* reply, int count, const char* owner);

// The USB status block says "cancelled" in its first byte (0x06 or 0x86).
bool usb_status_cancelled(const uint8_t* block, int count);

// Starts the status thread.  On failure the thread id stays 0 and the job
// goes on unmonitored.  A record without a device URI starts nothing.
void Printer_cancle_query_tread(cancel_query_arg* arg);

// Ends the status thread when the job's copy is done and waits for it: it
// wakes from its pause or its wait for an SNMP reply at once, and a USB
// transfer in flight ends within its 2-second time-out.
void stop_status_thread();

// Starts the keep-alive thread for DEVICE_URI (or argv[0] when that holds
// a ":"); "argv error" and no thread when there is neither.
void CreateDammyThread(const char* const* argv);

// Stops the keep-alive thread and waits for it.
void pthread_dammy_join();

}  // namespace jw
