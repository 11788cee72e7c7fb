#include "device_uri.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <cups/cups.h>

namespace jw {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string lower(const char* text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void PercentDecode(char* text) {
  if (text == nullptr) return;
  char* out = text;
  for (const char* in = text; *in != '\0';) {
    int hi = in[0] == '%' ? hex_value(in[1]) : -1;
    int lo = hi >= 0 ? hex_value(in[2]) : -1;
    if (lo >= 0) {
      *out++ = static_cast<char>(hi * 16 + lo);
      in += 3;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}

bool uri_names_queue(const char* printerUri, const char* queueName) {
  if (printerUri == nullptr || queueName == nullptr) return false;
  std::string uri = lower(printerUri);
  PercentDecode(&uri[0]);
  uri.resize(strlen(uri.c_str()));
  size_t slash = uri.rfind('/');
  return slash != std::string::npos && uri.compare(slash + 1, std::string::npos,
                                                   lower(queueName)) == 0;
}

void FindDeviceUri(const char* queueName, char* uri, size_t uriSize) {
  if (uri == nullptr || uriSize == 0) return;
  uri[0] = '\0';
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests(&dests);
  bool found = false;
  for (int i = 0; i < count; ++i) {
    const cups_dest_t& d = dests[i];
    if (d.instance != nullptr) continue;
    if (!uri_names_queue(cupsGetOption("printer-uri-supported", d.num_options, d.options),
                         queueName))
      continue;
    found = true;
    const char* device = cupsGetOption("device-uri", d.num_options, d.options);
    if (device == nullptr) device = "";
    if (strlen(device) >= uriSize) {
      fprintf(stderr, "FindDeviceUri::device uri longer than %zu, job not monitored\n",
              uriSize - 1);
      device = "";
    }
    snprintf(uri, uriSize, "%s", device);
  }
  cupsFreeDests(count, dests);
  // Run by a Printer Application the queue is no CUPS destination: its
  // device URI is the one in the environment, as CUPS gives every filter.
  const char* env = getenv("DEVICE_URI");
  if (!found && env != nullptr) {
    if (strlen(env) >= uriSize) {
      fprintf(stderr, "FindDeviceUri::device uri longer than %zu, job not monitored\n", uriSize - 1);
      return;
    }
    snprintf(uri, uriSize, "%s", env);
  }
}

bool is_usb_uri(const char* uri) { return uri != nullptr && strstr(uri, "usb") != nullptr; }

}  // namespace jw
