#include "sim/EventLog.h"

#include <chrono>

#include "platform/Clock.h"
#include "sim/SimBytes.h"

namespace qorsim {

std::string HexBytes(ByteView b, size_t limit) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < b.size() && i < limit; ++i) {
    if (i) s.push_back(' ');
    s.push_back(kHex[b[i] >> 4]);
    s.push_back(kHex[b[i] & 15]);
  }
  if (b.size() > limit) s += " ..";
  return s;
}

void EventLog::Record(const std::string& kind, const std::string& detail) {
  // the callback lock is taken first so that callbacks see events in seq order
  std::lock_guard<std::mutex> order(m_CallbackLock);
  SimEvent e;
  {
    std::lock_guard<std::mutex> lock(m_Lock);
    e.seq = ++m_Seq;
    e.tickMs = Clock().TickMs();
    e.kind = kind;
    e.detail = detail;
    m_Events.push_back(e);
    if (m_Events.size() > kMaxEvents) m_Events.pop_front();
  }
  m_Changed.notify_all();
  if (m_Callback) m_Callback(e);
}

std::vector<SimEvent> EventLog::All() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return {m_Events.begin(), m_Events.end()};
}

std::vector<SimEvent> EventLog::OfKind(const std::string& kind) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  std::vector<SimEvent> out;
  for (const auto& e : m_Events) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

size_t EventLog::Count(const std::string& kind) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  size_t n = 0;
  for (const auto& e : m_Events) n += e.kind == kind ? 1 : 0;
  return n;
}

uint64_t EventLog::LastSeq() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Seq;
}

void EventLog::Clear() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Events.clear();
}

void EventLog::SetCallback(std::function<void(const SimEvent&)> callback) {
  std::lock_guard<std::mutex> order(m_CallbackLock);
  m_Callback = std::move(callback);
}

bool EventLog::FindLocked(const std::string& kind, uint64_t afterSeq, SimEvent* found) const {
  for (const auto& e : m_Events) {
    if (e.seq > afterSeq && e.kind == kind) {
      if (found) *found = e;
      return true;
    }
  }
  return false;
}

bool EventLog::Wait(const std::string& kind, uint32_t timeoutMs, uint64_t afterSeq, SimEvent* found) const {
  auto deadline = std::chrono::steady_clock::now() + Clock().RealWait(timeoutMs);
  std::unique_lock<std::mutex> lock(m_Lock);
  return m_Changed.wait_until(lock, deadline, [&] { return FindLocked(kind, afterSeq, found); });
}

}  // namespace qorsim
