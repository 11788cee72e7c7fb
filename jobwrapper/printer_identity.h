// Which printer is this: the IEEE-1284 device ID from the backend, else
// the PPD's ShortNickName, against the model tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jw {

// Device-ID buffer of the entry: 512 bytes, a request offers 511.
constexpr size_t kDeviceIdBufferSize = 512;

// How long one device-ID request waits for the backend.  CUPS's own
// backends answer from their side-channel loop within a second (the
// network backends after one SNMP round trip); a queue whose backend never
// answers (a file: device, a backend without side channel) must not hold
// the job for hours, so after 3 seconds the nickname decides.
constexpr double kDeviceIdTimeoutSeconds = 3.0;

// Asks the backend for the device ID over the side channel.  True and the
// text (zero-ended) when it answered with data; else false, an empty
// buffer and "cups api can't find 1284 information.\n".  After a request
// timed out the backend is not asked again in this process.
bool GetDeviceId(char* buffer, int* length);

// Accepted printer?  Sets *jobControl to 1 for JobControlModels (never
// clears it).
bool IsSupportedModel(const char* deviceId, bool haveId, uint8_t* jobControl);

// Colour group (the PDF road)?
bool IsColourModel(const char* deviceId, bool haveId);

}  // namespace jw
