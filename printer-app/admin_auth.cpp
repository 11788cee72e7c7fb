#include "admin_auth.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tpa {

namespace {

// Requests any printing client makes: jobs, their status, the printer's
// attributes and event subscriptions.
const ipp_op_t kClientOperations[] = {
    IPP_OP_PRINT_JOB,           IPP_OP_VALIDATE_JOB,
    IPP_OP_CREATE_JOB,          IPP_OP_SEND_DOCUMENT,
    IPP_OP_CANCEL_JOB,          IPP_OP_GET_JOB_ATTRIBUTES,
    IPP_OP_GET_JOBS,            IPP_OP_GET_PRINTER_ATTRIBUTES,
    IPP_OP_HOLD_JOB,            IPP_OP_RELEASE_JOB,
    IPP_OP_CLOSE_JOB,           IPP_OP_CANCEL_MY_JOBS,
    IPP_OP_IDENTIFY_PRINTER,    IPP_OP_GET_SYSTEM_ATTRIBUTES,
    IPP_OP_GET_PRINTERS,        IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS,
    IPP_OP_CREATE_JOB_SUBSCRIPTIONS, IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES,
    IPP_OP_GET_SUBSCRIPTIONS,   IPP_OP_RENEW_SUBSCRIPTION,
    IPP_OP_CANCEL_SUBSCRIPTION, IPP_OP_GET_NOTIFICATIONS,
    IPP_OP_CREATE_SYSTEM_SUBSCRIPTIONS,
};

// Equal strings, in a time that does not depend on where they differ.
bool same_secret(const char* a, const char* b) {
  size_t la = std::strlen(a), lb = std::strlen(b);
  unsigned char diff = la == lb ? 0 : 1;
  for (size_t i = 0; i < la && i < lb; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

bool passwordMatches(const std::string& stored, const std::string& password) {
  size_t tilde = stored.find('~');
  if (tilde == std::string::npos || tilde == 0) return false;
  std::string salted = stored.substr(0, tilde) + ":" + password;
  unsigned char hash[32];
  char hex[65];
  if (cupsHashData("sha2-256", salted.data(), salted.size(), hash, sizeof hash) != sizeof hash) return false;
  cupsHashString(hash, sizeof hash, hex, sizeof hex);
  return same_secret(stored.c_str() + tilde + 1, hex);
}

bool isAdminOperation(ipp_op_t op) {
  for (ipp_op_t client : kClientOperations)
    if (op == client) return false;
  return true;
}

bool basicPassword(const char* authorization, std::string* password) {
  if (authorization == nullptr || strncasecmp(authorization, "Basic ", 6) != 0) return false;
  const char* in = authorization + 6;
  while (*in == ' ') ++in;
  size_t inLen = std::strlen(in);
  if (inLen == 0 || inLen > 4096) return false;
  std::vector<char> out(inLen + 4);
  int outLen = static_cast<int>(out.size());
  if (httpDecode64_2(out.data(), &outLen, in) == nullptr || outLen <= 0) return false;
  std::string text(out.data(), static_cast<size_t>(std::min<int>(outLen, static_cast<int>(out.size()))));
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  *password = text.substr(colon + 1);
  return password->find('\0') == std::string::npos;
}

http_status_t adminAuthCallback(pappl_client_t* client, const char*, gid_t, void*) {
  ipp_t* request = papplClientGetRequest(client);
  // The web interface asks only for its settings pages.
  if (request != nullptr && !isAdminOperation(ippGetOperation(request))) return HTTP_STATUS_CONTINUE;
  std::string password;
  if (!basicPassword(httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION), &password))
    return HTTP_STATUS_UNAUTHORIZED;
  char stored[256] = {};
  papplSystemGetPassword(papplClientGetSystem(client), stored, sizeof stored);
  if (!stored[0]) return HTTP_STATUS_FORBIDDEN;  // no password: nobody administers over the network
  return passwordMatches(stored, password) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_UNAUTHORIZED;
}

}  // namespace tpa
