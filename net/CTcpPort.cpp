#include "net/CTcpPort.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "net/PollWait.h"
#include "net/PortTrace.h"
#include "net/SocketFaults.h"
#include "platform/Clock.h"

namespace {
constexpr uint32_t kFailPauseMs = 100;         // after every failing Read, and after a reconnect
constexpr uint32_t kPeerClosedPauseMs = 1500;  // a Read that found the connection closed by the peer

bool IsConnectionLost(int code) { return code == kErrConnAborted || code == kErrConnReset; }

// Connects the non-blocking socket fd and waits at most limitMs of clock time for the answer.
// 0 when connected, else the port's code for the failure.
int ConnectWithin(int fd, const sockaddr_in& address, uint32_t limitMs) {
  const int started = StartConnectOrFault(ntohs(address.sin_port), fd, address);
  if (started != kErrIoPending) return started;
  int error = kErrInvalid;
  switch (PollSocket(fd, POLLOUT, nullptr, PollDeadline(limitMs), &error)) {
    case PollResult::Socket:
      return ConnectOutcome(fd);
    case PollResult::Timeout:
      return kErrTimedOut;
    case PollResult::Stopped:
      return kErrInterrupted;
    case PollResult::Event:
    case PollResult::Failed:
      break;
  }
  return error;
}
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
  m_RemotePort.store(port);
  if (!valid) {
    // "255.255.255.255" lands here too: a stream cannot go to the broadcast address
    QOR_PORT_TRACE_F("CTcpPort::SetConfig(): \"%s\" is no IPv4 address\n", address.c_str());
    SetThreadSocketError(kErrInvalid);
    return 0;
  }
  m_Address.sin_addr.s_addr = ip;
  m_TraceId.store(static_cast<int>(ntohl(ip) & 0xFF));
  return 1;
}

int CTcpPort::Open() {
  bool attempted = false;
  int error = 0;
  return Connect(nullptr, &attempted, &error);
}

int CTcpPort::Connect(const std::shared_ptr<CSocketHandle>* failed, bool* attempted, int* error) {
  *attempted = false;
  *error = 0;
  std::shared_ptr<CSocketHandle> attempt;
  sockaddr_in address{};
  {
    std::lock_guard<std::mutex> lock(m_OpenLock);
    if (failed != nullptr) {
      std::lock_guard<std::mutex> handleLock(m_HandleLock);
      if (m_Handle != *failed) return m_Handle != nullptr;
    }
    CloseLocked();

    // Linux takes 0.0.0.0 for this host and would connect to whatever listens here (Windows refuses
    // it with the same code). The address is
    // 0.0.0.0 while no router has been found, so it is refused as an address not valid here.
    if (m_Address.sin_addr.s_addr == htonl(INADDR_ANY)) {
      *error = kErrAddrNotAvail;
      SetError(*error);
      return 0;
    }

    int fd = OpenSocket(SOCK_STREAM, IPPROTO_TCP, error);
    if (fd == kNoSocket) {
      SetError(*error);
      return 0;
    }
    // The socket buffers keep their system sizes. Set to 0, Linux clamps them to its minimum (4608
    // bytes to send, 2304 to receive), which caps the data in flight at a few kilobytes per round
    // trip and throttles the image stream to the router.
    //
    // Requests are written whole and answered before the next one, so Nagle's rule would only ever
    // hold back the tail of a write behind a delayed acknowledgement.
    SetNoDelay(fd);
    try {
      attempt = std::make_shared<CSocketHandle>(fd);
    } catch (const std::bad_alloc&) {
      CloseSocket(fd);
      *error = ENOMEM;
      SetError(*error);
      return 0;
    }
    // Close (or a newer Open) finds the attempt here and ends it
    m_Connecting = attempt;
    address = m_Address;
    *attempted = true;
  }

  // no lock is held while the router answers (or does not)
  int code = ConnectWithin(attempt->Fd(), address, kConnectLimitMs);

  std::lock_guard<std::mutex> lock(m_OpenLock);
  if (m_Connecting != attempt) {
    // Close or a newer Open took the attempt away; its socket closes with the last reference
    *error = kErrAborted;
    SetError(*error);
    return 0;
  }
  m_Connecting.reset();
  if (code != 0) {
    *error = code;
    SetError(code);
    return 0;
  }
  std::lock_guard<std::mutex> handleLock(m_HandleLock);
  m_Handle = std::move(attempt);
  m_Socket.store(m_Handle->Fd());
  return 1;
}

int CTcpPort::Close() {
  std::lock_guard<std::mutex> lock(m_OpenLock);
  return CloseLocked();
}

int CTcpPort::CloseLocked() {
  if (m_Connecting) {
    // wakes the thread that waits for the connect; its socket closes when that thread lets go
    m_Connecting->Retire();
    m_Connecting.reset();
    m_Generation.fetch_add(1);
  }
  std::shared_ptr<CSocketHandle> old;
  {
    std::lock_guard<std::mutex> lock(m_HandleLock);
    old = std::move(m_Handle);
    m_Handle.reset();
    m_Socket.store(-1);
  }
  if (!old) return 1;
  m_Generation.fetch_add(1);
  // Nobody can pick the handle up any more, so the count only falls from here. When a call of
  // the other thread still holds it, wake that call. The descriptor is closed by whoever lets go
  // of the handle last (here, or that call on its way out): the release of the handle orders the
  // close after the other call's last send or receive, which a look at the use count (read
  // without ordering) followed by a close here would not.
  if (old.use_count() > 1) old->Retire();
  old.reset();
  return 1;
}

int CTcpPort::Reconnect(const std::shared_ptr<CSocketHandle>& failed, int cause) {
  bool attempted = false;
  int error = 0;
  const int result = Connect(&failed, &attempted, &error);
  if (attempted) {
    PortConnectionEvent event;
    event.kind = result ? PortConnectionEvent::Reconnected : PortConnectionEvent::ReconnectFailed;
    event.cause = cause;
    event.openError = result ? 0 : error;
    Notify(event);
  }
  return result;
}

void CTcpPort::Notify(const PortConnectionEvent& event) {
  if (m_Observer) m_Observer(event);
}

void CTcpPort::PurgeablePause(uint32_t ms) {
  if (PollSocket(kNoSocket, 0, &m_PurgeEvent, PollDeadline(ms)) == PollResult::Event) m_PurgeEvent.Reset();
}

int CTcpPort::Purge() {
  m_PurgeEvent.Set();
  return 1;
}

bool CTcpPort::Shutdown() {
  auto handle = Acquire();
  if (!handle) return false;
  handle->MarkShutDown();
  if (int err = ShutdownSocket(handle->Fd()); err != 0) {
    SetThreadSocketError(err);
    return false;
  }
  return true;
}

int CTcpPort::Write(const uint8_t* data, uint32_t length, uint32_t timeout) {
  auto handle = Acquire();
  if (!handle) {
    QOR_PORT_TRACE_F("CTcpPort%d::Write - the port is closed\n", m_TraceId.load());
    return 0;
  }
  const int fd = handle->Fd();

  const uint8_t* next = data;
  uint32_t left = length;
  while (left > 0) {
    // one pass: a send of everything left, waiting at most timeout for room
    PollDeadline deadline(timeout);
    bool waited = false;
    long sent;
    for (;;) {
      int code = 0;
      sent = SendSomeOrFault(m_RemotePort.load(), fd, next, left, &code);
      if (sent >= 0) break;
      if (code == kSocketRetry) continue;
      SetError(code);
      if (code == kErrIoPending) {
        int pollError = 0;
        PollResult w = PollSocket(fd, POLLOUT, nullptr, deadline, &pollError);
        if (w == PollResult::Socket) {
          waited = true;
          continue;
        }
        // time-out: the thread's error stays 997 (still in progress), which tells the caller the
        // data did not go within its time
        if (w == PollResult::Failed) SetThreadSocketError(pollError);
        if (w == PollResult::Stopped) SetThreadSocketError(kErrInterrupted);
        m_LastError.store(GetThreadSocketError());
        return 0;
      }
      if (handle->IsRetired()) {
        SetError(kErrAborted);
        return 0;
      }
      // our own Shutdown() closed the sending side (Linux tells it as a broken pipe, 10054; Windows
      // as 10058): nothing to reconnect
      if (handle->IsShutDown() && (code == kErrConnReset || code == kErrShutdown)) {
        SetError(kErrShutdown);
        return 0;
      }
      // reads and writes follow one rule: a loss met at once reconnects on an abort or a reset
      // (10053, 10054); one met after waiting only on a reset, since an abort then comes from this
      // side (a Close or a reconnect by the other thread) and a new connection would undo it
      bool reconnect = waited ? code == kErrConnReset : IsConnectionLost(code);
      if (!waited) {
        if (reconnect)
          QOR_PORT_TRACE_F("CTcpPort%d::Write - send: connection lost (%d), connecting again\n",
                           m_TraceId.load(), code);
        else
          QOR_PORT_TRACE_F("CTcpPort%d::Write - send failed (%d)\n", m_TraceId.load(), code);
      } else if (reconnect) {
        QOR_PORT_TRACE_F(
            "CTcpPort%d::Write - send after waiting for room: connection reset, connecting again\n",
            m_TraceId.load());
      } else {
        QOR_PORT_TRACE_F("CTcpPort%d::Write - send after waiting for room failed (%d)\n", m_TraceId.load(),
                         code);
      }
      if (reconnect) {
        int again = Reconnect(handle, code);
        if (waited && again) QOR_PORT_TRACE_F("CTcpPort%d::Write - connected again\n", m_TraceId.load());
        if (waited && !again)
          QOR_PORT_TRACE_F("CTcpPort%d::Write - connecting again failed\n", m_TraceId.load());
        (void)again;
        SleepMs(kFailPauseMs);
      }
      return 0;
    }
    if (!waited)
      QOR_PORT_TRACE_F("CTcpPort%d::Write - send took %d bytes\n", m_TraceId.load(), static_cast<int>(sent));
    next += sent;
    left -= static_cast<uint32_t>(sent);
  }
  m_LastError.store(0);
  return 1;
}

int CTcpPort::Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) {
  auto handle = Acquire();
  if (!handle || !m_PurgeEvent.IsValid()) {
    QOR_PORT_TRACE_F("CTcpPort%d::Read - the port is closed\n", m_TraceId.load());
    SleepMs(kFailPauseMs);
    return 0;
  }
  const int fd = handle->Fd();
  uint32_t ignored = 0;
  if (received == nullptr) received = &ignored;

  PollDeadline deadline(timeout);
  bool waited = false;
  for (;;) {
    int code = 0;
    long n = ReceiveSomeOrFault(m_RemotePort.load(), fd, buffer, length, &code);
    if (n > 0) {
      *received = static_cast<uint32_t>(n);
      m_LastError.store(0);
      return 1;
    }
    if (n == 0) {
      *received = 0;
      if (handle->IsRetired()) break;  // our own reconnect or Close ended the stream, not the peer
      QOR_PORT_TRACE_F("CTcpPort%d::Read - recv: the router closed the connection\n", m_TraceId.load());
      // the connection carries nothing more: told once, unless our own Shutdown ended it
      if (!handle->IsShutDown() && handle->MarkPeerClosed()) {
        m_Generation.fetch_add(1);
        PortConnectionEvent event;
        event.kind = PortConnectionEvent::PeerClosed;
        event.cause = kErrDisconnected;
        Notify(event);
      }
      PurgeablePause(kPeerClosedPauseMs);
      return 0;
    }
    if (code == kSocketRetry) continue;
    SetError(code);
    if (code == kErrIoPending) {
      int pollError = 0;
      switch (PollSocket(fd, POLLIN, &m_PurgeEvent, deadline, &pollError)) {
        case PollResult::Socket:
          waited = true;
          continue;
        case PollResult::Event:
          // the waiting Read consumes the purge; a Read that finds data never looks at it
          QOR_PORT_TRACE_F("CTcpPort%d::Read - poll: ended by a purge\n", m_TraceId.load());
          m_LastError.store(kErrPurged);
          m_PurgeEvent.Reset();
          break;
        case PollResult::Timeout:
          QOR_PORT_TRACE_F("CTcpPort%d::Read - poll: timed out\n", m_TraceId.load());
          m_LastError.store(kErrTimeout);
          break;
        case PollResult::Failed:
          SetError(pollError);
          QOR_PORT_TRACE_F("CTcpPort%d::Read - poll failed (%d)\n", m_TraceId.load(), m_LastError.load());
          break;
        case PollResult::Stopped:
          SetError(kErrInterrupted);
          break;
      }
      SleepMs(kFailPauseMs);
      return 0;
    }
    if (handle->IsRetired()) break;
    bool reconnect = waited ? code == kErrConnReset : IsConnectionLost(code);
    if (reconnect) {
      if (waited)
        QOR_PORT_TRACE_F("CTcpPort%d::Read - recv after waiting: connection reset, connecting again\n",
                         m_TraceId.load());
      else
        QOR_PORT_TRACE_F("CTcpPort%d::Read - recv: connection lost (%d), connecting again\n",
                         m_TraceId.load(), code);
      Reconnect(handle, code);
    } else if (waited) {
      QOR_PORT_TRACE_F("CTcpPort%d::Read - recv after waiting failed (%d)\n", m_TraceId.load(), code);
    } else {
      QOR_PORT_TRACE_F("CTcpPort%d::Read - recv failed (%d)\n", m_TraceId.load(), code);
    }
    SleepMs(kFailPauseMs);
    return 0;
  }
  SetError(kErrAborted);
  SleepMs(kFailPauseMs);
  return 0;
}
