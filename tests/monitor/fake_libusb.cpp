// A stand-in for libusb-1.0 with the calls the monitor makes, for tests
// that have no USB printer.  The tests preload it into jobwrapper
// (LD_PRELOAD) or link it in place of libusb.
//
//   FAKE_USB_DEVICES  the devices in list order, "index:serial" separated
//                     by ",": index is the descriptor's iSerialNumber (0 =
//                     no serial string), serial the text it reads back
//   FAKE_USB_STATUS   a file holding the printer's status block; a missing
//                     file makes every control transfer time out
//   FAKE_USB_LOG      a file that gets one line per call, for the test to
//                     check: "open N", "close N", "transfer N 193 0 0 0
//                     1024 2000" (device, bmRequestType, bRequest, wValue,
//                     wIndex, wLength, timeout), "init", "exit"
#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct libusb_device {
  int number;  // position in the list, from 0
  uint8_t serialIndex;
  std::string serial;
};

struct libusb_device_handle {
  libusb_device* device;
};

namespace {

std::vector<libusb_device*>* g_devices = nullptr;

void log_line(const std::string& line) {
  const char* path = getenv("FAKE_USB_LOG");
  if (path == nullptr) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string text = line + "\n";
  ssize_t w = write(fd, text.data(), text.size());
  (void)w;
  close(fd);
}

// Each libusb_init reads the devices afresh (in-process tests change them
// between threads); no handle outlives the libusb_exit before it.
void load_devices() {
  if (g_devices != nullptr) {
    for (libusb_device* d : *g_devices) delete d;
    delete g_devices;
  }
  g_devices = new std::vector<libusb_device*>;
  const char* spec = getenv("FAKE_USB_DEVICES");
  std::string all = spec != nullptr ? spec : "";
  for (size_t pos = 0; pos < all.size();) {
    size_t end = all.find(',', pos);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(pos, end - pos);
    size_t colon = item.find(':');
    auto* d = new libusb_device;
    d->number = static_cast<int>(g_devices->size());
    d->serialIndex = static_cast<uint8_t>(atoi(item.substr(0, colon).c_str()));
    d->serial = colon == std::string::npos ? "" : item.substr(colon + 1);
    g_devices->push_back(d);
    pos = end + 1;
  }
}

}  // namespace

extern "C" {

int libusb_init(libusb_context** ctx) {
  if (ctx != nullptr) *ctx = nullptr;
  load_devices();
  log_line("init");
  return 0;
}

void libusb_exit(libusb_context*) { log_line("exit"); }

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
  size_t n = g_devices != nullptr ? g_devices->size() : 0;
  auto** out = static_cast<libusb_device**>(calloc(n + 1, sizeof(libusb_device*)));
  for (size_t i = 0; i < n; ++i) out[i] = (*g_devices)[i];
  *list = out;
  return static_cast<ssize_t>(n);
}

void libusb_free_device_list(libusb_device** list, int) { free(list); }

int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
  memset(desc, 0, sizeof *desc);
  desc->bLength = LIBUSB_DT_DEVICE_SIZE;
  desc->bDescriptorType = LIBUSB_DT_DEVICE;
  desc->bDeviceClass = LIBUSB_CLASS_PER_INTERFACE;
  desc->idVendor = 0x1234;
  desc->idProduct = 0x5678;
  desc->iSerialNumber = dev->serialIndex;
  desc->bNumConfigurations = 1;
  return 0;
}

int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
  *handle = new libusb_device_handle{dev};
  log_line("open " + std::to_string(dev->number));
  return 0;
}

void libusb_close(libusb_device_handle* handle) {
  if (handle == nullptr) return;
  log_line("close " + std::to_string(handle->device->number));
  delete handle;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                       unsigned char* data, int length) {
  if (index == 0 || index != handle->device->serialIndex) return LIBUSB_ERROR_INVALID_PARAM;
  if (length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  const std::string& s = handle->device->serial;
  size_t n = s.size() < static_cast<size_t>(length) - 1 ? s.size() : static_cast<size_t>(length) - 1;
  memcpy(data, s.data(), n);
  data[n] = '\0';
  return static_cast<int>(n);
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int timeout) {
  char line[128];
  snprintf(line, sizeof line, "transfer %d %u %u %u %u %u %u", handle->device->number,
           requestType, request, value, index, length, timeout);
  log_line(line);
  const char* path = getenv("FAKE_USB_STATUS");
  int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) return LIBUSB_ERROR_TIMEOUT;
  ssize_t n = read(fd, data, length);
  close(fd);
  return n > 0 ? static_cast<int>(n) : LIBUSB_ERROR_TIMEOUT;
}

}  // extern "C"
