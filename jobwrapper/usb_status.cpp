#include "usb_status.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace jw {

namespace {

// Vendor request, device to host, recipient interface: the printer's
// status block.
constexpr uint8_t kStatusRequestType = 0xC1;
constexpr uint8_t kStatusRequest = 0x00;
constexpr unsigned kStatusTimeoutMs = 2000;

// Reads the device's serial string; a device without one (index 0) never
// matches.
SerialMatch device_serial_match(libusb_device_handle* handle, uint8_t serialIndex,
                                const char* uri) {
  if (serialIndex == 0) return SerialMatch::kNone;
  unsigned char serial[kUsbSerialSize] = {};
  int n = libusb_get_string_descriptor_ascii(handle, serialIndex, serial, sizeof serial);
  return serial_match(serial, n, uri);
}

// The value of the URI's "serial=" field: up to the next "&" or the end.
std::string uri_serial_field(const char* uri) {
  static const char kField[] = "serial=";
  for (const char* p = strstr(uri, kField); p != nullptr; p = strstr(p + 1, kField)) {
    if (p == uri || (p[-1] != '?' && p[-1] != '&')) continue;
    const char* value = p + sizeof kField - 1;
    return std::string(value, strcspn(value, "&"));
  }
  return std::string();
}

}  // namespace

SerialMatch serial_match(const unsigned char* serial, int length, const char* uri) {
  if (serial == nullptr || uri == nullptr || length < 0) return SerialMatch::kNone;
  const size_t n = static_cast<size_t>(length) < kUsbSerialSize ? static_cast<size_t>(length)
                                                                 : kUsbSerialSize - 1;
  const std::string text(reinterpret_cast<const char*>(serial),
                         strnlen(reinterpret_cast<const char*>(serial), n));
  if (text.empty()) return SerialMatch::kEmpty;
  if (strstr(uri, text.c_str()) == nullptr) return SerialMatch::kNone;
  return text == uri_serial_field(uri) ? SerialMatch::kExact : SerialMatch::kInUri;
}

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
  // The best match so far stays open; an exact one ends the search.
  libusb_device_handle* found = nullptr;
  SerialMatch best = SerialMatch::kNone;
  for (ssize_t i = 0; i < count && best != SerialMatch::kExact && uri != nullptr; ++i) {
    libusb_device_descriptor desc;
    r = libusb_get_device_descriptor(list[i], &desc);
    if (r != 0) {
      fprintf(stderr, "gstopcl::SenddummyCmdToUsb: libusb_get_device_descriptor=%d\n", r);
      continue;
    }
    libusb_device_handle* handle = nullptr;
    if (libusb_open(list[i], &handle) != 0 || handle == nullptr) continue;
    SerialMatch match = device_serial_match(handle, desc.iSerialNumber, uri);
    if (match > best) {
      if (found != nullptr) libusb_close(found);
      found = handle;
      best = match;
    } else {
      libusb_close(handle);
    }
  }
  // An open handle keeps its own reference to the device.
  libusb_free_device_list(list, 1);
  if (found == nullptr) {
    libusb_exit(nullptr);
    return nullptr;
  }
  fprintf(stderr, "libusb find device handle\n");
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
