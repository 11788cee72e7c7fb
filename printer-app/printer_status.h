// What the printer says about itself, as PAPPL wants it: which
// printer-state-reasons a connection can report at all (so a poll clears
// only what it could have set), and which supply rows carry a real level.
// Pure logic: the polling itself is in status_callback.cpp.
#pragma once

#include <cstdint>
#include <string>

#include <pappl/pappl.h>

namespace tpa {

// How the application reaches the printer, as far as status goes.
enum class Connection {
  kNone,     // file:, or anything else that cannot answer
  kUsb,      // usb: the IEEE 1284 port status
  kNetwork,  // socket:, snmp:, dnssd: the Printer MIB over SNMP
};

Connection connectionOf(const char* deviceUri);

// The reasons a connection can report.  USB's port status knows paper out,
// offline and "an error"; the Printer MIB knows more.  Reasons outside the
// mask (media-needed from a job waiting for the user, for one) are never
// touched by a poll.
pappl_preason_t deviceReasonMask(Connection c);

struct ReasonUpdate {
  pappl_preason_t add = PAPPL_PREASON_NONE;
  pappl_preason_t remove = PAPPL_PREASON_NONE;
};

// The change a poll makes: what the device reports is set, what it could
// have reported but did not is cleared.  `reachable` false: the device
// could not be opened while no job had it, so the printer is offline and
// nothing else about it is known.
ReasonUpdate reasonUpdate(Connection c, bool reachable, pappl_preason_t fromDevice);

// The supplies to publish: only rows whose level is a real percentage
// (0..100); a printer that reports "unknown" or "some remaining" for a
// supply has that supply left out rather than given a made-up level.
// Returns the count written to `out` (at most PAPPL_MAX_SUPPLY).
int knownSupplies(const pappl_supply_t* in, int count, pappl_supply_t* out);

// The Printer MIB's detected error state (hrPrinterDetectedErrorState,
// its first two octets: 0x4000 no paper, 0x0400 jammed, ...) as reasons.
pappl_preason_t errorStateReasons(uint16_t state);

// The printer's message for its reasons: the gravest one's, or nullptr
// when none of them stops or warns.
const char* reasonMessage(pappl_preason_t reasons);

// A filter's "STATE:" line, as cupsd reads it: "+reason ..." adds,
// "-reason ..." removes, a plain list replaces every reason a filter can
// set ("none" clears them).  Reasons may carry CUPS's -error, -warning or
// -report suffix; those PAPPL has no bit for are left out.
struct StateLine {
  pappl_preason_t add = PAPPL_PREASON_NONE;
  pappl_preason_t remove = PAPPL_PREASON_NONE;
};
StateLine parseStateLine(const std::string& text);

// The reasons that stop the printer: a job on it makes no progress.
constexpr unsigned kStoppingReasons = PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_DOOR_OPEN |
                                      PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_TONER_EMPTY |
                                      PAPPL_PREASON_INPUT_TRAY_MISSING | PAPPL_PREASON_OTHER;

}  // namespace tpa
