#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/Hdlc.h"

namespace qorsim {

// Gathers the router link's byte stream into frames for the module, by the same rules as the
// tool's receive path (a 0x7E closes a frame once 3 or more bytes have gathered, and is ignored
// before that; a byte that finds the buffer full discards everything gathered), but with room for
// the largest frame the tool sends: a 4096-byte write block with every byte escaped fills the
// tool's whole write buffer. The tool's own 1024-byte assembly limit is for answers only.
class FrameGatherer {
 public:
  static constexpr size_t kCapacity = kHdlcWriteBufferSize;

  // True when b closed a frame; Frame() then holds its escaped bytes (no flags) until the next Push.
  bool Push(uint8_t b) {
    if (m_Closed) {
      m_Buffer.clear();
      m_Closed = false;
    }
    if (b == kHdlcFlag) {
      if (m_Buffer.size() < 3) return false;
      m_Closed = true;
      return true;
    }
    if (m_Buffer.size() >= kCapacity) {
      m_Buffer.clear();
      ++m_Overflows;
      return false;
    }
    m_Buffer.push_back(b);
    return false;
  }
  std::vector<uint8_t>& Frame() { return m_Buffer; }
  void Clear() {
    m_Buffer.clear();
    m_Closed = false;
  }
  size_t Overflows() const { return m_Overflows; }

 private:
  std::vector<uint8_t> m_Buffer;
  bool m_Closed = false;
  size_t m_Overflows = 0;
};

}  // namespace qorsim
