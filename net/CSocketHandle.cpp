#include "net/CSocketHandle.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

CSocketHandle::~CSocketHandle() {
  if (m_Fd >= 0) ::close(m_Fd);
}

void CSocketHandle::Retire() {
  m_Retired.store(true, std::memory_order_release);
  if (m_Fd >= 0) ::shutdown(m_Fd, SHUT_RDWR);
}

int CSocketHandle::CloseNow() {
  if (m_Fd < 0) return 0;
  int fd = m_Fd;
  m_Fd = -1;
  // on Linux the descriptor is released even when close reports an error, so it is never retried
  return ::close(fd) == 0 ? 0 : errno;
}
