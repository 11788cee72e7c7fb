#include "admin_auth.h"

#include "atomic_file.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
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

std::string read_first_line(const std::string& file) {
  std::string text;
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buf[512];
  ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  if (n > 0) text.assign(buf, static_cast<size_t>(n));
  return text.substr(0, text.find_first_of("\r\n"));
}

// Replaces the file's contents; only its owner may read it.  A failure is
// logged once, not at each of the saves that try again.
bool write_file(pappl_system_t* system, PasswordFile* file, const std::string& text) {
  std::string why;
  bool ok = replaceFile(file->path, text, 0600, &why);
  if (!ok && !file->writeFailed)
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot write the administrator password to %s: %s",
             file->path.c_str(), why.c_str());
  file->writeFailed = !ok;
  return ok;
}

std::string random_password() {
  unsigned char raw[12];
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && read(fd, raw, sizeof raw) == static_cast<ssize_t>(sizeof raw);
  if (fd >= 0) close(fd);
  if (!ok) return "";
  // No look-alikes (0/O, 1/l/I): the password is read off a file and typed.
  static const char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::string password;
  for (unsigned char c : raw) password += kAlphabet[c % (sizeof kAlphabet - 1)];
  return password;
}

}  // namespace

bool isPasswordHash(const std::string& line) {
  size_t tilde = line.find('~');
  if (tilde == std::string::npos || tilde == 0 || line.size() - tilde - 1 != 64) return false;
  return std::all_of(line.begin(), line.end(), [](char c) { return c == '~' || std::isxdigit(static_cast<unsigned char>(c)); });
}

void applyPasswordFile(pappl_system_t* system, PasswordFile* file) {
  std::string line = read_first_line(file->path);
  if (line.empty()) {
    line = random_password();
    if (line.empty() || !write_file(system, file, line + "\n")) return;
  }
  char hash[100] = {};
  if (isPasswordHash(line))
    snprintf(hash, sizeof hash, "%s", line.c_str());
  else
    papplSystemHashPassword(system, nullptr, line.c_str(), hash, sizeof hash);
  papplSystemSetPassword(system, hash);
  file->appliedHash = hash;
  papplLog(system, PAPPL_LOGLEVEL_INFO, "The administrator password is in %s.", file->path.c_str());
  papplSystemSetAuthMessage(system, passwordWhereabouts(file->path, isPasswordHash(line)).c_str());
}

std::string passwordWhereabouts(const std::string& path, bool hashed) {
  // A file that holds only the hash must not send the administrator there
  // for the password.
  if (hashed)
    return "The administrator password was changed on the Security page; " + path +
           " keeps only its hash.  Give the new password with any user name, or write a new password into "
           "that file and restart the server.";
  return "The administrator password is in " + path +
         " on the server (readable by the server's user only); give it with any user name.";
}

bool keepPasswordChange(pappl_system_t* system, PasswordFile* file) {
  char hash[100] = {};
  papplSystemGetPassword(system, hash, sizeof hash);
  if (!hash[0] || file->appliedHash.empty() || file->appliedHash == hash) return true;
  char when[64] = "";
  time_t now = time(nullptr);
  struct tm tm;
  strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", gmtime_r(&now, &tm));
  std::string text = std::string(hash) + "\n" +
                     "# The administrator password was changed on the web interface's Security page on " + when +
                     ".\n# The line above is its hash.  To set a password here instead, replace these lines\n"
                     "# with the new password and restart the server.\n";
  if (!write_file(system, file, text)) return false;
  file->appliedHash = hash;
  papplSystemSetAuthMessage(system, passwordWhereabouts(file->path, true).c_str());
  papplLog(system, PAPPL_LOGLEVEL_INFO, "The administrator password was changed; its hash is in %s.",
           file->path.c_str());
  return true;
}

bool passwordMatches(pappl_system_t* system, const std::string& stored, const std::string& password) {
  if (!isPasswordHash(stored)) return false;
  char hash[100] = {};
  papplSystemHashPassword(system, stored.c_str(), password.c_str(), hash, sizeof hash);
  return same_secret(stored.c_str(), hash);
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
  return passwordMatches(papplClientGetSystem(client), stored, password) ? HTTP_STATUS_CONTINUE
                                                                        : HTTP_STATUS_UNAUTHORIZED;
}

}  // namespace tpa
