// The driver installed the way a package build does it: cmake --install
// into a DESTDIR staging tree with the /usr prefix, then the uninstall
// target with the same DESTDIR.  Where the filters belong is asked of CUPS
// itself (cups-config), not of our build.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cupsd_harness.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;

std::string cups_server_bin() {
  ts::ProcessOptions opts;
  opts.stdinFromDevNull = true;
  ts::ProcessResult r = ts::runProcess({"/usr/bin/cups-config", "--serverbin"}, opts);
  std::string dir = r.out.substr(0, r.out.find('\n'));
  return r.exitStatus == 0 && !dir.empty() ? dir : "/usr/lib/cups";
}

std::set<std::string> ppd_names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".ppd") names.insert(e.path().filename().string());
  return names;
}

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXOTH) != 0 &&
         (st.st_mode & S_IWOTH) == 0;
}

std::set<std::string> files_below(const std::string& dir) {
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (!e.is_directory()) files.insert(e.path().string());
  return files;
}

ts::ProcessResult cmake(const std::vector<std::string>& args, const std::string& destdir) {
  std::vector<std::string> argv = {"/usr/bin/cmake"};
  argv.insert(argv.end(), args.begin(), args.end());
  ts::ProcessOptions opts;
  opts.stdinFromDevNull = true;
  opts.timeoutSeconds = 120;
  opts.env = {"DESTDIR=" + destdir};
  return ts::runProcess(argv, opts);
}

void install_into(const std::string& root) {
  ts::ProcessResult r = cmake({"--install", TESVEL_BUILD_DIR, "--prefix", "/usr"}, root);
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
}

const char kPpdDir[] = "/usr/share/ppd/tesvel";

TEST(Install, AStagedInstallHasTheFiltersPrndecodePpdsAndUdevRuleAndUninstallRemovesThem) {
  ts::TempDir stage;
  std::string root = stage.file("root");
  ASSERT_NO_FATAL_FAILURE(install_into(root));

  // CUPS runs filters as lp from its filter directory: executable by all,
  // writable by none but the owner (cupsd refuses others).
  std::string filterDir = root + cups_server_bin() + "/filter";
  for (const char* f : {"rasterfilter", "jobwrapper"})
    EXPECT_TRUE(is_executable_file(filterDir + "/" + f)) << filterDir << "/" << f;
  EXPECT_TRUE(is_executable_file(root + "/usr/bin/prndecode"));

  // Every PPD of the build, unchanged, where `lpinfo -m` looks.
  std::string ppdDir = root + kPpdDir;
  ASSERT_TRUE(fs::is_directory(ppdDir));
  std::set<std::string> built = ppd_names(TESVEL_PPD_DIR);
  EXPECT_EQ(ppd_names(ppdDir), built);
  for (const auto& name : built)
    EXPECT_EQ(ts::readFile(ppdDir + "/" + name), ts::readFile(ts::ppdPath(name))) << name;

  // The udev rule gives the lp group the maker's printers only.
  std::string rule = ts::readFile(root + "/lib/udev/rules.d/60-tesvel-printers.rules");
  EXPECT_NE(rule.find("ATTR{manufacturer}==\"Tesvel"), std::string::npos) << rule;
  EXPECT_NE(rule.find("GROUP=\"lp\""), std::string::npos) << rule;

  // The Printer Application with its service, its user and its spool.
  EXPECT_TRUE(is_executable_file(root + "/usr/bin/tesvel-printer-app"));
  std::string unit = ts::readFile(root + "/lib/systemd/system/tesvel-printer-app.service");
  EXPECT_NE(unit.find("ExecStart=/usr/bin/tesvel-printer-app server"), std::string::npos) << unit;
  EXPECT_NE(ts::readFile(root + "/usr/lib/sysusers.d/tesvel-printer-app.conf").find("m tesvel-printer-app lp"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(root + "/usr/lib/tmpfiles.d/tesvel-printer-app.conf"));

  // Nothing outside the prefix but the CUPS, udev and systemd directories.
  for (const auto& f : files_below(root)) {
    std::string p = f.substr(root.size());
    EXPECT_TRUE(p.rfind("/usr/", 0) == 0 || p.rfind("/lib/udev/", 0) == 0 ||
                p.rfind("/lib/systemd/", 0) == 0)
        << p;
  }

  ts::ProcessResult r = cmake({"--build", TESVEL_BUILD_DIR, "--target", "uninstall"}, root);
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(files_below(root), std::set<std::string>{}) << "left behind by uninstall";
  EXPECT_FALSE(fs::exists(ppdDir)) << "the PPD directory is the driver's own";
}

// cupsd's PPD lister reads every installed PPD: each model must be offered
// to `lpadmin -m`, under its file name below the model directory.
TEST(Install, LpinfoListsEveryInstalledModel) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd runs only as root here";
  ts::TempDir stage;
  std::string root = stage.file("root");
  ASSERT_NO_FATAL_FAILURE(install_into(root));
  chmod(stage.path().c_str(), 0755);  // the lister runs as lp
  ts::CupsdSetup setup;
  setup.modelDir = root + kPpdDir;
  ts::PrivateCupsd cupsd(setup);
  ASSERT_TRUE(cupsd.ready()) << cupsd.daemonOutput() << cupsd.errorLog();
  ts::ProcessResult r = cupsd.run({"/usr/sbin/lpinfo", "-m"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  for (const auto& name : ppd_names(TESVEL_PPD_DIR))
    EXPECT_NE(("\n" + r.out).find("\n" + name + " "), std::string::npos) << name << " is not listed";
}

// The README's own commands, as a user types them: each indented line that
// starts with one of `programs`, continuation lines joined, split into words.
std::vector<std::vector<std::string>> readme_commands(const std::set<std::string>& programs) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(ts::readFile(std::string(TESVEL_SOURCE_DIR) + "/README.md"));
  std::string line, command;
  while (std::getline(in, line)) {
    if (line.rfind("    ", 0) != 0) continue;
    command += line.substr(0, line.find(" #"));
    if (!command.empty() && command.back() == '\\') {
      command.pop_back();
      continue;
    }
    std::istringstream words(command);
    std::vector<std::string> argv;
    for (std::string w; words >> w;) argv.push_back(w);
    if (!argv.empty() && programs.count(argv[0])) out.push_back(argv);
    command.clear();
  }
  return out;
}

// CUPS names the PPDs below /usr/share/ppd "lsb/usr/..." and reads them
// from there, whatever its model directory: the README's names need the
// PPDs really there.  This build's PPDs are put there for the test and
// removed after it, unless the same driver is installed already.
class SystemPpds {
 public:
  explicit SystemPpds(const std::string& from) {
    if (fs::exists(kPpdDir)) {
      for (const auto& name : ppd_names(TESVEL_PPD_DIR))
        if (ts::readFile(std::string(kPpdDir) + "/" + name) != ts::readFile(from + "/" + name))
          skip_ = "another version of the driver is installed in /usr/share/ppd/tesvel";
      return;
    }
    fs::create_directories(kPpdDir);
    created_ = true;
    for (const auto& e : fs::directory_iterator(from))
      fs::copy_file(e.path(), std::string(kPpdDir) + "/" + e.path().filename().string());
  }
  ~SystemPpds() {
    if (created_) fs::remove_all(kPpdDir);
  }
  const std::string& skip() const { return skip_; }

 private:
  bool created_ = false;
  std::string skip_;
};

// The README's lpadmin and lp commands, as written, against the installed
// PPDs in a private cupsd.  (Its driverless queue for the Printer
// Application is the printer-app tests' business.)
TEST(Install, TheReadmeCommandsAddQueuesFromTheInstalledPpdsAndPrint) {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd runs only as root here";
  ts::TempDir stage;
  std::string root = stage.file("root");
  ASSERT_NO_FATAL_FAILURE(install_into(root));
  SystemPpds installed(root + kPpdDir);
  if (!installed.skip().empty()) GTEST_SKIP() << installed.skip();
  ts::CupsdSetup setup;
  setup.systemBackends = {"usb"};
  setup.filters = {ts::binPath("rasterfilter"), ts::binPath("jobwrapper")};
  ts::PrivateCupsd cupsd(setup);
  ASSERT_TRUE(cupsd.ready()) << cupsd.daemonOutput() << cupsd.errorLog();
  ts::writeFile(stage.file("document.pdf"), ts::makePdf(2));
  chmod(stage.file("document.pdf").c_str(), 0644);

  auto commands = readme_commands({"lpadmin", "lp"});
  ASSERT_GE(commands.size(), 3u) << "the README lost its lpadmin and lp commands";
  int job = 0;
  for (auto argv : commands) {
    if (argv.back() == "everywhere") continue;
    for (std::string& w : argv) {
      if (w == "document.pdf") w = stage.file("document.pdf");
      if (w == "file:///tmp/job.prn") w = "file://" + cupsd.outFile("job.prn");
    }
    argv[0] = "/usr/sbin/" + argv[0];
    if (argv[0] == "/usr/sbin/lp") argv[0] = "/usr/bin/lp";
    ts::ProcessResult r = cupsd.run(argv);
    EXPECT_EQ(r.exitStatus, 0) << testing::PrintToString(argv) << r.out << r.err << cupsd.errorLog();
    if (r.out.find("request id is debug-") != std::string::npos) job = std::atoi(r.out.c_str() + r.out.find('-') + 1);
  }
  ASSERT_GT(job, 0) << "the README prints to its debug queue";
  EXPECT_EQ(cupsd.waitForJob(job, 120), ts::JobState::Completed) << cupsd.jobLog(job);
  ts::ProcessResult check = ts::inspectStream(ts::readFile(cupsd.outFile("job.prn")), {"--check"});
  EXPECT_EQ(check.exitStatus, 0) << check.out;
  EXPECT_NE(check.out.find("pages=2"), std::string::npos) << check.out;
}

}  // namespace
