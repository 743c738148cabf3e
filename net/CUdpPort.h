#pragma once

#include <atomic>

#include "net/INetPort.h"
#include "net/SocketOs.h"

// Datagram port: each Write sends one datagram to the configured address, each Read returns one
// datagram from any sender. Broadcasting is switched on when the address's last number is 255.
// No connection, no purge, no reconnect, no pauses: every failure returns at once (a Read or Write
// that has to wait does so for at most its time-out, in clock milliseconds). Used by one thread at
// a time.
//
// The socket is not bound: the system gives it a local port at the first send, and replies to that
// port are what Read receives. A Read before any send therefore fails at once with 10022.
class CUdpPort : public INetPort {
 public:
  CUdpPort();
  ~CUdpPort() override;

  int Write(const uint8_t* data, uint32_t length, uint32_t timeout) override;
  int Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) override;
  int Close() override;
  int SetConfig(const std::string& address, uint16_t port) override;
  int Open() override;
  int GetPortType() override { return NetPortUdp; }
  // The current descriptor (-1 when closed), for socket options and diagnostics; owned by the port.
  int GetSocket() const { return m_Socket.load(); }

 private:
  std::atomic<int> m_Socket{-1};
  sockaddr_in m_Address{};
};
