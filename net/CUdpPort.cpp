#include "net/CUdpPort.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/PollWait.h"
#include "net/PortTrace.h"

CUdpPort::CUdpPort() = default;

CUdpPort::~CUdpPort() {
  QOR_PORT_TRACE_F("Delete CUdpPort\n");
  Close();
}

int CUdpPort::SetConfig(const std::string& address, uint16_t port) {
  std::memset(&m_Address, 0, sizeof(m_Address));
  m_Address.sin_family = AF_INET;
  m_Address.sin_port = htons(port);
  // inet_addr cannot tell this text from an invalid one, so it is taken as it stands
  if (address == "255.255.255.255") {
    m_Address.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    return 1;
  }
  uint32_t ip = 0;
  if (!ParseIpv4Text(address, &ip)) {
    QOR_PORT_TRACE_F("CUdpPort::SetConfig(): \"%s\" is no IPv4 address\n", address.c_str());
    SetThreadSocketError(kErrInvalid);
    return 0;
  }
  m_Address.sin_addr.s_addr = ip;
  return 1;
}

int CUdpPort::Open() {
  Close();
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    SetError(MapSocketErrno(errno));
    return 0;
  }
  // the last number of the address is its last byte in network order
  const auto* ip = reinterpret_cast<const uint8_t*>(&m_Address.sin_addr.s_addr);
  if (ip[3] == 255) {
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) < 0) {
      SetError(MapSocketErrno(errno));
      QOR_PORT_TRACE_F("CUdpPort::Open - setsockopt(SO_BROADCAST) failed (%d)\n", m_LastError.load());
      ::close(fd);
      return 0;
    }
  }
  m_Socket.store(fd);
  return 1;
}

int CUdpPort::Close() {
  int fd = m_Socket.exchange(-1);
  if (fd < 0) return 1;
  if (::close(fd) < 0) {
    // Linux releases the descriptor even then; keeping the number would close a stranger later
    SetError(MapSocketErrno(errno));
    return 0;
  }
  return 1;
}

int CUdpPort::Write(const uint8_t* data, uint32_t length, uint32_t timeout) {
  const int fd = m_Socket.load();
  if (fd < 0) return 0;
  // Linux would deliver a datagram for 0.0.0.0 to this host: refuse it, since no router is there
  if (m_Address.sin_addr.s_addr == htonl(INADDR_ANY)) {
    SetError(kErrAddrNotAvail);
    return 0;
  }
  PollDeadline deadline(timeout);
  ssize_t sent;
  for (;;) {
    sent = ::sendto(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&m_Address), sizeof(m_Address));
    if (sent >= 0) break;
    int err = errno;
    if (err == EINTR) continue;
    int code = MapSocketErrno(err);
    SetError(code);
    if (code != kErrIoPending) {
      QOR_PORT_TRACE_F("CUdpPort::Write - sendto failed (%d)\n", code);
      return 0;
    }
    PollResult w = PollSocket(fd, POLLOUT, -1, deadline);
    if (w == PollResult::Socket) continue;
    if (w == PollResult::Failed) SetThreadSocketError(MapSocketErrno(errno));
    if (w == PollResult::Stopped) SetThreadSocketError(kErrInterrupted);
    m_LastError.store(GetThreadSocketError());
    QOR_PORT_TRACE_F("CUdpPort::Write - poll for room ended without it (%d)\n", m_LastError.load());
    return 0;
  }
  m_LastError.store(0);
  return static_cast<uint32_t>(sent) == length ? 1 : 0;
}

int CUdpPort::Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) {
  const int fd = m_Socket.load();
  if (fd < 0) return 0;
  uint32_t ignored = 0;
  if (received == nullptr) received = &ignored;

  // an unbound socket has nowhere to receive on: fail at once with 10022 (invalid) rather than
  // wait out the time-out for a datagram that cannot come
  sockaddr_in local{};
  socklen_t localLength = sizeof(local);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) < 0) {
    SetError(MapSocketErrno(errno));
    return 0;
  }
  if (local.sin_port == 0) {
    SetError(kErrInvalid);
    QOR_PORT_TRACE_F("CUdpPort::Read - the socket is not bound (%d)\n", kErrInvalid);
    return 0;
  }

  PollDeadline deadline(timeout);
  for (;;) {
    // MSG_TRUNC reports the datagram's real size, so one cut short by the buffer is not taken whole
    ssize_t n = ::recv(fd, buffer, length, MSG_DONTWAIT | MSG_TRUNC);
    if (n >= 0) {
      if (static_cast<size_t>(n) > length) {
        *received = length;
        SetError(kErrMsgSize);
        return 0;
      }
      *received = static_cast<uint32_t>(n);
      m_LastError.store(0);
      return n != 0 ? 1 : 0;
    }
    int err = errno;
    if (err == EINTR) continue;
    int code = MapSocketErrno(err);
    SetError(code);
    if (code != kErrIoPending) {
      QOR_PORT_TRACE_F("CUdpPort::Read - recv failed (%d)\n", code);
      return 0;
    }
    PollResult w = PollSocket(fd, POLLIN, -1, deadline);
    if (w == PollResult::Socket) continue;
    if (w == PollResult::Failed) SetThreadSocketError(MapSocketErrno(errno));
    if (w == PollResult::Stopped) SetThreadSocketError(kErrInterrupted);
    m_LastError.store(GetThreadSocketError());
    QOR_PORT_TRACE_F("CUdpPort::Read - poll for a datagram ended without one (%d)\n", m_LastError.load());
    return 0;
  }
}
