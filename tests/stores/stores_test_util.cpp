#include "stores_test_util.h"

#include <dirent.h>

#include <cstdlib>
#include <sstream>

namespace stores_test {

using testing_support::ProcessResult;
using testing_support::runProcess;

testing_support::ProcessOptions FilterRun::filter_options(const std::string& ppd,
                                                          const std::string& tmpdir,
                                                          const std::string& cmsLibrary) {
  testing_support::ProcessOptions o;
  o.inheritEnv = false;
  o.env = {"PPD=" + ppd, "TMPDIR=" + tmpdir, "PATH=/usr/bin:/bin"};
  if (!cmsLibrary.empty()) o.env.push_back("TESVEL_CMS_LIBRARY=" + cmsLibrary);
  if (const char* asan = std::getenv("ASAN_OPTIONS")) o.env.push_back(std::string("ASAN_OPTIONS=") + asan);
  return o;
}

std::vector<std::string> dirEntries(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") out.push_back(name);
  }
  closedir(d);
  return out;
}

namespace {

ProcessResult inspect(const std::string& stream, std::vector<std::string> args) {
  testing_support::TempDir dir;
  const std::string file = dir.file("job.prn");
  testing_support::writeFile(file, stream);
  std::vector<std::string> argv = {testing_support::binPath("prndecode")};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(file);
  return runProcess(argv);
}

}  // namespace

std::string inspectorListing(const std::string& stream, const std::string& dialect) {
  std::vector<std::string> args = {"--list"};
  if (!dialect.empty()) args.insert(args.end(), {"--dialect", dialect});
  return inspect(stream, args).out;
}

std::vector<std::string> pageSequence(const std::string& stream, const std::string& dialect) {
  std::vector<std::string> out;
  bool pages = false;
  std::istringstream lines(inspectorListing(stream, dialect));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("page ", 0) == 0) {
      // The chunk stream carries no page numbers.
      const size_t at = line.find(" number=");
      out.push_back(at == std::string::npos ? "page"
                                             : "page " + line.substr(at + 8, line.find(' ', at + 8) - at - 8));
      pages = true;
    } else if (line.rfind("manualDuplexCmd ", 0) == 0 || line.rfind("MANUAL_DUPLEX_CMD ", 0) == 0) {
      out.push_back("duplex");
    } else if (pages && (line.find("@PJL EOJ") != std::string::npos || line.rfind("END_DOC_CMD ", 0) == 0)) {
      // (a job may open with an EOJ that ends whatever came before it)
      out.push_back("eoj");
    }
  }
  return out;
}

std::string checkStream(const std::string& stream) {
  const ProcessResult r = inspect(stream, {"--check", "--no-images"});
  return r.exitStatus == 0 ? "" : r.out + r.err;
}

}  // namespace stores_test
