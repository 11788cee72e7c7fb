#include "server_settings.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tpa {

namespace {

struct Flag {
  const char* name;
  pappl_soptions_t bit;
  bool on;  // the keyword sets the bit (true) or clears it (false)
};

const Flag kFlags[] = {
    {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST, true},
    {"no-multi-queue", PAPPL_SOPTIONS_MULTI_QUEUE, false},
    {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET, true},
    {"no-web-interface", PAPPL_SOPTIONS_WEB_INTERFACE, false},
    {"web-log", PAPPL_SOPTIONS_WEB_LOG, true},
    {"web-network", PAPPL_SOPTIONS_WEB_NETWORK, true},
    {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE, true},
    {"no-web-security", PAPPL_SOPTIONS_WEB_SECURITY, false},
    {"web-tls", PAPPL_SOPTIONS_WEB_TLS, true},
    {"no-tls", PAPPL_SOPTIONS_NO_TLS, true},
    {"tls", PAPPL_SOPTIONS_NO_TLS, false},
};

pappl_soptions_t parse_flags(const char* list, pappl_soptions_t v, std::string* error) {
  std::string s = list;
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t end = s.find(',', pos);
    if (end == std::string::npos) end = s.size();
    std::string word = s.substr(pos, end - pos);
    bool known = word.empty() || word == "none";
    if (word == "none") v = PAPPL_SOPTIONS_NONE;
    for (const Flag& f : kFlags)
      if (word == f.name) {
        known = true;
        v = static_cast<pappl_soptions_t>(f.on ? (v | f.bit) : (v & ~f.bit));
      }
    if (!known) *error = "unknown server-options keyword '" + word + "'";
    pos = end + 1;
  }
  return v;
}

bool is_loopback(const std::string& host) {
  return host == "localhost" || host == "127.0.0.1" || host == "::1" || host == "[::1]";
}

bool parse_level(const char* s, pappl_loglevel_t* out) {
  static const struct {
    const char* name;
    pappl_loglevel_t level;
  } levels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO}, {"warn", PAPPL_LOGLEVEL_WARN},
                {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL}};
  for (const auto& l : levels)
    if (std::strcmp(s, l.name) == 0) {
      *out = l.level;
      return true;
    }
  return false;
}

// Where state and spool live when the options do not say.
void default_places(const char* base, ServerSettings* s) {
  std::string b = base;
  if (const char* dir = std::getenv("TESVEL_PRINTER_APP_DIR")) {
    s->stateFile = std::string(dir) + "/" + b + ".state";
    s->spoolDirectory = std::string(dir) + "/" + b + ".d";
  } else if (getuid() == 0) {
    s->stateFile = "/var/lib/" + b + ".state";
    s->spoolDirectory = "/var/spool/" + b;
  } else {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string config = xdg ? xdg : std::string(home ? home : "/tmp") + "/.config";
    s->stateFile = config + "/" + b + ".state";
    s->spoolDirectory = config + "/" + b + ".d";
  }
}

// A whole decimal number from 0 to `max`.
bool parse_int(const char* v, long max, int* out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(v, &end, 10);
  if (*v == '\0' || *end != '\0' || errno != 0 || value < 0 || value > max) return false;
  *out = static_cast<int>(value);
  return true;
}

}  // namespace

int defaultJobsAtOnce(long cores, long memoryMegabytes) {
  constexpr long kJobMegabytes = 80;
  long byMemory = memoryMegabytes / 4 / kJobMegabytes;
  long jobs = std::min(2 * std::max(cores, 1L), byMemory);
  return static_cast<int>(std::max(jobs, 1L));
}

ServerSettings serverSettings(const char* base, int n, cups_option_t* o) {
  ServerSettings s;
  default_places(base, &s);
  // Loopback only, so no TLS unless asked for ("server-options=tls"): PAPPL
  // 1.3 would also advertise an ipps URI it does not list.
  s.options = static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                            PAPPL_SOPTIONS_WEB_SECURITY | PAPPL_SOPTIONS_WEB_LOG |
                                            PAPPL_SOPTIONS_NO_TLS);
  s.listenHostname = "localhost";
  if (const char* v = cupsGetOption("state-file", n, o)) s.stateFile = v;
  if (const char* v = cupsGetOption("spool-directory", n, o)) s.spoolDirectory = v;
  if (const char* v = cupsGetOption("log-file", n, o)) s.logFile = v;
  if (const char* v = cupsGetOption("log-level", n, o); v && !parse_level(v, &s.logLevel))
    s.error = std::string("unknown log-level '") + v + "'";
  if (const char* v = cupsGetOption("server-hostname", n, o)) s.serverHostname = v;
  if (const char* v = cupsGetOption("server-port", n, o); v && !parse_int(v, 65535, &s.port))
    s.error = std::string("bad server-port '") + v + "'";
  // Other machines reach the server only when the user says so:
  // listen-hostname=* (every interface) or a name or address of this host.
  if (const char* v = cupsGetOption("listen-hostname", n, o))
    s.listenHostname = std::strcmp(v, "*") == 0 ? "" : v;
  // Once the administrator password is checked, PAPPL asks every client
  // that is not on this machine to encrypt, printing clients too: a server
  // other machines reach uses TLS, unless server-options says "no-tls".
  if (!is_loopback(s.listenHostname))
    s.options = static_cast<pappl_soptions_t>(s.options & ~PAPPL_SOPTIONS_NO_TLS);
  if (const char* v = cupsGetOption("server-options", n, o)) s.options = parse_flags(v, s.options, &s.error);
  if (cupsGetOption("private-server", n, o)) s.listenNetwork = false;
  if (const char* v = cupsGetOption("watchdog-seconds", n, o); v && !parse_int(v, 86400, &s.watchdogSeconds))
    s.error = std::string("bad watchdog-seconds '") + v + "'";
  s.jobsAtOnce = defaultJobsAtOnce(sysconf(_SC_NPROCESSORS_ONLN),
                                   sysconf(_SC_PHYS_PAGES) / (1024 * 1024 / sysconf(_SC_PAGESIZE)));
  if (const char* v = cupsGetOption("jobs-at-once", n, o); v && !parse_int(v, 1000, &s.jobsAtOnce))
    s.error = std::string("bad jobs-at-once '") + v + "'";
  // How often the printer is asked how it is: a site can keep its network quiet.
  if (const char* v = cupsGetOption("status-seconds", n, o); v && (!parse_int(v, 3600, &s.statusSeconds) || s.statusSeconds == 0))
    s.error = std::string("bad status-seconds '") + v + "'";
  if (const char* v = cupsGetOption("idle-status-seconds", n, o);
      v && (!parse_int(v, 86400, &s.idleStatusSeconds) || s.idleStatusSeconds == 0))
    s.error = std::string("bad idle-status-seconds '") + v + "'";
  if (const char* v = cupsGetOption("admin-group", n, o)) s.adminGroup = v;
  if (const char* v = cupsGetOption("auth-service", n, o)) s.authService = v;
  // A server run by a service user is found by clients through the
  // instance directory's socket (the one PAPPL gives root).
  const char* dir = std::getenv("SNAP_COMMON");
  if (dir && getuid() != 0) s.controlSocket = std::string(dir) + "/" + base + ".sock";
  return s;
}

}  // namespace tpa
