#pragma once

#include <netinet/in.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "net/CSocketHandle.h"
#include "net/CWsaEvent.h"
#include "net/INetPort.h"

// A connected TCP byte stream to one IPv4 address and port. Reconnects by itself, once per failing
// call, when a send or receive reports the connection aborted or reset. Purge() ends a Read that
// waits in another thread. Used by one writing and one reading thread at once; Purge, IsOpen and
// Shutdown may be called from any thread.
//
// Pauses (clock milliseconds): every failing Read returns after 100 ms, or 1500 ms when the peer
// closed the connection; a Write pauses 100 ms after it reconnected. Open connects blocking, bounded
// only by the system's connection time-out.
//
// A call whose socket is replaced by the other thread's reconnect (or by Close) while it runs fails
// with kErrAborted and does not reconnect again; the next call uses the new connection.
class CTcpPort : public INetPort {
 public:
  CTcpPort();
  ~CTcpPort() override;

  int Write(const uint8_t* data, uint32_t length, uint32_t timeout) override;
  int Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) override;
  int Close() override;
  int SetConfig(const std::string& address, uint16_t port) override;
  int Open() override;
  int GetPortType() override { return NetPortTcp; }
  int Purge() override;

  bool IsOpen() const { return m_Socket.load() >= 0; }
  // The current descriptor (-1 when closed), for socket options and diagnostics; owned by the port.
  int GetSocket() const { return m_Socket.load(); }
  // Shuts both directions down without closing the socket; m_LastError unchanged.
  bool Shutdown();

 private:
  std::shared_ptr<CSocketHandle> Acquire() const;
  int OpenLocked();
  int CloseLocked();
  // Reconnects unless the other thread (or Close) already replaced the socket that failed;
  // 1 when the port is open afterwards.
  int Reconnect(const std::shared_ptr<CSocketHandle>& failed);

  std::atomic<int> m_Socket{-1};  // the current descriptor, for IsOpen; -1 when closed
  sockaddr_in m_Address{};        // guarded by m_OpenLock
  CWsaEvent m_PurgeEvent;
  std::mutex m_OpenLock;  // serialises Open/Close/SetConfig between the reading and the writing thread
  mutable std::mutex m_HandleLock;  // guards m_Handle only; never held across a wait
  std::shared_ptr<CSocketHandle> m_Handle;
  std::atomic<int> m_TraceId{0};  // last number of the address, named in trace texts
};
