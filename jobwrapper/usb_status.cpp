#include "usb_status.h"

#include <cstdio>
#include <cstring>

namespace jw {

namespace {

// Vendor request, device to host, recipient interface: the printer's
// status block.
constexpr uint8_t kStatusRequestType = 0xC1;
constexpr uint8_t kStatusRequest = 0x00;
constexpr unsigned kStatusTimeoutMs = 2000;

// The device's serial text occurs in the URI.  A device without a serial
// string (index 0) never matches.
bool serial_in_uri(libusb_device_handle* handle, uint8_t serialIndex, const char* uri) {
  if (serialIndex == 0) return false;
  unsigned char serial[kUsbSerialSize] = {};
  int n = libusb_get_string_descriptor_ascii(handle, serialIndex, serial, sizeof serial);
  if (n < 0) return false;
  serial[static_cast<size_t>(n) < sizeof serial ? n : sizeof serial - 1] = '\0';
  return strstr(uri, reinterpret_cast<const char*>(serial)) != nullptr;
}

}  // namespace

libusb_device_handle* SenddummyCmdToUsb(const char* uri) {
  int r = libusb_init(nullptr);
  if (r != 0) {
    fprintf(stderr,
            "gstopcl::SenddummyCmdToUsb: Unable to initialize USB acc via libusb,libusb error %d\n",
            r);
    return nullptr;
  }
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(nullptr, &list);
  if (count < 1 || list == nullptr) {
    fprintf(stderr, "gstopcl::SenddummyCmdToUsb: get device list failed\n");
    if (list != nullptr) libusb_free_device_list(list, 1);
    libusb_exit(nullptr);
    return nullptr;
  }
  libusb_device_handle* found = nullptr;
  for (ssize_t i = 0; i < count && found == nullptr && uri != nullptr; ++i) {
    libusb_device_descriptor desc;
    r = libusb_get_device_descriptor(list[i], &desc);
    if (r != 0) {
      fprintf(stderr, "gstopcl::SenddummyCmdToUsb: libusb_get_device_descriptor=%d\n", r);
      continue;
    }
    libusb_device_handle* handle = nullptr;
    if (libusb_open(list[i], &handle) != 0 || handle == nullptr) continue;
    if (serial_in_uri(handle, desc.iSerialNumber, uri)) {
      fprintf(stderr, "libusb find device handle\n");
      found = handle;
    } else {
      libusb_close(handle);
    }
  }
  // An open handle keeps its own reference to the device.
  libusb_free_device_list(list, 1);
  if (found == nullptr) libusb_exit(nullptr);
  return found;
}

int QueryUsbStatus(libusb_device_handle* handle, uint8_t* buffer, int length, int* count) {
  *count = 0;
  if (handle == nullptr) return 0;
  int r = libusb_control_transfer(handle, kStatusRequestType, kStatusRequest, 0, 0, buffer,
                                  static_cast<uint16_t>(length), kStatusTimeoutMs);
  if (r > 0) {
    *count = r;
    fprintf(stderr, "\n");
    return 1;
  }
  fprintf(stderr, "libusb_control_transfer fail (code=%d)\n", r);
  return 0;
}

UsbPrinter::~UsbPrinter() {
  if (handle_ == nullptr) return;
  libusb_close(handle_);
  libusb_exit(nullptr);
}

}  // namespace jw
