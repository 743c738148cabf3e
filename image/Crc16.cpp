#include "image/Crc16.h"

namespace {
constexpr uint16_t MakeEntry(unsigned i) {
  uint16_t r = static_cast<uint16_t>(i);
  for (int k = 0; k < 8; ++k) r = (r & 1) ? static_cast<uint16_t>((r >> 1) ^ 0x8408) : static_cast<uint16_t>(r >> 1);
  return r;
}
struct Table {
  uint16_t v[256];
  constexpr Table() : v() {
    for (unsigned i = 0; i < 256; ++i) v[i] = MakeEntry(i);
  }
};
constexpr Table kTable{};
}  // namespace

const uint16_t kCrc16Table[256] = {
#define E(i) kTable.v[i]
#define R8(b) E(b), E(b + 1), E(b + 2), E(b + 3), E(b + 4), E(b + 5), E(b + 6), E(b + 7)
#define R64(b) R8(b), R8(b + 8), R8(b + 16), R8(b + 24), R8(b + 32), R8(b + 40), R8(b + 48), R8(b + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef E
};

void Crc16Update(uint16_t& reg, uint8_t byte) {
  reg = static_cast<uint16_t>((reg >> 8) ^ kCrc16Table[(reg ^ byte) & 0xFF]);
}

uint16_t Crc16Run(uint16_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) reg = static_cast<uint16_t>((reg >> 8) ^ kCrc16Table[(reg ^ p[i]) & 0xFF]);
  return reg;
}

uint16_t Crc16Compute(const void* data, size_t length) {
  return static_cast<uint16_t>(~Crc16Run(0xFFFF, data, length));
}
