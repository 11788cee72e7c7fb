#include "fault_support.h"

#include <dirent.h>

using namespace testing_support;

namespace faults {

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

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
  TempDir dir;
  writeFile(dir.file("job.prn"), stream);
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  ProcessResult c = runProcess({binPath("prndecode"), "--check", dir.file("job.prn")}, quiet);
  return c.exitStatus == 0 ? "" : "prndecode --check: " + c.out + c.err;
}

}  // namespace faults
