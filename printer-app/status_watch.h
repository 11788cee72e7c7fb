// The printer's state, watched in the background: a thread per printer
// asks the printer (the Printer MIB over SNMP for a network printer, the
// IEEE 1284 port status for a USB one) every few seconds while a job runs
// or something is wrong, less often while all is well, and the server's
// main loop publishes what it learnt.  Clients get the last known state at
// once; no client thread ever waits on a printer.
#pragma once

#include <pappl/pappl.h>

namespace tpa {

struct WatchIntervals {
  int activeSeconds = 2;   // while a job runs or a reason is set
  int idleSeconds = 30;    // while all is well
  int silentSeconds = 120;  // a network printer that does not answer SNMP
};

// From the server's options, before any printer is watched.
void setWatchIntervals(const WatchIntervals& intervals);

// The main loop's tick (every second): starts a watch for each new printer
// and publishes what the watches learnt as printer-state-reasons,
// printer-state-message, supplies and the running job's printer-stopped.
void publishPrinterStatus(pappl_system_t* system);

// The driver's delete callback: ends the printer's watch before PAPPL
// frees the printer.
void endPrinterWatch(pappl_printer_t* printer, pappl_pr_driver_data_t* data);

// Held by a job while it has the printer's device: the USB port status is
// then asked through the job's device, and the job is told when the
// printer stops.  The device stays valid until the claim ends.
class JobDeviceClaim {
 public:
  JobDeviceClaim(pappl_job_t* job, pappl_device_t* device);
  ~JobDeviceClaim();
  JobDeviceClaim(const JobDeviceClaim&) = delete;
  JobDeviceClaim& operator=(const JobDeviceClaim&) = delete;

 private:
  int printerId_;
};

}  // namespace tpa
