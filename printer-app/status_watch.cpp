#include "status_watch.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "printer_status.h"
#include "snmp_status.h"

namespace tpa {

namespace {

constexpr int kSnmpPort = 161;
constexpr int kSnmpTimeoutMs = 1500;

WatchIntervals g_intervals;

// The jobs that hold their printer's device, by printer ID.
struct JobEntry {
  pappl_job_t* job;
  pappl_device_t* device;
  bool stopped = false;  // the job has been told the printer stopped
};
std::mutex g_jobsMutex;
std::map<int, JobEntry> g_jobs;

bool job_running(int printerId) {
  std::lock_guard<std::mutex> lock(g_jobsMutex);
  return g_jobs.count(printerId) != 0;
}

// What one check of the printer found.
struct Observation {
  bool fresh = false;
  bool known = true;      // false: a job has the device but is not ours to ask through
  bool found = true;      // a network printer's address is known
  bool answered = true;   // a network printer answered SNMP
  bool reachable = true;  // a USB printer could be opened
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  int supplyCount = -1;  // -1: supplies not asked this time
  pappl_supply_t supplies[PAPPL_MAX_SUPPLY];
};

void no_device_error(const char*, void*) {}

bool host_known(const std::string& host) {
  http_addrlist_t* list = httpAddrGetList(host.c_str(), AF_UNSPEC, nullptr);
  httpAddrFreeList(list);
  return list != nullptr;
}

// What PAPPL's SNMP discovery or DNS-SD resolution finds (up to 30
// seconds each), handed over from a thread of its own: the watch can end
// meanwhile, so neither a client deleting the printer nor the server
// stopping waits for it.
struct Finding {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  std::string address;
};

std::shared_ptr<Finding> start_finding(const std::string& uri) {
  auto f = std::make_shared<Finding>();
  std::thread([f, uri] {
    std::string address;
    if (pappl_device_t* device = papplDeviceOpen(uri.c_str(), "status", no_device_error, nullptr)) {
      char text[256];
      if (papplDeviceGetAddress(device, text, sizeof text) != nullptr) address = text;
      papplDeviceClose(device);
    }
    std::lock_guard<std::mutex> lock(f->mutex);
    f->address = address;
    f->finished = true;
    f->done.notify_all();
  }).detach();
  return f;
}

class PrinterWatch {
 public:
  explicit PrinterWatch(pappl_printer_t* printer)
      : printer_(printer), id_(papplPrinterGetID(printer)), uri_(papplPrinterGetDeviceURI(printer)),
        connection_(connectionOf(uri_.c_str())), route_(statusRouteOf(uri_)) {
    thread_ = std::thread(&PrinterWatch::run, this);
  }
  ~PrinterWatch() { stop(); }
  PrinterWatch(const PrinterWatch&) = delete;
  PrinterWatch& operator=(const PrinterWatch&) = delete;

  void stop() {
    std::shared_ptr<Finding> finding;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      finding = finding_;
    }
    cv_.notify_all();
    if (finding != nullptr) {
      std::lock_guard<std::mutex> lock(finding->mutex);
      finding->abandoned = true;
      finding->done.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }
  // Asks again now (a job has just taken the device).
  void poke() {
    std::lock_guard<std::mutex> lock(mutex_);
    poked_ = true;
    cv_.notify_all();
  }
  bool take(Observation* o) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!latest_.fresh) return false;
    *o = latest_;
    latest_.fresh = false;
    return true;
  }
  Connection connection() const { return connection_; }

  // The main loop's own: what it last published.
  std::string shownMessage;
  bool everAnswered = false;
  bool silenceLogged = false;

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      lock.unlock();
      Observation o = check();
      int wait = interval_after(o);
      lock.lock();
      o.fresh = true;
      latest_ = o;
      cv_.wait_for(lock, std::chrono::seconds(wait), [this] { return stop_ || poked_; });
      poked_ = false;
    }
  }

  int interval_after(const Observation& o) {
    if (connection_ == Connection::kNetwork && !o.answered && !answeredOnce_) return g_intervals.silentSeconds;
    bool active = job_running(id_) || !o.reachable || !o.answered || (o.reasons & deviceReasonMask(connection_));
    return active ? g_intervals.activeSeconds : g_intervals.idleSeconds;
  }

  Observation check() { return connection_ == Connection::kUsb ? check_usb() : check_network(); }

  Observation check_usb() {
    Observation o;
    {
      // While a job runs, through the job's device.
      std::lock_guard<std::mutex> lock(g_jobsMutex);
      auto it = g_jobs.find(id_);
      if (it != g_jobs.end()) {
        o.reasons = papplDeviceGetStatus(it->second.device);
        return o;
      }
    }
    // Otherwise through PAPPL's device lock, which a job waits for.
    if (pappl_device_t* device = papplPrinterOpenDevice(printer_)) {
      o.reasons = papplDeviceGetStatus(device);
      papplPrinterCloseDevice(printer_);
    } else if (papplPrinterGetState(printer_) == IPP_PSTATE_PROCESSING || job_running(id_)) {
      o.known = false;  // a job has just taken it
    } else {
      o.reachable = false;  // unplugged or switched off
    }
    return o;
  }

  // Where the printer is: the host its URI names, else what PAPPL's SNMP
  // discovery or DNS-SD resolution finds.
  bool find_address() {
    if (route_.discoverUri.empty() || (!route_.host.empty() && host_known(route_.host))) {
      address_ = route_.host;
      return !address_.empty();
    }
    std::shared_ptr<Finding> f = start_finding(route_.discoverUri);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return false;
      finding_ = f;
    }
    {
      std::unique_lock<std::mutex> lock(f->mutex);
      f->done.wait(lock, [&f] { return f->finished || f->abandoned; });
      address_ = f->address;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finding_.reset();
    return !address_.empty();
  }

  Observation check_network() {
    Observation o;
    o.found = !address_.empty() || find_address();
    uint16_t state = 0;
    o.answered = o.found && snmpErrorState(address_, kSnmpPort, kSnmpTimeoutMs, &state);
    if (o.answered) {
      answeredOnce_ = true;
      o.reasons = errorStateReasons(state);
    } else if (!route_.discoverUri.empty()) {
      address_.clear();  // found again next time: the printer may have moved
    }
    // Supplies change slowly: asked at the idle pace, and first at once.
    auto now = std::chrono::steady_clock::now();
    if (o.answered && (!suppliesAsked_ || now - lastSupplies_ >= std::chrono::seconds(g_intervals.idleSeconds))) {
      std::string uri = statusOnlyUri(route_.discoverUri.empty() ? uri_ : "socket://" + address_);
      if (pappl_device_t* device = papplDeviceOpen(uri.c_str(), "status", no_device_error, nullptr)) {
        o.supplyCount = papplDeviceGetSupplies(device, PAPPL_MAX_SUPPLY, o.supplies);
        papplDeviceClose(device);
      }
      suppliesAsked_ = true;
      lastSupplies_ = now;
    }
    return o;
  }

  pappl_printer_t* printer_;
  int id_;
  std::string uri_;
  Connection connection_;
  StatusRoute route_;
  std::string address_;  // the watch thread's own: where SNMP questions go, "" until found
  bool answeredOnce_ = false;
  bool suppliesAsked_ = false;
  std::chrono::steady_clock::time_point lastSupplies_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  bool poked_ = false;
  std::shared_ptr<Finding> finding_;  // under mutex_: the one the watch waits for
  Observation latest_;
  std::thread thread_;
};

std::mutex g_watchesMutex;
std::map<int, std::shared_ptr<PrinterWatch>> g_watches;

std::shared_ptr<PrinterWatch> find_watch(int printerId) {
  std::lock_guard<std::mutex> lock(g_watchesMutex);
  auto it = g_watches.find(printerId);
  return it == g_watches.end() ? nullptr : it->second;
}

}  // namespace

namespace {

// No message of ours: the job's prompt to the user is the printer's message.
const char kPromptShown[] = "\x01";

// The reasons a check sets; those of the connection it does not set are cleared.
ReasonUpdate update_for(PrinterWatch& watch, const Observation& o) {
  Connection c = watch.connection();
  if (c == Connection::kUsb) return reasonUpdate(c, o.reachable, o.reasons);
  if (o.answered) {
    watch.everAnswered = true;
    return reasonUpdate(c, true, o.reasons);
  }
  // A printer that answered before and no longer does has gone away
  // (switched off, unplugged from the network); one that never answered
  // has no agent, and nothing is known of it.
  if (watch.everAnswered) return reasonUpdate(c, false, PAPPL_PREASON_NONE);
  return ReasonUpdate{};
}

std::string message_for(PrinterWatch& watch, pappl_preason_t reasons) {
  if (watch.connection() == Connection::kNetwork && !watch.everAnswered) return "";
  const char* m = reasonMessage(reasons);
  if (m == nullptr) return "";
  std::string text = m;
  if (reasons & PAPPL_PREASON_OFFLINE)
    text += " It is asked again every " + std::to_string(g_intervals.activeSeconds) + " seconds.";
  return text;
}

// The running job learns that its printer stopped, and why, and that it goes on.
void tell_job(int printerId, bool stopped, const std::string& message) {
  std::lock_guard<std::mutex> lock(g_jobsMutex);
  auto it = g_jobs.find(printerId);
  if (it == g_jobs.end() || it->second.stopped == stopped) return;
  it->second.stopped = stopped;
  pappl_job_t* job = it->second.job;
  if (stopped) {
    papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
    papplJobSetMessage(job, "%s", message.c_str());
  } else {
    papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
    papplJobSetMessage(job, "Printing.");
  }
}

void publish(pappl_printer_t* printer, PrinterWatch& watch, const Observation& o) {
  if (!o.known) return;
  Connection c = watch.connection();
  if (c == Connection::kNetwork && !o.answered && !watch.everAnswered && !watch.silenceLogged) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                    "The printer %s: its state is not known, and it is asked again every %d seconds.",
                    o.found ? "does not answer SNMP" : "could not be found on the network", g_intervals.silentSeconds);
    watch.silenceLogged = true;
  }
  ReasonUpdate u = update_for(watch, o);
  pappl_preason_t mask = deviceReasonMask(c);
  pappl_preason_t before = papplPrinterGetReasons(printer);
  pappl_preason_t after = static_cast<pappl_preason_t>((before & ~u.remove) | u.add);
  if ((before & mask) != (after & mask)) papplPrinterSetReasons(printer, u.add, u.remove);

  // The printer's message is the gravest reason's, unless a job waits for
  // the user (the manual-duplex prompt is the message then).
  std::string message = message_for(watch, static_cast<pappl_preason_t>(after & mask));
  if (after & PAPPL_PREASON_MEDIA_NEEDED) {
    watch.shownMessage = kPromptShown;  // set the message again once the prompt has gone
  } else if (message != watch.shownMessage) {
    papplPrinterSetStateMessage(printer, message.empty() ? nullptr : message.c_str());
    watch.shownMessage = message;
  }
  tell_job(papplPrinterGetID(printer), (after & mask & kStoppingReasons) != 0, message);

  if (o.supplyCount >= 0) {
    pappl_supply_t known[PAPPL_MAX_SUPPLY];
    papplPrinterSetSupplies(printer, knownSupplies(o.supplies, o.supplyCount, known), known);
  }
}

void collect_printer(pappl_printer_t* printer, void* data) {
  static_cast<std::vector<pappl_printer_t*>*>(data)->push_back(printer);
}

}  // namespace

void setWatchIntervals(const WatchIntervals& intervals) { g_intervals = intervals; }

void publishPrinterStatus(pappl_system_t* system) {
  std::vector<pappl_printer_t*> printers;
  papplSystemIteratePrinters(system, collect_printer, &printers);
  for (pappl_printer_t* printer : printers) {
    if (connectionOf(papplPrinterGetDeviceURI(printer)) == Connection::kNone) continue;
    int id = papplPrinterGetID(printer);
    std::shared_ptr<PrinterWatch> watch = find_watch(id);
    if (watch == nullptr) {
      watch = std::make_shared<PrinterWatch>(printer);
      std::lock_guard<std::mutex> lock(g_watchesMutex);
      g_watches[id] = watch;
      continue;  // its first check is under way
    }
    Observation o;
    if (watch->take(&o)) publish(printer, *watch, o);
  }
}

void endPrinterWatch(pappl_printer_t* printer, pappl_pr_driver_data_t*) {
  std::shared_ptr<PrinterWatch> watch;
  {
    std::lock_guard<std::mutex> lock(g_watchesMutex);
    auto it = g_watches.find(papplPrinterGetID(printer));
    if (it == g_watches.end()) return;
    watch = it->second;
    g_watches.erase(it);
  }
  watch->stop();  // before PAPPL frees the printer the watch asks about
}

JobDeviceClaim::JobDeviceClaim(pappl_job_t* job, pappl_device_t* device)
    : printerId_(papplPrinterGetID(papplJobGetPrinter(job))) {
  {
    std::lock_guard<std::mutex> lock(g_jobsMutex);
    g_jobs[printerId_] = JobEntry{job, device};
  }
  if (std::shared_ptr<PrinterWatch> watch = find_watch(printerId_)) watch->poke();
}

JobDeviceClaim::~JobDeviceClaim() {
  std::lock_guard<std::mutex> lock(g_jobsMutex);
  auto it = g_jobs.find(printerId_);
  if (it == g_jobs.end()) return;
  if (it->second.stopped) papplJobSetReasons(it->second.job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
  g_jobs.erase(it);
}

}  // namespace tpa
