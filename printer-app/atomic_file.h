// Files the server rewrites go to the disk whole or not at all.
#pragma once

#include <string>

namespace tpa {

// Writes `text` to a file of its own next to `path` ("<path>.new"),
// flushes it to the disk and renames it over `path`, with mode `mode`.
// On failure the old file stays as it was, the temporary file is removed
// and `error` (when given) says why (strerror of the call that failed).
bool replaceFile(const std::string& path, const std::string& text, unsigned mode, std::string* error);

}  // namespace tpa
