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
// of nonce:password"), compared in a time that does not depend on where
// the two differ.
bool passwordMatches(pappl_system_t* system, const std::string& stored, const std::string& password);

// PAPPL's authentication callback implementing the rule above.
http_status_t adminAuthCallback(pappl_client_t* client, const char* group, gid_t gid, void* data);

// The administrator password's file, next to the state file and readable
// by its owner only.  Its first line is the password, which the
// administrator may change by editing the file and restarting; after a
// change on the web interface's Security page it is the new password's
// hash instead (the plain password never reaches the application).
struct PasswordFile {
  std::string path;
  std::string appliedHash;  // what PAPPL was last given or saved to the file
  bool writeFailed = false;  // the last write failed (logged once)
};

// Whether a line of the file is a PAPPL password hash ("nonce~sha256").
bool isPasswordHash(const std::string& line);

// Gives PAPPL the file's password (a first start, or a missing file,
// writes a new random one there) and tells the web's 401 page where it is.
void applyPasswordFile(pappl_system_t* system, PasswordFile* file);

// What the 401 page says of the password: where it is, or, once only its
// hash is kept in the file, how to give or set one.
std::string passwordWhereabouts(const std::string& path, bool hashed);

// Called at each state save: a password changed on the Security page goes
// to the file, so that a restart keeps it.  False when the file could not
// be written: the save fails and is tried again.
bool keepPasswordChange(pappl_system_t* system, PasswordFile* file);

}  // namespace tpa
