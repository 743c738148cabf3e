#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "net/INetPort.h"
#include "platform/Clock.h"

// A scripted port for the router link: the test feeds incoming bytes, every Write is recorded as
// one entry, Purge ends a waiting Read. The state is shared so the test can still look at it after
// the adapter destroyed the port.
struct FakePortState {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<uint8_t> incoming;
  std::vector<std::vector<uint8_t>> writes;
  std::vector<uint32_t> readTimeouts;
  std::vector<uint32_t> readLengths;
  uint32_t maxChunk = 0xFFFFFFFFu;  // 1: one byte per read
  bool purged = false;
  bool ignorePurge = false;  // a read that only ends when released
  bool released = false;
  int purgeCalls = 0;
  int closeCalls = 0;
  int closeResult = 1;
  int writeResult = 1;
  int errorAfterWrite = 0;
  bool destroyed = false;
  int reading = 0;

  void Feed(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> g(lock);
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    changed.notify_all();
  }
  void Release() {
    std::lock_guard<std::mutex> g(lock);
    released = true;
    changed.notify_all();
  }
  size_t Left() {
    std::lock_guard<std::mutex> g(lock);
    return incoming.size();
  }
  std::vector<uint32_t> Timeouts() {
    std::lock_guard<std::mutex> g(lock);
    return readTimeouts;
  }
  void SetChunk(uint32_t n) {
    std::lock_guard<std::mutex> g(lock);
    maxChunk = n;
  }
  void SetIgnorePurge(bool on) {
    std::lock_guard<std::mutex> g(lock);
    ignorePurge = on;
  }
  int Reading() {
    std::lock_guard<std::mutex> g(lock);
    return reading;
  }
  // Waits (real time, bounded) until a Read is waiting inside the port.
  bool WaitReading(int ms = 5000) {
    std::unique_lock<std::mutex> g(lock);
    return changed.wait_for(g, std::chrono::milliseconds(ms), [&] { return reading > 0; });
  }
};

class FakePort : public INetPort {
 public:
  explicit FakePort(std::shared_ptr<FakePortState> state, int kind = NetPortTcp)
      : m_State(std::move(state)), m_Kind(kind) {}
  ~FakePort() override {
    std::lock_guard<std::mutex> g(m_State->lock);
    m_State->destroyed = true;
  }

  int Write(const uint8_t* data, uint32_t length, uint32_t) override {
    std::lock_guard<std::mutex> g(m_State->lock);
    m_State->writes.emplace_back(data, data + length);
    m_LastError = m_State->errorAfterWrite;
    return m_State->writeResult;
  }

  int Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) override {
    std::unique_lock<std::mutex> g(m_State->lock);
    m_State->readTimeouts.push_back(timeout);
    m_State->readLengths.push_back(length);
    ++m_State->reading;
    m_State->changed.notify_all();
    auto ready = [&] {
      if (m_State->ignorePurge) return m_State->released;
      return !m_State->incoming.empty() || m_State->purged;
    };
    bool woke = m_State->changed.wait_for(g, Clock().RealWait(timeout), ready);
    --m_State->reading;
    if (woke && !m_State->incoming.empty()) {
      uint32_t n =
          std::min<uint32_t>({length, m_State->maxChunk, static_cast<uint32_t>(m_State->incoming.size())});
      for (uint32_t i = 0; i < n; ++i) {
        buffer[i] = m_State->incoming.front();
        m_State->incoming.pop_front();
      }
      *received = n;
      m_LastError = 0;
      return 1;
    }
    if (woke && m_State->purged) {
      m_State->purged = false;
      m_LastError = kErrPurged;
      return 0;
    }
    m_LastError = kErrTimeout;
    return 0;
  }

  int Close() override {
    std::lock_guard<std::mutex> g(m_State->lock);
    ++m_State->closeCalls;
    return m_State->closeResult;
  }
  int SetConfig(const std::string&, uint16_t) override { return 1; }
  int Open() override { return 1; }
  int GetPortType() override { return m_Kind; }
  int Purge() override {
    std::lock_guard<std::mutex> g(m_State->lock);
    ++m_State->purgeCalls;
    m_State->purged = true;
    m_State->changed.notify_all();
    return 1;
  }

 private:
  std::shared_ptr<FakePortState> m_State;
  int m_Kind;
};
