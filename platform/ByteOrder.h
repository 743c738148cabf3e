#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The byte-order helpers of the whole tool: image files, router datagrams, DIAG requests and answers,
// the download frames and the emulator's own answers all read and store multi-byte fields here.
//
// Reads take untrusted bytes (image files, anything received): every offset arithmetic is done in 64
// bits, so offsets taken from a header cannot wrap around, and a read that does not lie wholly inside
// the span fails and leaves the output untouched.
//
// Stores write into a buffer the caller has already sized for the whole record (a builder checks its
// buffer once, then fills in fields at fixed offsets), so they take a plain pointer.
namespace bytes {

inline bool InRange(std::span<const uint8_t> s, uint64_t offset, uint64_t length) {
  return offset <= s.size() && length <= s.size() - offset;
}

inline bool ReadU8(std::span<const uint8_t> s, uint64_t offset, uint8_t& out) {
  if (!InRange(s, offset, 1)) return false;
  out = s[static_cast<size_t>(offset)];
  return true;
}

inline bool ReadU16LE(std::span<const uint8_t> s, uint64_t offset, uint16_t& out) {
  if (!InRange(s, offset, 2)) return false;
  const size_t o = static_cast<size_t>(offset);
  out = static_cast<uint16_t>(s[o] | (s[o + 1] << 8));
  return true;
}

inline bool ReadU16BE(std::span<const uint8_t> s, uint64_t offset, uint16_t& out) {
  if (!InRange(s, offset, 2)) return false;
  const size_t o = static_cast<size_t>(offset);
  out = static_cast<uint16_t>((s[o] << 8) | s[o + 1]);
  return true;
}

inline bool ReadU32LE(std::span<const uint8_t> s, uint64_t offset, uint32_t& out) {
  if (!InRange(s, offset, 4)) return false;
  const size_t o = static_cast<size_t>(offset);
  out = static_cast<uint32_t>(s[o]) | (static_cast<uint32_t>(s[o + 1]) << 8) |
        (static_cast<uint32_t>(s[o + 2]) << 16) | (static_cast<uint32_t>(s[o + 3]) << 24);
  return true;
}

inline bool ReadU32BE(std::span<const uint8_t> s, uint64_t offset, uint32_t& out) {
  if (!InRange(s, offset, 4)) return false;
  const size_t o = static_cast<size_t>(offset);
  out = (static_cast<uint32_t>(s[o]) << 24) | (static_cast<uint32_t>(s[o + 1]) << 16) |
        (static_cast<uint32_t>(s[o + 2]) << 8) | static_cast<uint32_t>(s[o + 3]);
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

// True when s holds expected at offset (false when it does not reach that far).
inline bool EqualAt(std::span<const uint8_t> s, uint64_t offset, std::span<const uint8_t> expected) {
  if (!InRange(s, offset, expected.size())) return false;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (s[static_cast<size_t>(offset) + i] != expected[i]) return false;
  }
  return true;
}

inline void PutU16LE(uint8_t* dest, uint16_t v) {
  dest[0] = static_cast<uint8_t>(v);
  dest[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU16BE(uint8_t* dest, uint16_t v) {
  dest[0] = static_cast<uint8_t>(v >> 8);
  dest[1] = static_cast<uint8_t>(v);
}

inline void PutU32LE(uint8_t* dest, uint32_t v) {
  dest[0] = static_cast<uint8_t>(v);
  dest[1] = static_cast<uint8_t>(v >> 8);
  dest[2] = static_cast<uint8_t>(v >> 16);
  dest[3] = static_cast<uint8_t>(v >> 24);
}

inline void PutU32BE(uint8_t* dest, uint32_t v) {
  dest[0] = static_cast<uint8_t>(v >> 24);
  dest[1] = static_cast<uint8_t>(v >> 16);
  dest[2] = static_cast<uint8_t>(v >> 8);
  dest[3] = static_cast<uint8_t>(v);
}

}  // namespace bytes
