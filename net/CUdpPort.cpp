#include "net/CUdpPort.h"

#include <cstring>

#include "net/PollWait.h"
#include "net/PortTrace.h"
#include "net/SocketFaults.h"

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
  int error = 0;
  int fd = OpenSocket(SOCK_DGRAM, IPPROTO_UDP, &error);
  if (fd == kNoSocket) {
    SetError(error);
    return 0;
  }
  // the last number of the address is its last byte in network order
  const auto* ip = reinterpret_cast<const uint8_t*>(&m_Address.sin_addr.s_addr);
  if (ip[3] == 255) {
    if (int err = SetBroadcast(fd); err != 0) {
      SetError(err);
      QOR_PORT_TRACE_F("CUdpPort::Open - setsockopt(SO_BROADCAST) failed (%d)\n", m_LastError.load());
      CloseSocket(fd);
      return 0;
    }
  }
  m_Socket.store(fd);
  return 1;
}

int CUdpPort::Close() {
  int fd = m_Socket.exchange(-1);
  if (fd < 0) return 1;
  if (int err = CloseSocket(fd); err != 0) {
    // the descriptor is released even then; keeping the number would close a stranger later
    SetError(err);
    return 0;
  }
  return 1;
}

int CUdpPort::Write(const uint8_t* data, uint32_t length, uint32_t timeout) {
  const int fd = m_Socket.load();
  if (fd < 0) return 0;
  // Linux would deliver a datagram for 0.0.0.0 to this host: refuse it, since no router is there
  // (Windows refuses it with the same code)
  if (m_Address.sin_addr.s_addr == htonl(INADDR_ANY)) {
    SetError(kErrAddrNotAvail);
    return 0;
  }
  PollDeadline deadline(timeout);
  long sent;
  for (;;) {
    int code = 0;
    sent = SendDatagramOrFault(ntohs(m_Address.sin_port), fd, data, length, m_Address, &code);
    if (sent >= 0) break;
    if (code == kSocketRetry) continue;
    SetError(code);
    if (code != kErrIoPending) {
      QOR_PORT_TRACE_F("CUdpPort::Write - sendto failed (%d)\n", code);
      return 0;
    }
    int pollError = 0;
    PollResult w = PollSocket(fd, POLLOUT, nullptr, deadline, &pollError);
    if (w == PollResult::Socket) continue;
    if (w == PollResult::Failed) SetThreadSocketError(pollError);
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
  uint16_t localPort = 0;
  if (int err = LocalPort(fd, &localPort); err != 0) {
    SetError(err);
    return 0;
  }
  if (localPort == 0) {
    SetError(kErrInvalid);
    QOR_PORT_TRACE_F("CUdpPort::Read - the socket is not bound (%d)\n", kErrInvalid);
    return 0;
  }

  PollDeadline deadline(timeout);
  for (;;) {
    // a datagram cut short by the buffer is never taken whole
    int code = 0;
    bool truncated = false;
    long n = ReceiveDatagramOrFault(ntohs(m_Address.sin_port), fd, buffer, length, &truncated, &code);
    if (n >= 0) {
      if (truncated) {
        *received = length;
        SetError(kErrMsgSize);
        return 0;
      }
      *received = static_cast<uint32_t>(n);
      m_LastError.store(0);
      return n != 0 ? 1 : 0;
    }
    if (code == kSocketRetry) continue;
    SetError(code);
    if (code != kErrIoPending) {
      QOR_PORT_TRACE_F("CUdpPort::Read - recv failed (%d)\n", code);
      return 0;
    }
    int pollError = 0;
    PollResult w = PollSocket(fd, POLLIN, nullptr, deadline, &pollError);
    if (w == PollResult::Socket) continue;
    if (w == PollResult::Failed) SetThreadSocketError(pollError);
    if (w == PollResult::Stopped) SetThreadSocketError(kErrInterrupted);
    m_LastError.store(GetThreadSocketError());
    QOR_PORT_TRACE_F("CUdpPort::Read - poll for a datagram ended without one (%d)\n", m_LastError.load());
    return 0;
  }
}
