#include "fault_support.h"

using namespace testing_support;

namespace faults {

ProcessOptions filterOptions(const std::string& ppd, const TempDir& tmp) {
  ProcessOptions o;
  o.env = {"PPD=" + ppdPath(ppd), "TMPDIR=" + tmp.path()};
  o.stdinFromDevNull = true;
  return o;
}

std::vector<std::string> filterArgs(const std::string& copies, const std::string& options,
                                    const std::string& file) {
  std::vector<std::string> args = {binPath("rasterfilter"), "3", "u", "t", copies, options};
  if (!file.empty()) args.push_back(file);
  return args;
}

std::string streamViolation(const std::string& stream) {
  if (stream.empty()) return "";
  const ProcessResult c = inspectStream(stream, {"--check"});
  return c.exitStatus == 0 ? "" : "prndecode --check: " + c.out + c.err;
}

}  // namespace faults
