#include "status_callback.h"

#include <string>

#include "drivers.h"
#include "printer_status.h"
#include "status_watch.h"
#include "ps_drivers.h"
#include "test_page.h"

namespace tpa {

void setStatusCallbacks(pappl_pr_driver_data_t* data, const char* deviceUri) {
  data->status_cb = statusCallback;
  data->delete_cb = endPrinterWatch;
  data->testpage_cb = testPageCallback;
  // No Tesvel printer has a light, a display or a sound to give.
  data->identify_cb = nullptr;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_NONE;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_NONE;
  data->has_supplies = connectionOf(deviceUri) == Connection::kNetwork;
}

bool statusCallback(pappl_printer_t*) {
  // The status watch asks the printer in the background and publishes
  // what it learns; PAPPL calls this from client threads, which get the
  // last known state at once.
  return true;
}

}  // namespace tpa

namespace tpa {

namespace {

struct UsbScan {
  pappl_system_t* system;
  int added = 0;
};

bool add_usb_printer(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* data) {
  UsbScan* scan = static_cast<UsbScan*>(data);
  const char* driver = autoaddCallback(deviceInfo, deviceUri, deviceId, nullptr);
  if (driver == nullptr) return false;  // not ours: look further
  if (papplSystemFindPrinter(scan->system, nullptr, 0, deviceUri) != nullptr) return false;
  // The model names the printer ("Tesvel TZ3010 Series"); a second one of
  // the same model gets a number.
  const DriverModel* model = findDriver(driver);
  const PsModel* ps = findPsModel(driver);
  const std::string base = model ? model->description : ps ? ps->description : driver;
  std::string name = base;
  for (int n = 2; n < 10; ++n) {
    if (papplPrinterCreate(scan->system, 0, name.c_str(), driver, deviceId, deviceUri) != nullptr) {
      papplLog(scan->system, PAPPL_LOGLEVEL_INFO, "Added the USB printer \"%s\" (%s).", name.c_str(), deviceUri);
      ++scan->added;
      break;
    }
    name = base + " " + std::to_string(n);
  }
  return false;
}

void list_error(const char* message, void* data) {
  papplLog(static_cast<pappl_system_t*>(data), PAPPL_LOGLEVEL_WARN, "Looking for USB printers: %s", message);
}

}  // namespace

int addUsbPrinters(pappl_system_t* system) {
  UsbScan scan{system};
  papplDeviceList(PAPPL_DEVTYPE_USB, add_usb_printer, &scan, list_error, system);
  return scan.added;
}

}  // namespace tpa
