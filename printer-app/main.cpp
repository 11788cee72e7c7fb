// tesvel-printer-app: every host-based Tesvel printer as a driverless IPP
// printer.  PAPPL owns the command line, the server, IPP and the web
// interface; jobs are printed by the installed rasterfilter.
//   tesvel-printer-app server | add | printers | submit | testpage | jobs | cancel | ...
#include <libgen.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_system.h"
#include "drivers.h"
#include "test_page.h"

namespace {

constexpr char kServiceRunDir[] = "/run/tesvel-printer-app";

std::string g_baseName;
bool g_server = false;  // the "server" sub-command, rather than a listing

pappl_system_t* system_cb(int numOptions, cups_option_t* options, void* drivers) {
  if (!g_server) return tpa::listingSystem(g_baseName.c_str());
  return tpa::systemCallback(g_baseName.c_str(), numOptions, options,
                             *static_cast<std::vector<pappl_pr_driver_t>*>(drivers));
}

// The sub-command: the first word that is neither an option nor an
// option's value.
std::string sub_command(int argc, char* argv[]) {
  const std::string withValue = "dhjmnotuv";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") return "";
    if (a.size() == 2 && a[0] == '-' && withValue.find(a[1]) != std::string::npos) {
      ++i;
      continue;
    }
    if (a[0] != '-') return a;
  }
  return "";
}

// "testpage [-d PRINTER]": the application draws the page and PAPPL's own
// "submit" sends it; the file goes once the job has been sent.
int test_page_command(int argc, char* argv[], int (*run)(int, char**)) {
  std::string printer;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "-d") printer = argv[i + 1];
  std::string why;
  std::string file = tpa::testPageForCommand(g_baseName.c_str(), &printer, &why);
  if (file.empty()) {
    std::fprintf(stderr, "%s: cannot print a test page: %s\n", g_baseName.c_str(), why.c_str());
    return 1;
  }
  std::vector<std::string> words = {argv[0], "submit", "-d", printer, "-t", "Test Page", file};
  std::vector<char*> args;
  for (std::string& w : words) args.push_back(&w[0]);
  args.push_back(nullptr);
  int status = run(static_cast<int>(words.size()), args.data());
  unlink(file.c_str());
  return status;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// In the sanitizer build: PAPPL 1.3 never frees the options papplMainloop
// parses from the command line (cupsAddOption) nor the footer it copies
// (papplSystemSetFooterHTML), nor the UUID it reads back from the state
// file at a restart (papplSystemSetUUID); those are PAPPL's, not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:cupsAddOption\nleak:papplSystemSetFooterHTML\nleak:papplSystemSetUUID\n";
}
#endif

int main(int argc, char* argv[]) {
  // A job whose filter has gone must not take the server with it.
  signal(SIGPIPE, SIG_IGN);
  // Nor a file size limit: the spool write fails and the job is refused.
  signal(SIGXFSZ, SIG_IGN);
  std::vector<char> name(argv[0], argv[0] + std::string(argv[0]).size() + 1);
  g_baseName = basename(name.data());
  g_server = sub_command(argc, argv) == "server";
  // One malloc arena for all the server's threads.  PAPPL runs each client
  // and each job on a thread of its own; with an arena per thread, glibc
  // keeps the peak of each (a decoded JPEG page among it), and a server
  // that has printed a busy hour holds twice its idle memory for good.
  if (g_server) mallopt(M_ARENA_MAX, 1);

  // Server and clients meet at a socket in the instance directory: a
  // private instance's (TESVEL_PRINTER_APP_DIR), else the system service's
  // run directory while the service has one.  PAPPL looks for the socket
  // of a server in SNAP_COMMON.
  const char* dir = std::getenv("TESVEL_PRINTER_APP_DIR");
  if (dir == nullptr && access(kServiceRunDir, F_OK) == 0) dir = kServiceRunDir;
  if (dir != nullptr) setenv("SNAP_COMMON", dir, 1);

  static std::vector<pappl_pr_driver_t> drivers = tpa::papplDriverTable();
  // The web pages need a footer: PAPPL 1.3 crashes rendering them without one.
  auto run = [](int n, char** args) {
    return papplMainloop(n, args, TESVEL_VERSION, "Tesvel Printer Application " TESVEL_VERSION,
                         static_cast<int>(drivers.size()), drivers.data(), tpa::autoaddCallback,
                         tpa::driverCallback, nullptr, nullptr, system_cb, nullptr, &drivers);
  };
  if (sub_command(argc, argv) == "testpage") return test_page_command(argc, argv, run);
  return run(argc, argv);
}
