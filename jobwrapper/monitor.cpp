#include "monitor.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "monitor_wait.h"
#include "snmp_status.h"
#include "usb_status.h"
#include "wrapper_state.h"

namespace jw {

namespace {

// The printer's "cancelled on the device" states.
constexpr uint8_t kJobCancelled = 0x06;
constexpr uint8_t kJobCancelledToo = 0x86;
// Where the job-status block sits in the GetRequest reply, from its end.
constexpr int kStateFromEnd = 60;
constexpr int kOwnerFromEnd = 56;

// Turns of the status thread's loop (monitor_pace().turnMs, 500 ms) per query.
constexpr int kUsbQueryTurns = 2;     // USB status read once a second
constexpr int kNetQueryTurns = 5;     // SNMP status query every 2.5 seconds

char kCancelExit[] = "Job cancel, Status thread exit.\n";
char kDummyExit[] = "Job end, dummy thread exit.\n";

StopSignal g_queryStop;
StopSignal g_dummyStop;
std::string g_dummyUri;  // set before the keep-alive thread starts, read by it only

bool is_cancel_state(uint8_t state) { return state == kJobCancelled || state == kJobCancelledToo; }

void* query_usb(const cancel_query_arg* arg) {
  UsbPrinter printer(SenddummyCmdToUsb(arg->uri));
  if (printer.get() == nullptr) {
    fprintf(stderr, "querythread::handle is null\n");
    return nullptr;
  }
  fprintf(stderr, "Status_query::handle yes\n");
  uint8_t status[kUsbStatusSize];
  for (int turn = 0; !g_queryStop.requested();) {
    if (++turn == kUsbQueryTurns) {
      turn = 0;
      memset(status, 0, sizeof status);
      int count = 0;
      QueryUsbStatus(printer.get(), status, sizeof status, &count);
      if (usb_status_cancelled(status, count)) {
        g_wrap.cancel_job.store(1);
        return kCancelExit;
      }
    }
    if (!g_queryStop.pause_ms(monitor_pace().turnMs)) break;
  }
  return nullptr;
}

// The printer's address text for a network URI; empty when there is none.
bool network_address(const char* uri, char* address, size_t size) {
  int port = 9100;
  bool dnssd = strstr(uri, "dnssd://") != nullptr;
  if (!ResolveUriHost(uri, address, size, &port, ResolveVariant::kFirst) && dnssd) {
    address[0] = '\0';
    ResolveUriHost(uri, address, size, &port, ResolveVariant::kSecond);
  }
  if (port == 0 && dnssd) {
    char name[1024] = "";
    ResolveUriHost(uri, name, sizeof name, &port, ResolveVariant::kSecond);
    address[0] = '\0';
    if (HostToAddress(name, address, 256) != 0) {
      fprintf(stderr, "supply host to ip failed\n");
      return false;
    }
  }
  return address[0] != '\0';
}

void* query_net(const cancel_query_arg* arg) {
  fprintf(stderr, "querythread::net\n");
  char address[1024] = "";
  if (!network_address(arg->uri, address, sizeof address)) return nullptr;
  fprintf(stderr, "ip:%s\n", address);
  uint8_t reply[kSnmpReplySize];
  for (int turn = 0; !g_queryStop.requested();) {
    if (++turn == kNetQueryTurns) {
      turn = 0;
      memset(reply, 0, sizeof reply);
      int count = 0;
      SendSNMPCmd(address, reply, &count, &g_queryStop);
      if (net_status_cancelled(reply, count, arg->owner)) {
        g_wrap.cancel_job.store(1);
        return kCancelExit;
      }
    }
    if (!g_queryStop.pause_ms(monitor_pace().turnMs)) break;
  }
  return nullptr;
}

void* querythread(void* p) {
  const auto* arg = static_cast<const cancel_query_arg*>(p);
  fprintf(stderr, "thread arg point address:0x%lx\n",
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(arg)));
  return is_usb_uri(arg->uri) ? query_usb(arg) : query_net(arg);
}

// One turn of a keep-alive loop: a cancelled job ends the thread too.
void end_keep_alive_if_cancelled() {
  if (g_wrap.cancel_job.load()) g_wrap.g_bDammyEnd.store(1);
}

void* dummy_usb(const char* uri) {
  UsbPrinter printer(SenddummyCmdToUsb(uri));
  if (printer.get() == nullptr) {
    fprintf(stderr, "dummy_send::handle is null\n");
    return nullptr;
  }
  // Holding the device open is all the printer needs; nothing is sent.
  while (!g_wrap.g_bDammyEnd.load()) {
    g_dummyStop.pause_ms(monitor_pace().usbHoldMs);
    end_keep_alive_if_cancelled();
  }
  return kDummyExit;
}

void* dummy_net(const char* uri) {
  char host[1024] = "";
  int port = 9100;
  if (!ResolveUriHost(uri, host, sizeof host, &port, ResolveVariant::kFirst)) {
    fprintf(stderr, "fail to get host name\n");
    return nullptr;
  }
  while (!g_wrap.g_bDammyEnd.load()) {
    if (host[0] != '\0') SendKeepAliveSnmp(host, &g_dummyStop);
    // The pause also when there is no host: the loop never spins.
    g_dummyStop.pause_ms(monitor_pace().keepAliveMs);
    end_keep_alive_if_cancelled();
  }
  return kDummyExit;
}

// Deferred cancellation only (the default): the join's fallback cancel
// then lands at a wait, never inside a library call.
void* dummy_send(void* p) {
  const char* uri = static_cast<const char*>(p);
  return is_usb_uri(uri) ? dummy_usb(uri) : dummy_net(uri);
}

}  // namespace

bool net_status_cancelled(const uint8_t* reply, int count, const char* owner) {
  if (reply == nullptr || count < kStateFromEnd || count > static_cast<int>(kSnmpReplySize))
    return false;
  const char* text = reinterpret_cast<const char*>(reply) + (count - kOwnerFromEnd);
  std::string ownerText(text, strnlen(text, kOwnerFromEnd));
  return ownerText.find(owner != nullptr ? owner : "") != std::string::npos &&
         is_cancel_state(reply[count - kStateFromEnd]);
}

bool usb_status_cancelled(const uint8_t* block, int count) {
  return block != nullptr && count > 0 && is_cancel_state(block[0]);
}

void Printer_cancle_query_tread(cancel_query_arg* arg) {
  g_wrap.queryThread = 0;
  if (arg == nullptr || arg->uri[0] == '\0') {
    fprintf(stderr, "querythread::no device uri, job not monitored\n");
    return;
  }
  g_queryStop.reset();
  pthread_t id;
  int err = pthread_create(&id, nullptr, querythread, arg);
  if (err != 0) {
    fprintf(stderr, "gstopcl::Printer_cancle_query_tread Failed, err = %d\n", err);
    return;
  }
  g_wrap.queryThread = id;
}

void stop_status_thread() {
  if (g_wrap.queryThread == 0) return;
  g_queryStop.request();
  pthread_join(g_wrap.queryThread, nullptr);
  g_wrap.queryThread = 0;
}

void CreateDammyThread(const char* const* argv) {
  g_wrap.dummyThread = 0;
  const char* uri = getenv("DEVICE_URI");
  if (uri == nullptr) {
    if (argv == nullptr || argv[0] == nullptr || strchr(argv[0], ':') == nullptr) {
      fprintf(stderr, "argv error\n");
      return;
    }
    uri = argv[0];
  }
  g_dummyUri = uri;
  g_dummyStop.reset();
  pthread_t id;
  int err = pthread_create(&id, nullptr, dummy_send, &g_dummyUri[0]);
  if (err != 0) {
    fprintf(stderr, "gstopcl::CreateDammyThread Failed, err = %d\n", err);
    return;
  }
  g_wrap.dummyThread = id;
}

void pthread_dammy_join() {
  g_wrap.g_bDammyEnd.store(1);
  fprintf(stderr, "End::g_bDammyEnd = %d\n", g_wrap.g_bDammyEnd.load());
  if (g_wrap.dummyThread == 0) return;
  g_dummyStop.request();
  int err = pthread_join(g_wrap.dummyThread, nullptr);
  if (err != 0) {
    usleep(500 * 1000);
    pthread_cancel(g_wrap.dummyThread);
    fprintf(stderr, "gstopcl::pthread_dammy_join error value is %d \n", err);
  }
  g_wrap.dummyThread = 0;
}

}  // namespace jw
