#include <fcntl.h>
#include <unistd.h>

#include "net/SocketOs.h"
#include "sim/SimSocket.h"

namespace qorsim {

void Fd::Reset(int fd) {
  if (m_Fd >= 0) CloseSocket(m_Fd);
  m_Fd = fd;
}

bool WakePipe::Open() {
  int p[2];
  if (pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  m_Read.Reset(p[0]);
  m_Write.Reset(p[1]);
  return true;
}

void WakePipe::Wake() {
  uint8_t b = 1;
  if (m_Write.Valid()) (void)!::write(m_Write.Get(), &b, 1);
}

void WakePipe::Drain() {
  uint8_t buf[64];
  while (m_Read.Valid() && ::read(m_Read.Get(), buf, sizeof buf) > 0) {
  }
}

}  // namespace qorsim
