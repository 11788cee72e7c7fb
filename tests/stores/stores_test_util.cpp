#include "stores_test_util.h"

#include <cstdlib>
#include <sstream>

namespace stores_test {

using testing_support::ProcessResult;

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

std::string inspectorListing(const std::string& stream, const std::string& dialect) {
  std::vector<std::string> args = {"--list"};
  if (!dialect.empty()) args.insert(args.end(), {"--dialect", dialect});
  return testing_support::inspectStream(stream, args).out;
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
  const ProcessResult r = testing_support::inspectStream(stream, {"--check", "--no-images"});
  return r.exitStatus == 0 ? "" : r.out + r.err;
}

}  // namespace stores_test
