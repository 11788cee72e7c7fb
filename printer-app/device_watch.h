// A network printer that stops reading must not hold a cancelled job.
// PAPPL writes to socket devices with blocking writes that it retries on
// every interruption, so a write to a printer that never reads again does
// not return.  While a job writes to such a device, a watcher thread looks
// at the job's cancel flag; once the job is cancelled and the write has
// made no way for kStallMs, the watcher shuts the connection down, the
// write fails and the job ends.  A printer that keeps reading gets the
// whole end of the job as before; other devices are not watched.
#pragma once

#include <pappl/pappl.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tpa {

class DeviceWatch {
 public:
  DeviceWatch(pappl_job_t* job, pappl_device_t* device);
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

  // Around each write to the device.
  void writeStarts();
  void writeEnds();
  // True once the watcher has given up on the printer.
  bool gaveUp();

  static constexpr long kStallMs = 2000;

 private:
  void run();

  pappl_job_t* job_;
  int fd_ = -1;  // the connection to the printer; -1: not a watched device
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool gaveUp_ = false;
  long writeSince_ = -1;   // when the current write started (ms), -1: none
  long cancelSince_ = -1;  // when the cancel was first seen (ms)
  std::thread thread_;
};

// The descriptor of a network device's connection, or -1 (other devices,
// or one that does not check out as the printer's connection).
int networkDeviceSocket(const char* deviceUri, pappl_device_t* device);

}  // namespace tpa
