// Replays a fuzz target over its seeds and over corpus files or
// directories:  fuzz_<target>_replay [FILE|DIR ...]
//                fuzz_<target>_replay --write-seeds DIR
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_target.h"

namespace {

int run_file(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) {
    int n = 0;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') n += run_file(path + "/" + e->d_name);
      closedir(d);
    }
    return n;
  }
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  const std::string data = s.str();
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
    int i = 0;
    for (const std::string& seed : fuzzSeeds()) {
      std::ofstream(std::string(argv[2]) + "/seed-" + std::to_string(i++), std::ios::binary) << seed;
    }
    std::printf("%d seeds written\n", i);
    return 0;
  }
  int n = 0;
  for (const std::string& seed : fuzzSeeds()) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
    ++n;
  }
  for (int i = 1; i < argc; ++i) n += run_file(argv[i]);
  std::printf("%d passed, 0 failed\n", n);
  return 0;
}
