// Running the inspector in-process for the tests.
#pragma once

#include <string>
#include <vector>

#include "format.h"
#include "model.h"
#include "stream_builder.h"

namespace prntest {

struct Decoded {
  prndecode::Report report;
  std::vector<prndecode::PageImage> pages;
};

inline Decoded inspect_bytes(const Bytes& b, prndecode::Options options = {}) {
  Decoded d;
  d.report = prndecode::inspect(b.data(), b.size(), options,
                                [&](const prndecode::PageImage& page) { d.pages.push_back(page); });
  return d;
}

// All violations, one per line, for failure messages.
inline std::string violations(const prndecode::Report& r) {
  std::string s;
  for (const auto& v : r.violations) s += prndecode::violation_text(v) + "\n";
  return s;
}

inline std::vector<const prndecode::Item*> items_named(const prndecode::Report& r, const std::string& name) {
  std::vector<const prndecode::Item*> out;
  for (const auto& it : r.items) {
    if (it.name == name) out.push_back(&it);
  }
  return out;
}

inline size_t offset_of(const prndecode::Report& r, const std::string& name, size_t nth = 0) {
  auto v = items_named(r, name);
  return nth < v.size() ? size_t(v[nth]->offset) : size_t(-1);
}

inline std::vector<std::string> listing_lines(const prndecode::Report& r) {
  std::vector<std::string> out;
  for (const auto& it : r.items) out.push_back(prndecode::listing_line(it));
  return out;
}

}  // namespace prntest
