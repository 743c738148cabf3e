#include "net/CSocketHandle.h"

#include "net/SocketOs.h"

CSocketHandle::~CSocketHandle() {
  const int fd = m_Fd.load(std::memory_order_acquire);
  if (fd >= 0) CloseSocket(fd);
}

void CSocketHandle::Retire() {
  m_Retired.store(true, std::memory_order_release);
  const int fd = m_Fd.load(std::memory_order_acquire);
  if (fd >= 0) ShutdownSocket(fd);
}
