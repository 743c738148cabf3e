#include "net/CSocketHandle.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

CSocketHandle::~CSocketHandle() {
  const int fd = m_Fd.load(std::memory_order_acquire);
  if (fd >= 0) ::close(fd);
}

void CSocketHandle::Retire() {
  m_Retired.store(true, std::memory_order_release);
  const int fd = m_Fd.load(std::memory_order_acquire);
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}
