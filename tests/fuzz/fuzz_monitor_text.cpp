// What the job monitor reads from outside: SNMP status replies of every
// length (0 to 1024 bytes) with an owner, USB status blocks, device URIs
// with percent escapes and queue names, USB serial strings against URIs.  Input: one byte splits the rest
// into a reply and a text.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device_uri.h"
#include "fuzz_target.h"
#include "monitor.h"
#include "usb_status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t split = std::min<size_t>(size - 1, data[0] * 4u + data[0] % 4u);
  // The reply sits in a buffer of exactly its length, so a read before or
  // past it is seen by the address checker.
  std::vector<uint8_t> reply(data + 1, data + 1 + split);
  const std::string text(reinterpret_cast<const char*>(data + 1 + split), size - 1 - split);
  const std::string owner = text.substr(0, text.find('\0'));

  const bool cancelled = jw::net_status_cancelled(reply.data(), static_cast<int>(reply.size()), owner.c_str());
  FUZZ_CHECK(!cancelled || reply.size() >= 60);
  jw::net_status_cancelled(reply.data(), -static_cast<int>(reply.size()), owner.c_str());
  jw::usb_status_cancelled(reply.data(), static_cast<int>(reply.size()));

  std::vector<char> uri(owner.begin(), owner.end());
  uri.push_back('\0');
  const size_t before = std::strlen(uri.data());
  jw::PercentDecode(uri.data());
  FUZZ_CHECK(std::strlen(uri.data()) <= before);  // decoding never lengthens
  jw::uri_names_queue(owner.c_str(), uri.data());
  jw::is_usb_uri(owner.c_str());

  // The reply bytes as a device's serial string, matched against the text
  // as a URI: a match by text means the serial really is in the URI.
  if (reply.empty()) return 0;
  const int serialLength = static_cast<int>(std::min<size_t>(reply.size(), jw::kUsbSerialSize));
  const jw::SerialMatch match = jw::serial_match(reply.data(), serialLength, owner.c_str());
  const std::string serial(reinterpret_cast<const char*>(reply.data()),
                           strnlen(reinterpret_cast<const char*>(reply.data()),
                                   std::min<size_t>(serialLength, jw::kUsbSerialSize - 1)));
  FUZZ_CHECK((match == jw::SerialMatch::kEmpty) == serial.empty());
  if (match > jw::SerialMatch::kEmpty) FUZZ_CHECK(owner.find(serial) != std::string::npos);
  FUZZ_CHECK(jw::serial_match(reply.data(), 0, owner.c_str()) == jw::SerialMatch::kEmpty);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  std::vector<std::string> seeds;
  for (int len : {0, 1, 59, 60, 61, 200, 1024}) {
    std::string reply(static_cast<size_t>(len), '\0');
    if (len >= 60) {
      reply[len - 60] = '\x86';
      std::memcpy(&reply[len - 56], "host", 4);
    }
    const uint8_t b = static_cast<uint8_t>(len / 4);
    std::string s(1, static_cast<char>(b));
    s += reply.substr(0, std::min<size_t>(reply.size(), b * 4u + b % 4u));
    s += "host";
    seeds.push_back(s);
  }
  seeds.push_back(std::string(1, '\0') + "ipp://printer.local:631/printers/Office%20Laser%2");
  seeds.push_back(std::string(1, '\0') + "usb://Tesvel/TZ3010?serial=ABC%41123");
  return seeds;
}
