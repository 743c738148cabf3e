#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// HDLC-like framing of the router link and the router datagrams:
//   [7E] escaped(payload) escaped(FCS low, FCS high) 7E
// 0x7E and 0x7D are sent as 0x7D, byte ^ 0x20. The FCS is CRC-16/X.25 over the unescaped payload.
constexpr uint8_t kHdlcFlag = 0x7E;
constexpr uint8_t kHdlcEscape = 0x7D;
constexpr uint16_t kHdlcGoodFcs = 0xF0B8;  // register after payload + FCS of a good frame
constexpr size_t kHdlcWriteBufferSize = 8210;
constexpr size_t kHdlcMaxPayload = 4102;  // worst case fits the write buffer
constexpr size_t kHdlcAssemblySize = 1024;

// Worst-case encoded size of a payload: every byte and both FCS bytes escaped, plus both flags.
constexpr size_t HdlcMaxEncodedSize(size_t payload) { return 2 * payload + 4 + 2; }

// Appends src to dest at pos, escaping 0x7E/0x7D, advancing pos and feeding each unescaped byte to
// reg. dest must have room for 2 x length more bytes.
void HdlcAppendEscaped(uint8_t* dest, int& pos, const uint8_t* src, size_t length, uint16_t& reg);

// Writes a whole frame into out (room for HdlcMaxEncodedSize(length)) and returns its length.
int HdlcEncodeFrame(const uint8_t* payload, size_t length, uint8_t* out, bool leadingFlag);

// Unescapes frame (with or without its flags) into out, which receives the payload followed by its
// two FCS bytes (room for length bytes; may be the input itself). Returns the payload length, or 0
// for a bad frame (wrong FCS, fewer than 3 unescaped bytes, a lone trailing 0x7D, nothing between
// the flags).
unsigned HdlcDecodeFrame(const uint8_t* frame, size_t length, uint8_t* out);

// Writes one frame into a caller's buffer part by part (a command header, then a block of data)
// without gathering the payload first: the leading flag when asked for, each part escaped with the
// FCS running over it, then the FCS and the closing flag. Each step checks the room it may need in
// the worst case (every byte escaped) against what is left, so a frame that might not fit is
// refused rather than cut.
class HdlcFrameWriter {
 public:
  HdlcFrameWriter(std::span<uint8_t> out, bool leadingFlag);
  // False when part might not fit escaped; the frame is then spoiled and Finish returns 0.
  bool Append(std::span<const uint8_t> part);
  // Appends the FCS and the closing flag; the frame's length, or 0 when anything did not fit.
  size_t Finish();

 private:
  std::span<uint8_t> m_Out;
  int m_Position = 0;
  uint16_t m_Register = 0xFFFF;
  bool m_Spoiled = false;
};

// Gathers a byte stream into frames, one byte at a time, as both read paths of the router link do:
// a 0x7E ends a frame when 3 or more bytes have gathered since the last frame, otherwise it is
// ignored and the gathered bytes stay; other bytes are kept (still escaped) in a 1024-byte buffer,
// and a byte that finds it full discards everything gathered together with itself.
class HdlcAssembler {
 public:
  // Returns true when b closed a frame; Data()/Size() then hold its escaped bytes (no flags) until
  // the next Push or Clear.
  bool Push(uint8_t b);
  const uint8_t* Data() const { return m_Buffer; }
  uint8_t* MutableData() { return m_Buffer; }
  size_t Size() const { return m_Complete; }
  // Bytes gathered towards the next frame.
  size_t Gathered() const { return m_Count; }
  void Clear() {
    m_Count = 0;
    m_Complete = 0;
  }

 private:
  uint8_t m_Buffer[kHdlcAssemblySize] = {};
  size_t m_Count = 0;
  size_t m_Complete = 0;
};
