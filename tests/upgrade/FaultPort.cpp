#include "FaultPort.h"

#include <algorithm>
#include <cstring>

namespace upgrade_test {

const char* PortFaultName(PortFault fault) {
  switch (fault) {
    case PortFault::Timeout:
      return "timeout";
    case PortFault::Reset:
      return "reset";
    case PortFault::ShortRead:
      return "short read";
    case PortFault::ShortWrite:
      return "short write";
    case PortFault::PeerClose:
      return "peer close";
  }
  return "?";
}

CFaultPort::CFaultPort(std::unique_ptr<INetPort> inner, std::shared_ptr<PortFaultPlan> plan)
    : m_Inner(std::move(inner)), m_Plan(std::move(plan)) {}

bool CFaultPort::Hit() {
  const uint32_t n = m_Plan->operations.fetch_add(1) + 1;
  if (n != m_Plan->failAt) return false;
  m_Plan->fired.store(true);
  return true;
}

int CFaultPort::Die(int code) {
  if (m_Dead.exchange(code) == 0) {
    // the connection is gone for good: the emulator sees it end, the owner hears of it once
    m_Inner->Close();
    if (m_Observer) {
      PortConnectionEvent event;
      event.kind =
          code == kErrDisconnected ? PortConnectionEvent::PeerClosed : PortConnectionEvent::ReconnectFailed;
      event.cause = code;
      event.openError = code;
      m_Observer(event);
    }
  }
  SetError(code);
  return 0;
}

int CFaultPort::Forward(int result) {
  if (result == 0) SetError(m_Inner->GetLastError());
  return result;
}

void CFaultPort::SetConnectionObserver(PortConnectionObserver observer) {
  m_Observer = observer;
  m_Inner->SetConnectionObserver(std::move(observer));
}

int CFaultPort::SetConfig(const std::string& address, uint16_t port) {
  return Forward(m_Inner->SetConfig(address, port));
}

int CFaultPort::Open() {
  // a connect reads and writes nothing: short reads and writes let it through
  if (Hit() && m_Plan->fault != PortFault::ShortRead && m_Plan->fault != PortFault::ShortWrite) {
    SetError(m_Plan->fault == PortFault::Timeout ? kErrTimedOut : kErrConnReset);
    return 0;
  }
  return Forward(m_Inner->Open());
}

int CFaultPort::Close() { return m_Inner->Close(); }

int CFaultPort::Write(const uint8_t* data, uint32_t length, uint32_t timeout) {
  if (const int dead = m_Dead.load(); dead != 0) return Die(dead);
  if (Hit()) {
    switch (m_Plan->fault) {
      case PortFault::Timeout:
        SetError(kErrTimeout);
        return 0;
      case PortFault::ShortWrite:
        if (length > 1) m_Inner->Write(data, length / 2, timeout);
        return Die(kErrConnReset);
      case PortFault::Reset:
        return Die(kErrConnReset);
      case PortFault::PeerClose:
        return Die(kErrDisconnected);
      case PortFault::ShortRead:
        break;  // a write has no short read: it goes through
    }
  }
  return Forward(m_Inner->Write(data, length, timeout));
}

int CFaultPort::Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) {
  if (const int dead = m_Dead.load(); dead != 0) return Die(dead);
  {
    std::lock_guard<std::mutex> guard(m_HeldLock);
    if (!m_Held.empty() && length > 0) {
      const uint32_t take = std::min<uint32_t>(length, static_cast<uint32_t>(m_Held.size()));
      std::memcpy(buffer, m_Held.data(), take);
      m_Held.erase(m_Held.begin(), m_Held.begin() + take);
      *received = take;
      return 1;
    }
  }
  if (Hit()) {
    switch (m_Plan->fault) {
      case PortFault::Timeout:
        SetError(kErrTimeout);
        return 0;
      case PortFault::Reset:
      case PortFault::ShortWrite:  // a read has no short write: the connection ends
        return Die(kErrConnReset);
      case PortFault::PeerClose:
        return Die(kErrDisconnected);
      case PortFault::ShortRead: {
        const int result = m_Inner->Read(buffer, length, received, timeout);
        if (result == 1 && *received > 1) {
          std::lock_guard<std::mutex> guard(m_HeldLock);
          m_Held.assign(buffer + 1, buffer + *received);
          *received = 1;
        }
        return Forward(result);
      }
    }
  }
  return Forward(m_Inner->Read(buffer, length, received, timeout));
}

}  // namespace upgrade_test
