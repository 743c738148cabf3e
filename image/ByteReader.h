#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Bounds-checked little-endian reads from untrusted bytes (image files, embedded images). Every
// offset arithmetic is done in 64 bits, so offsets taken from a header cannot wrap around; a read
// that does not lie wholly inside the span fails and leaves the output untouched.
namespace bytes {

inline bool InRange(std::span<const uint8_t> s, uint64_t offset, uint64_t length) {
  return offset <= s.size() && length <= s.size() - offset;
}

inline bool ReadU16LE(std::span<const uint8_t> s, uint64_t offset, uint16_t& out) {
  if (!InRange(s, offset, 2)) return false;
  const size_t o = static_cast<size_t>(offset);
  out = static_cast<uint16_t>(s[o] | (s[o + 1] << 8));
  return true;
}

inline bool ReadU32LE(std::span<const uint8_t> s, uint64_t offset, uint32_t& out) {
  if (!InRange(s, offset, 4)) return false;
  const size_t o = static_cast<size_t>(offset);
  out = static_cast<uint32_t>(s[o]) | (static_cast<uint32_t>(s[o + 1]) << 8) |
        (static_cast<uint32_t>(s[o + 2]) << 16) | (static_cast<uint32_t>(s[o + 3]) << 24);
  return true;
}

// Copies length bytes at offset into out (which holds at least length bytes).
inline bool ReadBytes(std::span<const uint8_t> s, uint64_t offset, uint64_t length, uint8_t* out) {
  if (!InRange(s, offset, length)) return false;
  for (size_t i = 0; i < static_cast<size_t>(length); ++i) out[i] = s[static_cast<size_t>(offset) + i];
  return true;
}

// The sub-span at offset, or an empty span when it does not lie inside s.
inline std::span<const uint8_t> Slice(std::span<const uint8_t> s, uint64_t offset, uint64_t length) {
  if (!InRange(s, offset, length)) return {};
  return s.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
}

}  // namespace bytes
