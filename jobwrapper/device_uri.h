// The queue's device URI from the CUPS destination list, and the text
// helpers that read it.
#pragma once

#include <cstddef>

namespace jw {

// The status thread's URI buffer holds at most this many characters.
constexpr size_t kDeviceUriMax = 255;

// Decodes %XX escapes in place.  A "%" not followed by two hex digits is
// kept as it is, with what follows it.
void PercentDecode(char* text);

// The queue a printer URI names: its text after the last "/", compared
// with the queue name without regard to case, after percent decoding.
bool uri_names_queue(const char* printerUri, const char* queueName);

// The device URI of the queue named queueName (the last match in the
// destination list wins); empty when no queue matches.  A device URI that
// does not fit (more than uriSize - 1 characters) is not cut short, since
// a cut URI could name another printer: the buffer stays empty and the
// job goes unmonitored.  When no CUPS queue has that name (the wrapper run
// by the Printer Application), $DEVICE_URI is the device URI.
void FindDeviceUri(const char* queueName, char* uri, size_t uriSize);

// The printer is on USB ("usb" anywhere in the URI, exact case).
bool is_usb_uri(const char* uri);

}  // namespace jw
