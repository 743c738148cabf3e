#include "protocol/Hdlc.h"

#include "image/Crc16.h"

void HdlcAppendEscaped(uint8_t* dest, int& pos, const uint8_t* src, size_t length, uint16_t& reg) {
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = src[i];
    Crc16Update(reg, b);
    if (b == kHdlcFlag || b == kHdlcEscape) {
      dest[pos++] = kHdlcEscape;
      dest[pos++] = static_cast<uint8_t>(b ^ 0x20);
    } else {
      dest[pos++] = b;
    }
  }
}

int HdlcEncodeFrame(const uint8_t* payload, size_t length, uint8_t* out, bool leadingFlag) {
  int pos = 0;
  if (leadingFlag) out[pos++] = kHdlcFlag;
  uint16_t reg = 0xFFFF;
  HdlcAppendEscaped(out, pos, payload, length, reg);
  uint16_t fcs = static_cast<uint16_t>(~reg);
  uint8_t fcsBytes[2] = {static_cast<uint8_t>(fcs & 0xFF), static_cast<uint8_t>(fcs >> 8)};
  uint16_t discard = 0;  // the FCS bytes must not change the FCS already computed
  HdlcAppendEscaped(out, pos, fcsBytes, 2, discard);
  out[pos++] = kHdlcFlag;
  return pos;
}

unsigned HdlcDecodeFrame(const uint8_t* frame, size_t length, uint8_t* out) {
  if (frame == nullptr || length == 0) return 0;
  size_t end = length;
  if (frame[end - 1] == kHdlcFlag) --end;
  size_t i = (end > 0 && frame[0] == kHdlcFlag) ? 1 : 0;
  if (i >= end) return 0;
  uint16_t reg = 0xFFFF;
  size_t n = 0;
  while (i < end) {
    uint8_t b = frame[i++];
    if (b == kHdlcEscape) {
      if (i >= end) return 0;  // a lone escape at the end
      b = static_cast<uint8_t>(frame[i++] ^ 0x20);
    }
    out[n++] = b;
    Crc16Update(reg, b);
  }
  if (reg != kHdlcGoodFcs || n < 3) return 0;
  return static_cast<unsigned>(n - 2);
}

bool HdlcAssembler::Push(uint8_t b) {
  m_Complete = 0;
  if (b == kHdlcFlag) {
    if (m_Count >= 3) {
      m_Complete = m_Count;
      m_Count = 0;
      return true;
    }
    return false;
  }
  if (m_Count >= kHdlcAssemblySize) {
    m_Count = 0;  // overflow: drop the partial frame and this byte
    return false;
  }
  m_Buffer[m_Count++] = b;
  return false;
}
