// The network side of the monitor: the printer's address from the device
// URI, and the two fixed SNMPv1 messages on UDP port 161.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jw {

class StopSignal;

constexpr size_t kSnmpPacketSize = 45;
constexpr size_t kSnmpReplySize = 1024;  // the status reply is read into this much
constexpr int kSnmpPort = 161;

// GetRequest for the printer's job-status block (private OID ...3.16.2).
extern const uint8_t kSnmpGetRequest[kSnmpPacketSize];
// SetRequest that keeps the printer's connection alive (private OID ...4.13 = 1).
extern const uint8_t kSnmpSetRequest[kSnmpPacketSize];

// The first variant serves every network URI; the second also reports the
// port and is the one used for DNS-SD names.
enum class ResolveVariant { kFirst, kSecond };

// The CUPS library that carries the resolver: the development link name
// first, then the runtime library every user has.
extern const char* const kCupsLibraryNames[2];

// Appends the host of the URI (after the CUPS resolver, which also turns
// DNS-SD names into reachable URIs) to host, which the caller passes
// empty, and stores the URI's port.  Returns 1, or 0 on failure.
int ResolveUriHost(const char* uri, char* host, size_t hostSize, int* port, ResolveVariant variant);
// The same with the library names given (both variants try them in order).
int resolve_uri_host_from(const char* const libraries[2], const char* uri, char* host,
                          size_t hostSize, int* port, ResolveVariant variant);

// Numeric address text of a host name: 0 on success, 1 when it does not resolve.
int HostToAddress(const char* name, char* address, size_t addressSize);

// Sends the GetRequest to address:161 and reads the reply (kSnmpReplySize
// bytes at most) into reply.  Returns 1 when a reply arrived; *count is
// the last receive result.  A stop request ends the wait for a reply.
int SendSNMPCmd(const char* address, uint8_t* reply, int* count, const StopSignal* stop = nullptr);

// Sends the keep-alive SetRequest to host:161; the reply is not examined.
void SendKeepAliveSnmp(const char* host, const StopSignal* stop = nullptr);

}  // namespace jw
