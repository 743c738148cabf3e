#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
  // The same as Push over data[0, n) byte by byte, stopping after the byte that closes a frame: a
  // run of bytes without a flag is appended at once, so a 4 KiB block costs a search and a copy
  // rather than a call per byte. used: how many bytes were taken. True when a frame closed.
  bool PushRun(const uint8_t* data, size_t n, size_t& used) {
    used = 0;
    while (used < n) {
      if (m_Closed) {
        m_Buffer.clear();
        m_Closed = false;
      }
      const uint8_t* start = data + used;
      const void* found = std::memchr(start, kHdlcFlag, n - used);
      const size_t run = found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - start) : n - used;
      AppendRun(start, run);
      used += run;
      if (!found) return false;
      ++used;  // the flag
      if (m_Buffer.size() >= 3) {
        m_Closed = true;
        return true;
      }
    }
    return false;
  }
  std::vector<uint8_t>& Frame() { return m_Buffer; }
  void Clear() {
    m_Buffer.clear();
    m_Closed = false;
  }
  size_t Overflows() const { return m_Overflows; }

 private:
  // bytes without a flag: whatever fits, and a byte that finds the buffer full discards it all
  void AppendRun(const uint8_t* p, size_t n) {
    while (n > 0) {
      const size_t room = kCapacity - std::min(kCapacity, m_Buffer.size());
      if (room == 0) {
        m_Buffer.clear();
        ++m_Overflows;
        ++p;
        --n;
        continue;
      }
      const size_t take = std::min(room, n);
      m_Buffer.insert(m_Buffer.end(), p, p + take);
      p += take;
      n -= take;
    }
  }

  std::vector<uint8_t> m_Buffer;
  bool m_Closed = false;
  size_t m_Overflows = 0;
};

}  // namespace qorsim
