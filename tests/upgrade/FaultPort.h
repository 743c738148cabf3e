#pragma once

// A port that fails one chosen operation of the ports it wraps, for runs that put a fault at every
// I/O point of the router link. Every wrapped port of one plan counts its operations (Open, Write,
// Read) on the plan's one counter, so the N-th operation of a whole Check and Upgrade can be picked
// whichever connection or thread makes it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "net/INetPort.h"

namespace upgrade_test {

enum class PortFault {
  Timeout,     // the operation waits out its time: 258, nothing sent or taken
  Reset,       // the connection is reset: 10054 now and on every later operation of this port
  ShortRead,   // a read returns only the first byte of what arrived; the rest comes with the next
  ShortWrite,  // part of the data goes out, then the connection is reset
  PeerClose,   // the router closes the connection: 10101 now and on every later operation
};
const char* PortFaultName(PortFault fault);

struct PortFaultPlan {
  PortFault fault = PortFault::Timeout;
  uint32_t failAt = 0;  // the operation to fail, counted from 1; 0: none
  std::atomic<uint32_t> operations{0};
  std::atomic<bool> fired{false};
};

class CFaultPort final : public INetPort {
 public:
  CFaultPort(std::unique_ptr<INetPort> inner, std::shared_ptr<PortFaultPlan> plan);

  int Write(const uint8_t* data, uint32_t length, uint32_t timeout) override;
  int Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) override;
  int Close() override;
  int SetConfig(const std::string& address, uint16_t port) override;
  int Open() override;
  int GetPortType() override { return m_Inner->GetPortType(); }
  int Purge() override { return m_Inner->Purge(); }
  uint32_t GetGeneration() const override { return m_Inner->GetGeneration() + (m_Dead.load() != 0 ? 1 : 0); }
  void SetConnectionObserver(PortConnectionObserver observer) override;
  bool IsConnected() const override { return m_Dead.load() == 0 && m_Inner->IsConnected(); }

 private:
  // true when this operation is the one to fail
  bool Hit();
  // Ends the connection as the fault says: later operations fail with code; the owner hears of it.
  int Die(int code);
  int Forward(int result);

  std::unique_ptr<INetPort> m_Inner;
  std::shared_ptr<PortFaultPlan> m_Plan;
  PortConnectionObserver m_Observer;
  std::atomic<int> m_Dead{0};  // the code every operation fails with once the fault ended the link
  std::mutex m_HeldLock;
  std::vector<uint8_t> m_Held;  // bytes a short read kept back
};

}  // namespace upgrade_test
