// Byte-exact text helpers, the line reader of the copy loops and the one
// place where the printer job is written.
#pragma once

#include <cstddef>
#include <cstdio>

namespace jw {

// The copy loops read the PostScript in lines of at most 1023 bytes
// (a 1024-byte buffer with its terminating zero).
constexpr size_t kLineBufferSize = 1024;

// The block copies (spooling, block mode, the colour road) move 8 KiB at a time.
constexpr size_t kBlockSize = 8192;

struct LineBuffer {
  // One spare byte beyond the line buffer: the deferred-media fix inserts a
  // "/" into a whole line, which may already hold 1023 bytes.
  char data[kLineBufferSize + 1];
  size_t len;   // bytes in data (a line may hold zero bytes: never use strlen)
  bool whole;   // data is a complete line; false for the pieces of a longer one
};

// Reads the next line (through its "\n") or, for a line longer than the
// buffer, the next piece of it.  Returns false at end of file.
bool read_line(FILE* in, LineBuffer* line);

// Searches within len bytes; null when absent.
const char* find_bytes(const char* hay, size_t len, const char* needle);
const char* find_bytes_nocase(const char* hay, size_t len, const char* needle);
bool contains(const char* text, const char* needle);         // null text: false
bool contains_nocase(const char* text, const char* needle);  // null text: false

// Writes to the job output (standard output unless a test redirected
// it), retrying short writes.  Every page comment "%%Page:" at the start
// of a line is reported to CUPS as "PAGE: N C": CUPS logs pages only from
// the last filter, and that is us.  C is 1 unless the job has asked the
// printer for copies of each page (the copy-count block the job carries
// when its copies are not collated by repeating it): then that count.
bool out_write(const void* data, size_t len);

}  // namespace jw
