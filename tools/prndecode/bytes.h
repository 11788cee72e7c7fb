// Bounds-checked byte access for the stream walkers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace prndecode {

inline uint32_t be16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint32_t le16(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }
inline uint32_t le24(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t le32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The 8-bit sum of `count` bytes.
inline uint8_t byte_sum(const uint8_t* p, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += p[i];
  return uint8_t(sum);
}

// True when the `len` bytes of `lit` start at `pos` of a `size`-byte buffer.
inline bool has_at(const uint8_t* data, size_t size, size_t pos, const char* lit, size_t len) {
  return pos <= size && size - pos >= len && std::memcmp(data + pos, lit, len) == 0;
}

// Bytes as a printable string with C escapes (\r, \n, \xNN), for messages.
std::string escape_bytes(const uint8_t* p, size_t len);
std::string hex_byte(unsigned value);  // "0x1a"

}  // namespace prndecode
