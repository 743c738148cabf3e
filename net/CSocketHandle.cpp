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

int CSocketHandle::CloseNow() {
  const int fd = m_Fd.exchange(-1, std::memory_order_acq_rel);
  if (fd < 0) return 0;
  // on Linux the descriptor is released even when close reports an error, so it is never retried
  return ::close(fd) == 0 ? 0 : errno;
}
