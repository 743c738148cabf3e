#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/RouterSim.h"

namespace qorsim {

// The ordered record of what the emulator received and did. Any emulator thread records; any
// thread reads. The newest kMaxEvents are kept (a long download stays bounded). The callback runs on
// the recording thread, outside the record's lock but under a second lock that keeps calls in order.
class EventLog {
 public:
  static constexpr size_t kMaxEvents = 50000;

  void Record(const std::string& kind, const std::string& detail);
  std::vector<SimEvent> All() const;
  std::vector<SimEvent> OfKind(const std::string& kind) const;
  size_t Count(const std::string& kind) const;
  uint64_t LastSeq() const;
  void Clear();
  void SetCallback(std::function<void(const SimEvent&)> callback);
  // timeoutMs in clock milliseconds.
  bool Wait(const std::string& kind, uint32_t timeoutMs, uint64_t afterSeq, SimEvent* found) const;

 private:
  bool FindLocked(const std::string& kind, uint64_t afterSeq, SimEvent* found) const;

  mutable std::mutex m_Lock;
  mutable std::condition_variable m_Changed;
  std::deque<SimEvent> m_Events;
  uint64_t m_Seq = 0;
  std::mutex m_CallbackLock;
  std::function<void(const SimEvent&)> m_Callback;
};

}  // namespace qorsim
