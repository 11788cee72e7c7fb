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

// True when the first `length` bytes of a serial-number string (cut at
// kUsbSerialSize - 1 and at a NUL) occur in the URI.  An empty serial, or a
// failed read (length <= 0), matches nothing.
bool serial_matches_uri(const unsigned char* serial, int length, const char* uri);

// Opens the first device (in libusb's list order) whose serial-number text
// occurs in the URI.  The caller owns the handle and the libusb default
// context (UsbPrinter releases both); null when no device matches, and the
// context is then already released.
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
