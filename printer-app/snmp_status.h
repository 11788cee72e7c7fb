// The one SNMP question the status watch asks a network printer: its
// Printer MIB detected error state (hrPrinterDetectedErrorState.1), as an
// SNMPv1 GetRequest to UDP port 161.  Asked this way, never through the
// printer's data port, a status check is no print job to the printer.
// Building and reading the packets is pure code; snmpErrorState() does the I/O.
#pragma once

#include <cstdint>
#include <string>

namespace tpa {

// The GetRequest for hrPrinterDetectedErrorState.1, community "public".
std::string snmpErrorStateRequest(uint32_t requestId);

// Reads a GetResponse: true when it answers `requestId` without an error
// and carries the error state as an octet string.  The state's first two
// octets make `*state` (0x4000 no paper, 0x0400 jammed, ...; a one-octet
// answer is the first octet).
bool snmpReadErrorState(const std::string& packet, uint32_t requestId, uint16_t* state);

// Asks `host` (a name or an address) on UDP port `port` and waits up to
// `timeoutMs` for the answer.  False when nothing answered in time, or the
// host refused or could not be found.
bool snmpErrorState(const std::string& host, int port, int timeoutMs, uint16_t* state);

// Where the status watch finds a network printer, from its device URI.
// socket:// names the host.  snmp:// names the printer's SNMP system name,
// which is its host name too when the network's DNS knows it; otherwise
// PAPPL's SNMP discovery finds it.  dnssd:// names a DNS-SD service that
// PAPPL resolves.  Other schemes: both empty.
struct StatusRoute {
  std::string host;         // asked directly; "" when only PAPPL can find it
  std::string discoverUri;  // the status-only URI PAPPL finds it by; "" for none
};
StatusRoute statusRouteOf(const std::string& deviceUri);

// The device URI that asks a network printer over SNMP without a print
// connection (PAPPL opens it without connecting to the data port).
std::string statusOnlyUri(const std::string& deviceUri);

}  // namespace tpa
