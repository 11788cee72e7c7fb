// What every fuzz target provides.  The same source builds a libFuzzer
// program (clang, make fuzz) and a replay program that CI runs over the
// seeds made in code and over any corpus files given to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Seed inputs, made in code.
std::vector<std::string> fuzzSeeds();

// A failed invariant: report and abort, so both libFuzzer and the replay
// program count it as a crash.
[[noreturn]] void fuzzFail(const char* what);
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) fuzzFail(#cond); \
  } while (0)
