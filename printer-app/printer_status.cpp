#include "printer_status.h"

#include <cstring>

namespace tpa {

namespace {

bool has_scheme(const char* uri, const char* scheme) {
  size_t n = std::strlen(scheme);
  return std::strncmp(uri, scheme, n) == 0 && uri[n] == ':';
}

constexpr unsigned kUsbReasons = PAPPL_PREASON_OTHER | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_MEDIA_EMPTY;

constexpr unsigned kNetworkReasons =
    PAPPL_PREASON_OTHER | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW |
    PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_DOOR_OPEN | PAPPL_PREASON_INPUT_TRAY_MISSING |
    PAPPL_PREASON_TONER_EMPTY | PAPPL_PREASON_TONER_LOW;

}  // namespace

Connection connectionOf(const char* deviceUri) {
  if (deviceUri == nullptr) return Connection::kNone;
  if (has_scheme(deviceUri, "usb")) return Connection::kUsb;
  if (has_scheme(deviceUri, "socket") || has_scheme(deviceUri, "snmp") || has_scheme(deviceUri, "dnssd"))
    return Connection::kNetwork;
  return Connection::kNone;
}

pappl_preason_t deviceReasonMask(Connection c) {
  switch (c) {
    case Connection::kUsb:
      return static_cast<pappl_preason_t>(kUsbReasons);
    case Connection::kNetwork:
      return static_cast<pappl_preason_t>(kNetworkReasons);
    case Connection::kNone:
      break;
  }
  return PAPPL_PREASON_NONE;
}

ReasonUpdate reasonUpdate(Connection c, bool reachable, pappl_preason_t fromDevice) {
  unsigned mask = deviceReasonMask(c);
  unsigned set = reachable ? (fromDevice & mask) : (PAPPL_PREASON_OFFLINE & mask);
  ReasonUpdate u;
  u.add = static_cast<pappl_preason_t>(set);
  u.remove = static_cast<pappl_preason_t>(mask & ~set);
  return u;
}

int knownSupplies(const pappl_supply_t* in, int count, pappl_supply_t* out) {
  int n = 0;
  for (int i = 0; i < count && n < PAPPL_MAX_SUPPLY; ++i)
    if (in[i].level >= 0 && in[i].level <= 100) out[n++] = in[i];
  return n;
}

}  // namespace tpa
