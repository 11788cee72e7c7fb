#include <cstdio>
#include <cstdlib>

#include "fuzz_target.h"

void fuzzFail(const char* what) {
  std::fprintf(stderr, "fuzz invariant failed: %s\n", what);
  std::abort();
}
