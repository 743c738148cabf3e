#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "net/CSocketHandle.h"
#include "net/CWsaEvent.h"
#include "net/INetPort.h"
#include "net/SocketOs.h"

// A connected TCP byte stream to one IPv4 address and port. Reconnects by itself, once per failing
// call, when a send or receive reports the connection aborted or reset. Purge() ends a Read that
// waits in another thread. Used by one writing and one reading thread at once; Purge, IsOpen and
// Shutdown may be called from any thread.
//
// Pauses (clock milliseconds): every failing Read returns after 100 ms, or 1500 ms when the peer
// closed the connection (a Purge ends that pause early); a Write pauses 100 ms after it reconnected.
//
// Open (and the reconnect) connects without blocking and waits at most kConnectLimitMs of clock time
// for the answer: a router that drops the connection attempt would otherwise hold the caller for the
// system's own limit (about two minutes on Linux). No lock is held while it waits, so Close from the
// other thread ends a connect in progress at once (the connect then fails with kErrAborted), and a
// later Open replaces an attempt still in progress. A connect that runs out fails with
// kErrTimedOut (10060); one ended by the thread's stop request with kErrInterrupted (10004).
//
// A call whose socket is replaced by the other thread's reconnect (or by Close) while it runs fails
// with kErrAborted and does not reconnect again; the next call uses the new connection.
//
// The generation (GetGeneration) grows with every reconnect, every close of a connection and the
// peer's orderly close of one; the observer hears of reconnects (made or failed) and of the peer's
// close, on the thread that met them.
class CTcpPort : public INetPort {
 public:
  // The longest wait for a connection to be accepted, in clock milliseconds.
  static constexpr uint32_t kConnectLimitMs = 21000;

  CTcpPort();
  ~CTcpPort() override;

  int Write(const uint8_t* data, uint32_t length, uint32_t timeout) override;
  int Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) override;
  int Close() override;
  int SetConfig(const std::string& address, uint16_t port) override;
  int Open() override;
  int GetPortType() override { return NetPortTcp; }
  int Purge() override;
  uint32_t GetGeneration() const override { return m_Generation.load(); }
  void SetConnectionObserver(PortConnectionObserver observer) override { m_Observer = std::move(observer); }
  bool IsConnected() const override { return IsOpen(); }

  bool IsOpen() const { return m_Socket.load() >= 0; }
  // The current descriptor (-1 when closed), for socket options and diagnostics; owned by the port.
  int GetSocket() const { return m_Socket.load(); }
  // Shuts both directions down without closing the socket; m_LastError unchanged.
  bool Shutdown();

 private:
  std::shared_ptr<CSocketHandle> Acquire() const;
  // Drops the current connection and makes a new one. With failed set, only while that socket is
  // still the current one (a reconnect); *attempted tells whether a connect was made. 1 when the
  // port is open afterwards; *error receives the code of a failure.
  int Connect(const std::shared_ptr<CSocketHandle>* failed, bool* attempted, int* error);
  int CloseLocked();
  // Reconnects unless the other thread (or Close) already replaced the socket that failed, and tells
  // the observer; 1 when the port is open afterwards. cause: the code that ended the connection.
  int Reconnect(const std::shared_ptr<CSocketHandle>& failed, int cause);
  void Notify(const PortConnectionEvent& event);
  // A pause that a Purge ends early (consuming it), as it ends a waiting Read.
  void PurgeablePause(uint32_t ms);

  std::atomic<int> m_Socket{-1};          // the current descriptor, for IsOpen; -1 when closed
  sockaddr_in m_Address{};                // guarded by m_OpenLock
  std::atomic<uint16_t> m_RemotePort{0};  // m_Address's port in host order, for the fault seam
  CWsaEvent m_PurgeEvent;
  // Serialises Open/Close/SetConfig between the reading and the writing thread; guards m_Address and
  // m_Connecting. Never held across a wait, a connect included.
  std::mutex m_OpenLock;
  mutable std::mutex m_HandleLock;  // guards m_Handle only; never held across a wait
  std::shared_ptr<CSocketHandle> m_Handle;
  std::shared_ptr<CSocketHandle> m_Connecting;  // the connect in progress, if any
  std::atomic<uint32_t> m_Generation{0};
  PortConnectionObserver m_Observer;
  std::atomic<int> m_TraceId{0};  // last number of the address, named in trace texts
};
