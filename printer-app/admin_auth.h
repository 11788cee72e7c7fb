// Who may change the application's settings over the network.
//
// Printing, job and status requests are open to any client that can reach
// the server.  Requests that change printers or the system (adding,
// deleting, pausing printers, setting their defaults, the web interface's
// settings pages) need the administrator password, sent with HTTP Basic
// authentication under any user name.  Only the control socket, which
// only the server's own user and group can reach, works without it.
#pragma once

#include <string>

#include <pappl/pappl.h>

namespace tpa {

// Whether an IPP operation changes printers or the system.  Unknown
// operations count as changes.
bool isAdminOperation(ipp_op_t op);

// The password of an "Authorization: Basic ..." value; false when the
// value is missing, of another scheme or not valid base64 "user:password".
bool basicPassword(const char* authorization, std::string* password);

// Whether `password` is the one whose hash PAPPL stores ("nonce~sha256
// of nonce:password").  PAPPL 1.3's own comparison takes any password, so
// the application compares the hashes itself.
bool passwordMatches(const std::string& stored, const std::string& password);

// PAPPL's authentication callback implementing the rule above.
http_status_t adminAuthCallback(pappl_client_t* client, const char* group, gid_t gid, void* data);

}  // namespace tpa
