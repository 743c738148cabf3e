#include "net/SocketOs.h"
#include "sim/SimSocket.h"

namespace qorsim {

void Fd::Reset(int fd) {
  if (m_Fd >= 0) CloseSocket(m_Fd);
  m_Fd = fd;
}

bool WakePipe::Open() {
  int code = 0;
  Fd socket(OpenSocket(SOCK_DGRAM, IPPROTO_UDP, &code));
  if (!socket.Valid()) return false;
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (BindSocket(socket.Get(), self) != 0) return false;
  uint16_t port = 0;
  if (::LocalPort(socket.Get(), &port) != 0 || port == 0) return false;
  self.sin_port = htons(port);
  // connected to itself: it receives only what it sent
  if (StartConnect(socket.Get(), self) != 0) return false;
  m_Read = std::move(socket);
  return true;
}

void WakePipe::Wake() {
  const uint8_t b = 1;
  int code = 0;
  if (m_Read.Valid()) (void)SendSome(m_Read.Get(), &b, 1, &code);
}

void WakePipe::Drain() {
  uint8_t buf[64];
  int code = 0;
  while (m_Read.Valid() && ReceiveSome(m_Read.Get(), buf, sizeof buf, &code) > 0) {
  }
}

}  // namespace qorsim
