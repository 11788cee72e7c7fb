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
//
// For the Printer Application (PAPPL's USB layer, preloaded into the
// server), each device is also a printer-class interface with a bulk
// endpoint each way, and two printer-class requests answer:
//   FAKE_USB_DEVICE_ID   the IEEE 1284 device ID (GET_DEVICE_ID); unset:
//                        the request goes to FAKE_USB_STATUS as before
//   FAKE_USB_PORT_STATUS a file holding the one-byte IEEE 1284 port status
//                        (GET_PORT_STATUS); missing: the request times out
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

// A control transfer's answer: the file the variable names, or a timeout
// when there is none.
int reply_from_file(const char* variable, unsigned char* data, uint16_t length) {
  const char* path = getenv(variable);
  int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) return LIBUSB_ERROR_TIMEOUT;
  ssize_t n = read(fd, data, length);
  close(fd);
  return n > 0 ? static_cast<int>(n) : LIBUSB_ERROR_TIMEOUT;
}

constexpr int kNotPrinterClass = -1000;

// GET_CONFIGURATION (the one configuration, 1), the printer class's
// GET_DEVICE_ID (a big-endian length that counts itself, then the ID) and
// GET_PORT_STATUS; kNotPrinterClass for anything else.
int printer_class_request(uint8_t requestType, uint8_t request, const std::string& deviceId,
                          unsigned char* data, uint16_t length) {
  if (requestType == 0x80 && request == 8 && length >= 1) {
    data[0] = 1;
    return 1;
  }
  if (requestType == 0xA1 && request == 0) {
    size_t n = deviceId.size() + 2 < length ? deviceId.size() + 2 : length;
    std::string reply = std::string(1, static_cast<char>((deviceId.size() + 2) >> 8)) +
                        static_cast<char>((deviceId.size() + 2) & 0xff) + deviceId;
    memcpy(data, reply.data(), n);
    return static_cast<int>(n);
  }
  if (requestType == 0xA1 && request == 1) return reply_from_file("FAKE_USB_PORT_STATUS", data, length);
  return kNotPrinterClass;
}

// One configuration, one interface: printer class, bidirectional, with a
// bulk OUT and a bulk IN endpoint.
const libusb_endpoint_descriptor kEndpoints[2] = {
    {LIBUSB_DT_ENDPOINT_SIZE, LIBUSB_DT_ENDPOINT, 0x01, LIBUSB_TRANSFER_TYPE_BULK, 512, 0, 0, 0, nullptr, 0},
    {LIBUSB_DT_ENDPOINT_SIZE, LIBUSB_DT_ENDPOINT, 0x82, LIBUSB_TRANSFER_TYPE_BULK, 512, 0, 0, 0, nullptr, 0}};
const libusb_interface_descriptor kAltSetting = {
    LIBUSB_DT_INTERFACE_SIZE, LIBUSB_DT_INTERFACE, 0, 0, 2, LIBUSB_CLASS_PRINTER, 1, 2, 0, kEndpoints, nullptr, 0};
const libusb_interface kInterface = {&kAltSetting, 1};

}  // namespace

extern "C" {

int libusb_get_config_descriptor(libusb_device*, uint8_t index, libusb_config_descriptor** config) {
  if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
  *config = new libusb_config_descriptor{LIBUSB_DT_CONFIG_SIZE, LIBUSB_DT_CONFIG, 0, 1, 1, 0, 0x80, 50,
                                         &kInterface, nullptr, 0};
  return 0;
}

void libusb_free_config_descriptor(libusb_config_descriptor* config) { delete config; }
int libusb_kernel_driver_active(libusb_device_handle*, int) { return 0; }
int libusb_detach_kernel_driver(libusb_device_handle*, int) { return 0; }
int libusb_set_configuration(libusb_device_handle*, int) { return 0; }
int libusb_claim_interface(libusb_device_handle*, int) { return 0; }
int libusb_release_interface(libusb_device_handle*, int) { return 0; }
int libusb_set_interface_alt_setting(libusb_device_handle*, int, int) { return 0; }
libusb_device* libusb_ref_device(libusb_device* dev) { return dev; }
void libusb_unref_device(libusb_device*) {}
const char* libusb_strerror(int code) { return code == LIBUSB_ERROR_TIMEOUT ? "Operation timed out" : "Error"; }

// What the printer is sent goes nowhere; it never has anything to say.
int libusb_bulk_transfer(libusb_device_handle*, unsigned char endpoint, unsigned char*, int length,
                         int* transferred, unsigned int) {
  // FAKE_USB_STALL_WITHOUT_PAPER: while the port status says paper empty
  // (0x20), the printer takes no data, as a real one does (a minute at most).
  unsigned char status = 0;
  for (int i = 0; i < 1200 && !(endpoint & 0x80) && getenv("FAKE_USB_STALL_WITHOUT_PAPER") != nullptr &&
                  reply_from_file("FAKE_USB_PORT_STATUS", &status, 1) == 1 && (status & 0x20);
       ++i)
    usleep(50000);
  *transferred = endpoint & 0x80 ? 0 : length;
  return endpoint & 0x80 ? LIBUSB_ERROR_TIMEOUT : 0;
}

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
  const char* deviceId = getenv("FAKE_USB_DEVICE_ID");
  if (deviceId != nullptr) {
    int answered = printer_class_request(requestType, request, deviceId, data, length);
    if (answered != kNotPrinterClass) return answered;
  }
  return reply_from_file("FAKE_USB_STATUS", data, length);
}

}  // extern "C"
