// PAPPL's own texts on the web pages, put right in the languages it ships:
// a table, by PAPPL's English text or keyword.
#pragma once

#include <cstddef>

namespace tpa {

struct WebText {
  const char* key;  // PAPPL's English text, or "attribute.keyword"
  const char* de;
  const char* es;
  const char* fr;
  const char* it;
  const char* ja;
};

extern const WebText kPageTexts[];
extern const size_t kPageTextCount;

}  // namespace tpa
