#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Shared by the emulator's tests: byte vectors written out in hex, so a failing comparison shows
// which byte differs.
namespace simtest {

using Bytes = std::vector<uint8_t>;

inline std::string Hex(const Bytes& b) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i) s.push_back(' ');
    s.push_back(kHex[b[i] >> 4]);
    s.push_back(kHex[b[i] & 15]);
  }
  return s;
}

// bytes followed by n zero bytes
inline Bytes Padded(std::initializer_list<uint8_t> head, size_t zeros) {
  Bytes b(head);
  b.resize(b.size() + zeros, 0);
  return b;
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace simtest

#include <atomic>

#include "platform/Clock.h"

namespace simtest {

// A clock that moves only when told (or when something sleeps on it): restart times become exact.
class ManualClock final : public IClock {
 public:
  uint64_t TickMs() const override { return m_Now.load(); }
  int64_t NowSeconds() const override { return static_cast<int64_t>(m_Now.load() / 1000); }
  void SleepMs(uint32_t ms) const override { m_Now += ms; }
  int RealWaitMs(uint32_t ms) const override { return ms == kInfinite ? -1 : (ms ? 1 : 0); }
  void Advance(uint64_t ms) { m_Now += ms; }

 private:
  mutable std::atomic<uint64_t> m_Now{5000000};
};

}  // namespace simtest
