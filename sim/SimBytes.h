#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Bounds-checked access to received bytes. Every reader fails (returns false) instead of reading
// past the end; nothing here casts a structure onto the bytes.
namespace qorsim {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline bool ReadU8(ByteView b, size_t at, uint8_t& v) {
  if (at >= b.size()) return false;
  v = b[at];
  return true;
}

inline bool ReadU16LE(ByteView b, size_t at, uint16_t& v) {
  if (b.size() < 2 || at > b.size() - 2) return false;
  v = static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
  return true;
}

inline bool ReadU16BE(ByteView b, size_t at, uint16_t& v) {
  if (b.size() < 2 || at > b.size() - 2) return false;
  v = static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
  return true;
}

inline bool ReadU32LE(ByteView b, size_t at, uint32_t& v) {
  if (b.size() < 4 || at > b.size() - 4) return false;
  v = static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
      (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
  return true;
}

inline bool ReadU32BE(ByteView b, size_t at, uint32_t& v) {
  if (b.size() < 4 || at > b.size() - 4) return false;
  v = (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
      (static_cast<uint32_t>(b[at + 2]) << 8) | static_cast<uint32_t>(b[at + 3]);
  return true;
}

// True when b[at, at + n) exists and equals expected.
inline bool BytesEqual(ByteView b, size_t at, ByteView expected) {
  if (at > b.size() || b.size() - at < expected.size()) return false;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (b[at + i] != expected[i]) return false;
  }
  return true;
}

inline void PutU32LE(uint8_t* d, uint32_t v) {
  d[0] = static_cast<uint8_t>(v);
  d[1] = static_cast<uint8_t>(v >> 8);
  d[2] = static_cast<uint8_t>(v >> 16);
  d[3] = static_cast<uint8_t>(v >> 24);
}

inline void PutU16LE(uint8_t* d, uint16_t v) {
  d[0] = static_cast<uint8_t>(v);
  d[1] = static_cast<uint8_t>(v >> 8);
}

// Copies text into dest[0, size) and zero-fills the rest; longer text is cut.
inline void PutText(uint8_t* dest, size_t size, const std::string& text) {
  for (size_t i = 0; i < size; ++i) dest[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}

// Text from b[at, at + max) up to the first zero byte (or the end of the bytes).
inline std::string ReadText(ByteView b, size_t at, size_t max) {
  std::string s;
  for (size_t i = at; i < b.size() && i - at < max && b[i] != 0; ++i) s.push_back(static_cast<char>(b[i]));
  return s;
}

// "4B C9 03 FF" for event details; long inputs are cut after limit bytes with " ..".
std::string HexBytes(ByteView b, size_t limit = 16);

}  // namespace qorsim
