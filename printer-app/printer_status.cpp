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

pappl_preason_t errorStateReasons(uint16_t state) {
  // hrPrinterDetectedErrorState's bits, first octet high.  No paper wins
  // over low paper, no toner over low toner.
  static const struct {
    uint16_t bits;
    unsigned reason;
    unsigned unless;  // a graver reason of the same kind that replaces it
  } kBits[] = {
      {0x4000 | 0x0004, PAPPL_PREASON_MEDIA_EMPTY, 0},              // noPaper, inputTrayEmpty
      {0x8000, PAPPL_PREASON_MEDIA_LOW, PAPPL_PREASON_MEDIA_EMPTY},  // lowPaper
      {0x1000, PAPPL_PREASON_TONER_EMPTY, 0},                        // noToner
      {0x2000, PAPPL_PREASON_TONER_LOW, PAPPL_PREASON_TONER_EMPTY},  // lowToner
      {0x0800, PAPPL_PREASON_DOOR_OPEN, 0},                          // doorOpen
      {0x0400, PAPPL_PREASON_MEDIA_JAM, 0},                          // jammed
      {0x0200, PAPPL_PREASON_OFFLINE, 0},                            // offline
      {0x0080, PAPPL_PREASON_INPUT_TRAY_MISSING, 0},                 // inputTrayMissing
      // serviceRequested, outputTrayMissing, markerSupplyMissing, outputFull
      {0x0100 | 0x0040 | 0x0020 | 0x0008, PAPPL_PREASON_OTHER, 0},
  };
  unsigned reasons = 0;
  for (const auto& b : kBits)
    if (state & b.bits) reasons |= b.reason;
  for (const auto& b : kBits)
    if (reasons & b.unless) reasons &= ~b.reason;
  return static_cast<pappl_preason_t>(reasons);
}

const char* reasonMessage(pappl_preason_t reasons) {
  // Gravest first: what keeps the printer from printing, then warnings.
  static const struct {
    unsigned reason;
    const char* message;
  } kMessages[] = {
      {PAPPL_PREASON_OFFLINE, "The printer is offline."},
      {PAPPL_PREASON_MEDIA_JAM, "Paper is jammed in the printer."},
      {PAPPL_PREASON_DOOR_OPEN, "The printer's door is open."},
      {PAPPL_PREASON_COVER_OPEN, "The printer's cover is open."},
      {PAPPL_PREASON_INPUT_TRAY_MISSING, "The paper tray is missing."},
      {PAPPL_PREASON_MEDIA_EMPTY, "The printer is out of paper."},
      {PAPPL_PREASON_TONER_EMPTY, "The printer is out of toner."},
      {PAPPL_PREASON_OTHER, "The printer needs attention."},
      {PAPPL_PREASON_MEDIA_LOW, "Paper is low."},
      {PAPPL_PREASON_TONER_LOW, "Toner is low."},
  };
  for (const auto& m : kMessages)
    if (reasons & m.reason) return m.message;
  return nullptr;
}

namespace {

// The reasons a filter may set, by IPP keyword.
const struct {
  const char* keyword;
  unsigned reason;
} kFilterReasons[] = {
    {"other", PAPPL_PREASON_OTHER},
    {"cover-open", PAPPL_PREASON_COVER_OPEN},
    {"door-open", PAPPL_PREASON_DOOR_OPEN},
    {"input-tray-missing", PAPPL_PREASON_INPUT_TRAY_MISSING},
    {"marker-supply-empty", PAPPL_PREASON_MARKER_SUPPLY_EMPTY},
    {"marker-supply-low", PAPPL_PREASON_MARKER_SUPPLY_LOW},
    {"marker-waste-almost-full", PAPPL_PREASON_MARKER_WASTE_ALMOST_FULL},
    {"marker-waste-full", PAPPL_PREASON_MARKER_WASTE_FULL},
    {"media-empty", PAPPL_PREASON_MEDIA_EMPTY},
    {"media-jam", PAPPL_PREASON_MEDIA_JAM},
    {"media-low", PAPPL_PREASON_MEDIA_LOW},
    {"offline", PAPPL_PREASON_OFFLINE},
    {"toner-empty", PAPPL_PREASON_TONER_EMPTY},
    {"toner-low", PAPPL_PREASON_TONER_LOW},
};

unsigned filter_reason(std::string word) {
  for (const char* suffix : {"-error", "-warning", "-report"}) {
    size_t n = std::strlen(suffix);
    if (word.size() > n && word.compare(word.size() - n, n, suffix) == 0) {
      word.resize(word.size() - n);
      break;
    }
  }
  for (const auto& r : kFilterReasons)
    if (word == r.keyword) return r.reason;
  return 0;
}

}  // namespace

StateLine parseStateLine(const std::string& text) {
  unsigned all = 0;
  for (const auto& r : kFilterReasons) all |= r.reason;
  unsigned add = 0, remove = 0;
  bool replace = true;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(" ,", pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    char sign = word[0];
    if (sign == '+' || sign == '-') {
      replace = false;
      (sign == '+' ? add : remove) |= filter_reason(word.substr(1));
    } else {
      add |= filter_reason(word);
    }
  }
  StateLine s;
  s.add = static_cast<pappl_preason_t>(add);
  s.remove = static_cast<pappl_preason_t>(replace ? (all & ~add) : (remove & ~add));
  return s;
}

int knownSupplies(const pappl_supply_t* in, int count, pappl_supply_t* out) {
  int n = 0;
  for (int i = 0; i < count && n < PAPPL_MAX_SUPPLY; ++i)
    if (in[i].level >= 0 && in[i].level <= 100) out[n++] = in[i];
  return n;
}

}  // namespace tpa
