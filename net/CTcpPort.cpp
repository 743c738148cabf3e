#include "net/CTcpPort.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/PollWait.h"
#include "net/PortTrace.h"
#include "platform/Clock.h"

namespace {
constexpr uint32_t kFailPauseMs = 100;         // after every failing Read, and after a reconnect
constexpr uint32_t kPeerClosedPauseMs = 1500;  // a Read that found the connection closed by the peer

bool IsConnectionLost(int code) { return code == kErrConnAborted || code == kErrConnReset; }
}  // namespace

CTcpPort::CTcpPort() = default;

CTcpPort::~CTcpPort() {
  QOR_PORT_TRACE_F("Delete CTcpPort\n");
  Close();
}

std::shared_ptr<CSocketHandle> CTcpPort::Acquire() const {
  std::lock_guard<std::mutex> lock(m_HandleLock);
  return m_Handle;
}

int CTcpPort::SetConfig(const std::string& address, uint16_t port) {
  uint32_t ip = 0;
  bool valid = ParseIpv4Text(address, &ip);
  std::lock_guard<std::mutex> lock(m_OpenLock);
  std::memset(&m_Address, 0, sizeof(m_Address));
  m_Address.sin_family = AF_INET;
  m_Address.sin_port = htons(port);
  if (!valid) {
    // "255.255.255.255" lands here too: a stream cannot go to the broadcast address
    QOR_PORT_TRACE_F("CTcpPort::SetConfig(): inet_addr(\"%s\") return INADDR_NONE\n", address.c_str());
    SetThreadSocketError(kErrInvalid);
    return 0;
  }
  m_Address.sin_addr.s_addr = ip;
  m_TraceId.store(static_cast<int>(ntohl(ip) & 0xFF));
  return 1;
}

int CTcpPort::Open() {
  std::lock_guard<std::mutex> lock(m_OpenLock);
  return OpenLocked();
}

int CTcpPort::OpenLocked() {
  CloseLocked();

  // Linux takes 0.0.0.0 for this host and would connect to whatever listens here; the original
  // platform refused it. The address is 0.0.0.0 while no router has been found.
  if (m_Address.sin_addr.s_addr == htonl(INADDR_ANY)) {
    SetError(kErrAddrNotAvail);
    return 0;
  }

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(MapSocketErrno(errno));
    return 0;
  }
  // The socket buffers keep their system sizes. The original set both to 0, which on its platform
  // means "send straight from the caller's buffer". Linux clamps them to its minimum instead (4608
  // bytes to send, 2304 to receive), which caps the data in flight at a few kilobytes per round
  // trip and throttles the image stream to the router.
  //
  // Requests are written whole and answered before the next one, so Nagle's rule would only ever
  // hold back the tail of a write behind a delayed acknowledgement.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));

  const sockaddr_in address = m_Address;
  int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  if (r < 0 && errno == EINTR) {
    // the attempt goes on in the background: wait for its end without a limit of our own
    PollResult w = PollSocket(fd, POLLOUT, -1, PollDeadline(IClock::kInfinite));
    int err = 0;
    socklen_t len = sizeof(err);
    if (w != PollResult::Socket || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    if (err == 0) r = 0;
    errno = err;
  }
  if (r < 0) {
    SetError(MapSocketErrno(errno));
    ::close(fd);
    return 0;
  }
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    SetError(MapSocketErrno(errno));
    ::close(fd);
    return 0;
  }

  auto handle = std::make_shared<CSocketHandle>(fd);
  std::lock_guard<std::mutex> lock(m_HandleLock);
  m_Handle = std::move(handle);
  m_Socket.store(fd);
  return 1;
}

int CTcpPort::Close() {
  std::lock_guard<std::mutex> lock(m_OpenLock);
  return CloseLocked();
}

int CTcpPort::CloseLocked() {
  std::shared_ptr<CSocketHandle> old;
  {
    std::lock_guard<std::mutex> lock(m_HandleLock);
    old = std::move(m_Handle);
    m_Handle.reset();
    m_Socket.store(-1);
  }
  if (!old) return 1;
  // Nobody can pick the handle up any more, so the count only falls from here. When a call of
  // the other thread still holds it, wake that call and let it close the descriptor on its way out.
  if (old.use_count() > 1) {
    old->Retire();
    return 1;
  }
  int err = old->CloseNow();
  if (err != 0) {
    // the descriptor is gone all the same (Linux never keeps it), so the port stays closed
    SetError(MapSocketErrno(err));
    return 0;
  }
  return 1;
}

int CTcpPort::Reconnect(const std::shared_ptr<CSocketHandle>& failed) {
  std::lock_guard<std::mutex> lock(m_OpenLock);
  {
    std::lock_guard<std::mutex> handleLock(m_HandleLock);
    if (m_Handle != failed) return m_Handle != nullptr;
  }
  return OpenLocked();
}

int CTcpPort::Purge() {
  m_PurgeEvent.Set();
  return 1;
}

bool CTcpPort::Shutdown() {
  auto handle = Acquire();
  if (!handle) return false;
  handle->MarkShutDown();
  if (::shutdown(handle->Fd(), SHUT_RDWR) < 0) {
    SetThreadSocketError(MapSocketErrno(errno));
    return false;
  }
  return true;
}

int CTcpPort::Write(const uint8_t* data, uint32_t length, uint32_t timeout) {
  auto handle = Acquire();
  if (!handle) {
    QOR_PORT_TRACE_F("CTcpPort%d::Write - Exit1\n", m_TraceId.load());
    return 0;
  }
  const int fd = handle->Fd();

  const uint8_t* next = data;
  uint32_t left = length;
  while (left > 0) {
    // one pass: a send of everything left, waiting at most timeout for room
    PollDeadline deadline(timeout);
    bool waited = false;
    ssize_t sent;
    for (;;) {
      sent = ::send(fd, next, left, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent >= 0) break;
      int err = errno;
      if (err == EINTR) continue;
      int code = MapSocketErrno(err);
      SetError(code);
      if (code == kErrIoPending) {
        PollResult w = PollSocket(fd, POLLOUT, -1, deadline);
        if (w == PollResult::Socket) {
          waited = true;
          continue;
        }
        // time-out: the thread's error is still the pending code, as the original reported
        if (w == PollResult::Failed) SetThreadSocketError(MapSocketErrno(errno));
        m_LastError.store(GetThreadSocketError());
        return 0;
      }
      if (handle->IsRetired()) {
        SetError(kErrAborted);
        return 0;
      }
      // our own Shutdown() closed the sending side: nothing to reconnect
      if (err == EPIPE && handle->IsShutDown()) {
        SetError(kErrShutdown);
        return 0;
      }
      // a send that had to wait reconnects only on a reset, as the original's completed send did
      bool reconnect = waited ? code == kErrConnReset : IsConnectionLost(code);
      if (!waited) {
        if (reconnect)
          QOR_PORT_TRACE_F("CTcpPort%d::Write - Exit3 TCP连接被中断1\n", m_TraceId.load());
        else
          QOR_PORT_TRACE_F("CTcpPort%d::Write - Exit3 WSASend's ErrorCode = %d\n", m_TraceId.load(), code);
      } else if (reconnect) {
        QOR_PORT_TRACE_F("CTcpPort%d::Write - Exit5 TCP连接被中断2\n", m_TraceId.load());
      } else {
        QOR_PORT_TRACE_F("CTcpPort%d::Write - Exit5 WSAGetOverlappedResult's ErrorCode = %d\n",
                         m_TraceId.load(), code);
      }
      if (reconnect) {
        int again = Reconnect(handle);
        if (waited && again) QOR_PORT_TRACE_F("CTcpPort%d::Write - 重建连接成功\n", m_TraceId.load());
        if (waited && !again) QOR_PORT_TRACE_F("CTcpPort%d::Write - 重建连接失败\n", m_TraceId.load());
        (void)again;
        SleepMs(kFailPauseMs);
      }
      return 0;
    }
    if (!waited)
      QOR_PORT_TRACE_F("CTcpPort%d::Write - WSASend return %d dwSent = %d\n", m_TraceId.load(), 0,
                       static_cast<int>(sent));
    next += sent;
    left -= static_cast<uint32_t>(sent);
  }
  m_LastError.store(0);
  return 1;
}

int CTcpPort::Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) {
  auto handle = Acquire();
  if (!handle || m_PurgeEvent.GetHandle() < 0) {
    QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit1\n", m_TraceId.load());
    SleepMs(kFailPauseMs);
    return 0;
  }
  const int fd = handle->Fd();
  uint32_t ignored = 0;
  if (received == nullptr) received = &ignored;

  PollDeadline deadline(timeout);
  bool waited = false;
  for (;;) {
    ssize_t n = ::recv(fd, buffer, length, MSG_DONTWAIT);
    if (n > 0) {
      *received = static_cast<uint32_t>(n);
      m_LastError.store(0);
      return 1;
    }
    if (n == 0) {
      *received = 0;
      if (handle->IsRetired()) break;  // our own reconnect or Close ended the stream, not the peer
      QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit7\n", m_TraceId.load());
      SleepMs(kPeerClosedPauseMs);
      return 0;
    }
    int err = errno;
    if (err == EINTR) continue;
    int code = MapSocketErrno(err);
    SetError(code);
    if (code == kErrIoPending) {
      switch (PollSocket(fd, POLLIN, m_PurgeEvent.GetHandle(), deadline)) {
        case PollResult::Socket:
          waited = true;
          continue;
        case PollResult::Event:
          // the waiting Read consumes the purge; a Read that finds data never looks at it
          QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit5 m_PurgeEvent Signaled\n", m_TraceId.load());
          m_LastError.store(kErrPurged);
          m_PurgeEvent.Reset();
          break;
        case PollResult::Timeout:
          QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit5 WSAWaitForMultipleEvents timeout\n", m_TraceId.load());
          m_LastError.store(kErrTimeout);
          break;
        case PollResult::Failed:
          SetError(MapSocketErrno(errno));
          QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit5 Unable to wait until data has been read\n",
                           m_TraceId.load());
          break;
      }
      SleepMs(kFailPauseMs);
      return 0;
    }
    if (handle->IsRetired()) break;
    bool reconnect = waited ? code == kErrConnReset : IsConnectionLost(code);
    if (reconnect) {
      if (waited)
        QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit6 TCP连接被中断2\n", m_TraceId.load());
      else
        QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit4 TCP连接被中断1\n", m_TraceId.load());
      Reconnect(handle);
    } else if (waited) {
      QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit6 WSAGetOverlappedResult's ErrorCode = %d\n", m_TraceId.load(),
                       code);
    } else {
      QOR_PORT_TRACE_F("CTcpPort%d::Read - Exit4 WSARecv's ErrorCode = %d\n", m_TraceId.load(), code);
    }
    SleepMs(kFailPauseMs);
    return 0;
  }
  SetError(kErrAborted);
  SleepMs(kFailPauseMs);
  return 0;
}
