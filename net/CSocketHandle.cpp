#include "net/CSocketHandle.h"

#include "net/SocketOs.h"

CSocketHandle::~CSocketHandle() {
  if (m_Fd >= 0) CloseSocket(m_Fd);
}

void CSocketHandle::Retire() {
  m_Retired.store(true, std::memory_order_release);
  if (m_Fd >= 0) ShutdownSocket(m_Fd);
}

int CSocketHandle::CloseNow() {
  if (m_Fd < 0) return 0;
  int fd = m_Fd;
  m_Fd = -1;
  // the descriptor is released even when close reports an error, so it is never retried
  return CloseSocket(fd);
}
