// The USB side of the monitor: the printer's device found by the serial
// number in the device URI, and its status block read by a vendor control
// transfer.  The device is opened beside the CUPS USB backend; no
// interface is claimed.
#pragma once

#include <cstddef>
#include <cstdint>

#include <libusb.h>

namespace jw {

constexpr size_t kUsbStatusSize = 1024;
constexpr size_t kUsbSerialSize = 128;

// How well a device's serial-number string names the printer of a URI,
// weakest first.  The serial is the first `length` bytes read (cut at
// kUsbSerialSize - 1 and at a NUL); a failed read (length < 0) matches
// nothing.  A serial that reads back empty occurs in every URI, so such a
// printer is watched whatever its URI, unless a better match is present.
enum class SerialMatch {
  kNone,
  kEmpty,  // the serial reads back empty
  kInUri,  // the serial text occurs somewhere in the URI
  kExact,  // the serial is the whole value of the URI's "serial=" field
};
SerialMatch serial_match(const unsigned char* serial, int length, const char* uri);

// Opens the device whose serial-number text best matches the URI (the
// first in libusb's list order among equals).  The caller owns the handle
// and the libusb default context (UsbPrinter releases both); null when no
// device matches, and the context is then already released.
libusb_device_handle* SenddummyCmdToUsb(const char* uri);

// Reads the status block: 1 when the transfer brought data (*count bytes),
// else 0 with *count = 0 and the buffer as the caller left it.
int QueryUsbStatus(libusb_device_handle* handle, uint8_t* buffer, int length, int* count);

// An open printer: closes the handle and ends the libusb default context.
class UsbPrinter {
 public:
  explicit UsbPrinter(libusb_device_handle* handle) : handle_(handle) {}
  ~UsbPrinter();
  UsbPrinter(const UsbPrinter&) = delete;
  UsbPrinter& operator=(const UsbPrinter&) = delete;
  libusb_device_handle* get() const { return handle_; }

 private:
  libusb_device_handle* handle_;
};

}  // namespace jw
