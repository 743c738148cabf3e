#pragma once

#include <cstdint>
#include <mutex>

#include "sim/RouterSim.h"

namespace qorsim {

// The emulator's current faults, shared by its threads. Counters (handshake-fail=N and the like)
// are consumed one use at a time through Take.
class FaultStore {
 public:
  explicit FaultStore(const Faults& initial) : m_Faults(initial) {}

  Faults Get() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Faults;
  }
  void Set(const Faults& faults) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Faults = faults;
  }
  // True (and one use fewer) when the counter is above zero.
  bool Take(int Faults::*counter) {
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Faults.*counter <= 0) return false;
    --(m_Faults.*counter);
    return true;
  }
  // A count-down that ends in one event (reset-after-blocks=N): false and one fewer while above zero,
  // true once at zero (the counter is then off), false while off (-1).
  bool CountDown(int64_t Faults::*counter) {
    std::lock_guard<std::mutex> lock(m_Lock);
    int64_t& left = m_Faults.*counter;
    if (left < 0) return false;
    if (left == 0) {
      left = -1;
      return true;
    }
    --left;
    return false;
  }

 private:
  mutable std::mutex m_Lock;
  Faults m_Faults;
};

}  // namespace qorsim
