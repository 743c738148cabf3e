#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

// Bounds-checked access to received bytes. Every reader fails (returns false) instead of reading
// past the end; nothing here casts a structure onto the bytes.
namespace qorsim {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// The tool's own byte-order primitives; the emulator still builds every answer from its own tables.
using bytes::EqualAt;
using bytes::PutU16BE;
using bytes::PutU16LE;
using bytes::PutU32LE;
using bytes::ReadU16BE;
using bytes::ReadU16LE;
using bytes::ReadU32BE;
using bytes::ReadU32LE;
using bytes::ReadU8;

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
