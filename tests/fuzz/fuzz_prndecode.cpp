// Any bytes through the stream inspector: it must never read outside the
// input nor allocate more than the input justifies.  The first byte picks
// the dialect to force (or detection).
#include <string>

#include "fuzz_target.h"
#include "model.h"
#include "seed_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  prndecode::Options options;
  switch (data[0] % 4) {
    case 1: options.force = prndecode::Dialect::PlatformC; break;
    case 2: options.force = prndecode::Dialect::PlatformZ; break;
    case 3: options.force = prndecode::Dialect::PlatformM; break;
    default: break;
  }
  int pages = 0;
  prndecode::Report r = prndecode::inspect(data + 1, size - 1, options,
                                           [&](const prndecode::PageImage&) { ++pages; });
  FUZZ_CHECK(r.size == size - 1);
  FUZZ_CHECK(pages <= r.pages);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  std::vector<std::string> seeds;
  int dialect = 0;
  for (const std::string& stream : printerStreamSeeds()) {
    seeds.push_back(std::string(1, '\0') + stream);                          // detected
    seeds.push_back(std::string(1, static_cast<char>(1 + dialect++ % 3)) + stream);  // forced
  }
  return seeds;
}
