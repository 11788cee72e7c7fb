#include "status_callback.h"

#include <mutex>
#include <set>
#include <string>

#include "drivers.h"
#include "printer_status.h"
#include "ps_drivers.h"
#include "test_page.h"

namespace tpa {

namespace {

// One poll of a printer at a time.  PAPPL asks from every client thread;
// a second poll would find the device taken by the first and could not
// tell that from a printer that cannot be reached.  It leaves the answer
// to the poll already running.
class PollTurn {
 public:
  explicit PollTurn(int printerId) : id_(printerId) {
    std::lock_guard<std::mutex> lock(mutex());
    mine_ = polling().insert(id_).second;
  }
  ~PollTurn() {
    if (!mine_) return;
    std::lock_guard<std::mutex> lock(mutex());
    polling().erase(id_);
  }
  PollTurn(const PollTurn&) = delete;
  PollTurn& operator=(const PollTurn&) = delete;
  bool mine() const { return mine_; }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::set<int>& polling() {
    static std::set<int> ids;
    return ids;
  }
  int id_;
  bool mine_ = false;
};

}  // namespace

void setStatusCallbacks(pappl_pr_driver_data_t* data, const char* deviceUri) {
  data->status_cb = statusCallback;
  data->testpage_cb = testPageCallback;
  // No Tesvel printer has a light, a display or a sound to give.
  data->identify_cb = nullptr;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_NONE;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_NONE;
  data->has_supplies = connectionOf(deviceUri) == Connection::kNetwork;
}

bool statusCallback(pappl_printer_t* printer) {
  Connection c = connectionOf(papplPrinterGetDeviceURI(printer));
  if (c == Connection::kNone) return true;
  // PAPPL also asks while it loads the printers, before the server runs: a
  // network printer that does not answer would hold the start for the
  // connection's 30 seconds.  Its status comes with the first client.
  if (c == Connection::kNetwork && !papplSystemIsRunning(papplPrinterGetSystem(printer))) return true;
  PollTurn turn(papplPrinterGetID(printer));
  if (!turn.mine()) return true;

  // papplPrinterOpenDevice is PAPPL's device lock: it gives the device only
  // while no job has it, and a job waits for it to be closed again.
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) {
    // A job has the printer (it reports through the job), or the printer
    // cannot be reached at all: unplugged, switched off, gone from the
    // network.
    if (papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING) {
      ReasonUpdate u = reasonUpdate(c, false, PAPPL_PREASON_NONE);
      papplPrinterSetReasons(printer, u.add, u.remove);
    }
    return true;
  }
  pappl_preason_t fromDevice = papplDeviceGetStatus(device);
  pappl_supply_t raw[PAPPL_MAX_SUPPLY];
  int rawCount = c == Connection::kNetwork ? papplDeviceGetSupplies(device, PAPPL_MAX_SUPPLY, raw) : 0;
  papplPrinterCloseDevice(printer);

  ReasonUpdate u = reasonUpdate(c, true, fromDevice);
  papplPrinterSetReasons(printer, u.add, u.remove);
  if (c == Connection::kNetwork) {
    pappl_supply_t known[PAPPL_MAX_SUPPLY];
    papplPrinterSetSupplies(printer, knownSupplies(raw, rawCount, known), known);
  }
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
