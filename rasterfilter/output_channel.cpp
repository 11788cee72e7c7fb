#include "output_channel.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "job_state.h"
#include "keepalive.h"

namespace rf {

namespace {

WriteFn g_write = ::write;

// Result of one destination of a SendDataToFile call.
enum class Outcome { kNone, kOk, kFailed };

Outcome store_write(int fd, const void* data, size_t length) {
  if (write_all(fd, data, length)) return Outcome::kOk;
  g_job.storeFailed = 1;
  return Outcome::kFailed;
}

// Stores only: every store that applies must have taken the block.
Outcome merge(Outcome a, Outcome b) {
  if (a == Outcome::kFailed || b == Outcome::kFailed) return Outcome::kFailed;
  if (a == Outcome::kOk || b == Outcome::kOk) return Outcome::kOk;
  return Outcome::kNone;
}

Outcome write_stores(const void* data, size_t length) {
  Outcome stores = Outcome::kNone;
  const int page = g_job.pageCount;
  if (g_job.copyStoreFd != 0) {
    stores = merge(stores, store_write(g_job.copyStoreFd, data, length));
    g_job.copyStorePages.add(page, length);
  }
  if (g_job.oddPageStoreFd != 0 && page % 2 == 1) {
    stores = merge(stores, store_write(g_job.oddPageStoreFd, data, length));
    g_job.oddStorePages.add(page, length);
  }
  if (g_job.evenPageStoreFd != 0 && page % 2 == 0 && page >= 2) {
    stores = merge(stores, store_write(g_job.evenPageStoreFd, data, length));
    // The even pages are replayed last to first, so each page's size is kept.
    const size_t slot = static_cast<size_t>(page / 2 - 1);
    if (g_job.evenPageSizes.size() <= slot) g_job.evenPageSizes.resize(slot + 1, 0);
    g_job.evenPageSizes[slot] += static_cast<int64_t>(length);
  }
  return stores;
}

}  // namespace

void setOutputWriter(WriteFn fn) { g_write = fn ? fn : ::write; }

bool write_all(int fd, const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const ssize_t n = g_write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

int SendDataToFile(const void* data, int length, int toPageStore) {
  // Raised before the flush: a timer tick during the flush must not slip
  // its filler in front of this block.
  g_job.outputBusy = 1;
  std::fflush(stdout);
  if (data == nullptr) {
    std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s",
                  "SendDataToFile() :: NULL == pData");
    return 0;
  }
  // Once the printer stream is gone the job is over; nothing more goes out.
  if (length < 0 || g_job.stdoutFailed) return 0;
  const size_t size = static_cast<size_t>(length);

  Outcome printer = Outcome::kNone;
  if (g_job.stdoutEnabled == 1) {
    printer = write_all(g_job.outputFd, data, size) ? Outcome::kOk : Outcome::kFailed;
    if (printer == Outcome::kFailed) g_job.stdoutFailed = 1;
  }
  Outcome stores = Outcome::kNone;
  if (toPageStore == 1 && printer != Outcome::kFailed) stores = write_stores(data, size);

  g_job.outputBusy = 1;
  // A block that went to the printer is judged by the printer alone; a store
  // failure is kept in storeFailed and does not make a sent record "unsent".
  const Outcome result = g_job.stdoutEnabled == 1 ? printer : stores;
  return result == Outcome::kOk ? 1 : 0;
}

void prependErrorText(const char* text) {
  char joined[sizeof g_job.errorText];
  // snprintf cuts at 1023 characters and always terminates.
  std::snprintf(joined, sizeof joined, "%s%s", text, g_job.errorText);
  std::memcpy(g_job.errorText, joined, sizeof joined);
}

void writeDiag(const char* text) {
  write_all(g_job.diagFd, text, std::strlen(text));
}

void writeErrorLines(const char* text) {
  static const char kPrefix[] = "ERROR: ";
  const char* line = text;
  while (*line != '\0') {
    const char* end = std::strchr(line, '\n');
    const size_t len = end ? static_cast<size_t>(end - line) : std::strlen(line);
    if (len > 0) {
      char out[sizeof kPrefix + sizeof g_job.errorText + 1];
      const int n = std::snprintf(out, sizeof out, "%s%.*s\n", kPrefix, static_cast<int>(len), line);
      write_all(g_job.diagFd, out, static_cast<size_t>(n) < sizeof out ? n : sizeof out - 1);
    }
    line += len;
    if (*line == '\n') ++line;
  }
}

void failureReport(const char* fixedText) {
  prependErrorText(fixedText);
  writeErrorLines(g_job.errorText);
}

bool sendStep(const char* op, const char* name, bool filler, const void* data, size_t length,
              int toPageStore) {
  if ((!filler || Insert00() == 1) &&
      SendDataToFile(data, static_cast<int>(length), toPageStore) == 1)
    return true;
  char text[160];
  std::snprintf(text, sizeof text, "%s :: send %s Fail 0 ==  \n", op, name);
  prependErrorText(text);
  return false;
}

const char kOutputLostText[] = "The printer stream was closed; the job ends here.\n";

void reportOutputLost() { writeErrorLines(kOutputLostText); }

void reportUnsupportedModel(const char* modelName) {
  char text[1100];
  std::snprintf(text, sizeof text, "The model \"%s\" is not supported by this driver.\n",
                modelName ? modelName : "");
  writeErrorLines(text);
}

}  // namespace rf
