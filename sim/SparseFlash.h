#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace qorsim {

// The module's emulated flash: only written bytes exist, kept as contiguous runs keyed by their
// start address. A write that touches or overlaps runs merges them; newer bytes win. The total
// size is capped so a misbehaving peer cannot exhaust memory. Not thread-safe (the module locks).
class SparseFlash {
 public:
  static constexpr size_t kDefaultCapacity = 64u << 20;  // bytes

  explicit SparseFlash(size_t capacity = kDefaultCapacity) : m_Capacity(capacity) {}

  // False (nothing written) when the range wraps past 0xFFFFFFFF or the flash would grow beyond
  // its capacity.
  bool Write(uint32_t address, const uint8_t* data, size_t length);
  bool Read(uint32_t address, size_t length, std::vector<uint8_t>* out) const;
  const std::map<uint32_t, std::vector<uint8_t>>& Runs() const { return m_Runs; }
  size_t Size() const { return m_Size; }
  void Clear() {
    m_Runs.clear();
    m_Size = 0;
  }

 private:
  size_t m_Capacity;
  size_t m_Size = 0;
  std::map<uint32_t, std::vector<uint8_t>> m_Runs;
};

}  // namespace qorsim
