#pragma once

#include <cstdint>
#include <string>

#include "net/CUdpPort.h"
#include "platform/NonCopyable.h"
#include "protocol/RouterDatagram.h"

// Router discovery and control datagrams over UDP, each datagram in one HDLC frame with a leading
// flag. Lives for one attempt on a worker's stack and is used by that worker only; its socket closes
// with it. Time-outs are milliseconds of clock time (platform/Clock.h). Nothing is logged here.
class CUdpHdlc : public NonCopyable {
 public:
  // Configures and opens the port for the address's text form and port. Failures show
  // "m_UdpPort.SetConfig() failed" or "m_UdpPort.Open() failed" as a warning; the object then
  // exists, and every send fails.
  CUdpHdlc(const IpAddress& address, uint16_t port);
  // Same, for an address given as text (discovery addresses such as a broadcast address).
  CUdpHdlc(const std::string& address, uint16_t port);
  ~CUdpHdlc() override;

  // Sends a discovery datagram and waits for a qualifying answer (type 1, non-zero MAC): 3000 ms per
  // datagram, bounded overall by kDiscoverOverallMs. Non-qualifying answers are skipped; a failed or
  // undecodable receive ends the discovery. The outputs change only on success.
  int Discover(MacAddress& mac, IpAddress& ip, std::string& text);
  int EraseRouterNvram(const IpAddress& ip, const MacAddress& mac);  // type 6, 4000 ms
  int EnterForceLoad(const IpAddress& ip, const MacAddress& mac);    // type 7, 2000 ms
  int LeaveForceLoad(const IpAddress& ip, const MacAddress& mac);    // type 8, 2000 ms
  int CheckPresence(const IpAddress& ip, const MacAddress& mac);     // type 10, 2000 ms

  static constexpr uint32_t kDiscoverOverallMs = 30000;

  // Internal steps, public for tests.
  int SendFrame(const uint8_t* data, uint32_t length, uint32_t timeout);
  int ReceiveFrame(uint8_t* destination, uint32_t* received, uint32_t timeout);  // destination >= 512
  int SendDatagram();
  int ReceiveDatagram(uint32_t timeout);
  int Exchange(uint32_t timeout);

  bool IsOpen() const { return m_bOpen; }
  // Why the last send failed (net/INetPort.h codes; the socket's error when it could not be opened),
  // 0 after a send that went out.
  int GetLastSendError() const { return m_LastSendError; }

 private:
  void Init(const std::string& address, uint16_t port);
  // One control exchange: m_Send = {type, ip, mac, zero text}, answered by an exact echo.
  int Control(uint8_t type, const IpAddress& ip, const MacAddress& mac, uint32_t timeout);

  CUdpPort m_UdpPort;
  bool m_bOpen = false;
  int m_LastSendError = 0;
  RouterDatagram m_Send;
  RouterDatagram m_Recv;
};
