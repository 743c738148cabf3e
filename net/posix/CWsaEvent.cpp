#include "net/CWsaEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

CWsaEvent::CWsaEvent() : m_Handle(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CWsaEvent::~CWsaEvent() {
  if (m_Handle >= 0) ::close(m_Handle);
}

bool CWsaEvent::Set() {
  if (m_Handle == kNoHandle) return false;
  uint64_t one = 1;
  for (;;) {
    if (::write(m_Handle, &one, sizeof(one)) == static_cast<ssize_t>(sizeof(one))) return true;
    // a full counter is still signalled
    if (errno == EAGAIN) return true;
    if (errno != EINTR) return false;
  }
}

bool CWsaEvent::Reset() {
  if (m_Handle == kNoHandle) return false;
  uint64_t count = 0;
  for (;;) {
    if (::read(m_Handle, &count, sizeof(count)) == static_cast<ssize_t>(sizeof(count))) return true;
    // nothing to drain: already reset
    if (errno == EAGAIN) return true;
    if (errno != EINTR) return false;
  }
}

bool CWsaEvent::IsSet() const {
  if (m_Handle == kNoHandle) return false;
  pollfd p{m_Handle, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  return r == 1 && (p.revents & POLLIN) != 0;
}
