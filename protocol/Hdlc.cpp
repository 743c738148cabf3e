#include "protocol/Hdlc.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/Crc16.h"
#include "platform/ByteOrder.h"

namespace {

constexpr uint64_t kLowBits = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kFlags = kLowBits * kHdlcFlag;
constexpr uint64_t kEscapes = kLowBits * kHdlcEscape;

// Marks (high bit) the zero bytes of v. Marks above the first real zero may be false (borrow), the
// lowest mark is always exact, which is all FirstSpecial needs.
inline uint64_t ZeroBytes(uint64_t v) { return (v - kLowBits) & ~v & kHighBits; }

inline size_t FirstMarked(uint64_t marks) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<size_t>(std::countr_zero(marks)) >> 3;
  } else {
    return static_cast<size_t>(std::countl_zero(marks)) >> 3;
  }
}

// Index of the first 0x7E or 0x7D in p[0, n), or n. Payloads are mostly plain bytes, so scanning
// eight at a time and copying whole runs is what makes encoding fast.
size_t FirstSpecial(const uint8_t* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i flags = _mm_set1_epi8(static_cast<char>(kHdlcFlag));
  const __m128i escapes = _mm_set1_epi8(static_cast<char>(kHdlcEscape));
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, flags), _mm_cmpeq_epi8(v, escapes));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return i + static_cast<size_t>(std::countr_zero(mask));
  }
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, p + i, 8);
    uint64_t marks = ZeroBytes(v ^ kFlags) | ZeroBytes(v ^ kEscapes);
    if (marks != 0) return i + FirstMarked(marks);
  }
  for (; i < n; ++i) {
    if (p[i] == kHdlcFlag || p[i] == kHdlcEscape) return i;
  }
  return n;
}

}  // namespace

void HdlcAppendEscaped(uint8_t* dest, int& pos, const uint8_t* src, size_t length, uint16_t& reg) {
  if (length == 0) return;
  // one pass of the checksum over the whole source beats many short ones between escapes
  reg = Crc16Run(reg, src, length);
  uint8_t* out = dest + pos;
  size_t i = 0;
  while (i < length) {
    size_t run = FirstSpecial(src + i, length - i);
    if (run != 0) {
      std::memcpy(out, src + i, run);
      out += run;
      i += run;
      if (i == length) break;
    }
    uint8_t b = src[i++];
    *out++ = kHdlcEscape;
    *out++ = static_cast<uint8_t>(b ^ 0x20);
  }
  pos = static_cast<int>(out - dest);
}

HdlcFrameWriter::HdlcFrameWriter(std::span<uint8_t> out, bool leadingFlag) : m_Out(out) {
  if (!leadingFlag) return;
  if (m_Out.empty()) {
    m_Spoiled = true;
    return;
  }
  m_Out[m_Position++] = kHdlcFlag;
}

bool HdlcFrameWriter::Append(std::span<const uint8_t> part) {
  if (m_Spoiled || part.size() > (m_Out.size() - static_cast<size_t>(m_Position)) / 2) {
    m_Spoiled = true;
    return false;
  }
  HdlcAppendEscaped(m_Out.data(), m_Position, part.data(), part.size(), m_Register);
  return true;
}

size_t HdlcFrameWriter::Finish() {
  // both FCS bytes escaped and the closing flag
  if (m_Spoiled || m_Out.size() - static_cast<size_t>(m_Position) < 2 * 2 + 1) return 0;
  uint8_t fcsBytes[2];
  bytes::PutU16LE(fcsBytes, static_cast<uint16_t>(~m_Register));
  uint16_t discard = 0;  // the FCS bytes must not change the FCS already computed
  HdlcAppendEscaped(m_Out.data(), m_Position, fcsBytes, sizeof fcsBytes, discard);
  m_Out[static_cast<size_t>(m_Position++)] = kHdlcFlag;
  m_Spoiled = true;  // a frame is finished once
  return static_cast<size_t>(m_Position);
}

int HdlcEncodeFrame(const uint8_t* payload, size_t length, uint8_t* out, bool leadingFlag) {
  HdlcFrameWriter writer(std::span<uint8_t>(out, HdlcMaxEncodedSize(length)), leadingFlag);
  if (length != 0) writer.Append(std::span<const uint8_t>(payload, length));
  return static_cast<int>(writer.Finish());
}

unsigned HdlcDecodeFrame(const uint8_t* frame, size_t length, uint8_t* out) {
  if (frame == nullptr || out == nullptr || length == 0) return 0;
  size_t end = length;
  if (frame[end - 1] == kHdlcFlag) --end;
  size_t i = (end > 0 && frame[0] == kHdlcFlag) ? 1 : 0;
  if (i >= end) return 0;
  size_t n = 0;
  // out may be frame itself: n never overtakes i, so each run moves down or stays in place
  while (i < end) {
    const void* esc = std::memchr(frame + i, kHdlcEscape, end - i);
    size_t run = esc ? static_cast<size_t>(static_cast<const uint8_t*>(esc) - (frame + i)) : end - i;
    if (run != 0) {
      if (out + n != frame + i) std::memmove(out + n, frame + i, run);
      n += run;
      i += run;
      if (i == end) break;
    }
    if (i + 1 >= end) return 0;  // a lone escape at the end
    out[n++] = static_cast<uint8_t>(frame[i + 1] ^ 0x20);
    i += 2;
  }
  if (n < 3 || Crc16Run(0xFFFF, out, n) != kHdlcGoodFcs) return 0;
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
