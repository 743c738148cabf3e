#pragma once

#include <netinet/in.h>

#include <atomic>
#include <mutex>

#include "net/CWsaEvent.h"
#include "net/INetPort.h"

// A connected TCP byte stream to one IPv4 address and port. Reconnects by itself, once per failing
// call, when a send or receive reports the connection aborted or reset. Purge() ends a Read that
// waits in another thread. Used by one writing and one reading thread at once.
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
  // Shuts both directions down without closing the socket; m_LastError unchanged.
  bool Shutdown();

 private:
  std::atomic<int> m_Socket{-1};
  sockaddr_in m_Address{};
  CWsaEvent m_PurgeEvent;
  std::mutex m_OpenLock;  // serialises Open/Close between the reading and the writing thread
};
