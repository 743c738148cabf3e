#include "net/SocketOs.h"

#include <mswsock.h>

#include <cerrno>

#include "net/INetPort.h"
#include "platform/WinText.h"

namespace {

// Windows Sockets is started once per process, before the first socket, and stays up until the
// process ends (WSACleanup at exit would pull the sockets from under threads still closing theirs).
bool Started() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET Native(int fd) { return static_cast<SOCKET>(static_cast<intptr_t>(fd)); }

int Failure() { return MapSocketErrno(::WSAGetLastError()); }

int ToInt(size_t length) { return length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length); }

}  // namespace

// Windows Sockets numbers are the ports' codes already; only the ones that mean "not yet" become
// 997, as the callers wait on that.
int MapSocketErrno(int err) {
  switch (err) {
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
      return kErrIoPending;
    default:
      return err;
  }
}

int BindSocket(int fd, const sockaddr_in& address) {
  return ::bind(Native(fd), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ? 0
                                                                                               : Failure();
}

int ListenSocket(int fd, int backlog) { return ::listen(Native(fd), backlog) == 0 ? 0 : Failure(); }

int AcceptSocket(int fd, sockaddr_in* from, int* error) {
  int length = sizeof(*from);
  SOCKET s = ::accept(Native(fd), reinterpret_cast<sockaddr*>(from), &length);
  if (s == INVALID_SOCKET) {
    *error = Failure();
    return kNoSocket;
  }
  // an accepted socket takes the listener's mode; set it all the same, and keep it from children
  u_long on = 1;
  ::ioctlsocket(s, FIONBIO, &on);
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<int>(s);
}

int SetReuseAddress(int fd, bool stream) {
  if (stream) return 0;
  BOOL one = TRUE;
  return ::setsockopt(Native(fd), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
                      sizeof(one)) == 0
             ? 0
             : Failure();
}

int SetAbortiveClose(int fd) {
  linger l{1, 0};
  return ::setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l)) == 0
             ? 0
             : Failure();
}

long ReceiveDatagramFrom(int fd, uint8_t* buffer, size_t length, sockaddr_in* from, int* error) {
  int fromLength = sizeof(*from);
  int n = ::recvfrom(Native(fd), reinterpret_cast<char*>(buffer), ToInt(length), 0,
                     reinterpret_cast<sockaddr*>(from), &fromLength);
  if (n == SOCKET_ERROR) {
    *error = Failure();
    return -1;
  }
  return n;
}

int PollSockets(SocketPollEntry* entries, size_t count, int timeoutMs) {
  WSAPOLLFD fds[8];
  if (count > 8) return -1;
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = Native(entries[i].fd);
    fds[i].events = entries[i].events;
    fds[i].revents = 0;
  }
  int r = ::WSAPoll(fds, static_cast<ULONG>(count), timeoutMs);
  for (size_t i = 0; i < count; ++i) entries[i].revents = r > 0 ? fds[i].revents : 0;
  return r == SOCKET_ERROR ? -1 : r;
}

std::string SystemErrorText(int code) {
  return code > 0 ? WindowsErrorText(static_cast<uint32_t>(code)) : std::string();
}

int OpenSocket(int type, int protocol, int* error) {
  if (!Started()) {
    *error = WSANOTINITIALISED;
    return kNoSocket;
  }
  SOCKET s =
      ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    *error = Failure();
    return kNoSocket;
  }
  u_long on = 1;
  if (::ioctlsocket(s, FIONBIO, &on) != 0) {
    *error = Failure();
    ::closesocket(s);
    return kNoSocket;
  }
  if (type == SOCK_DGRAM) {
    // Without this, an ICMP "port unreachable" for an earlier datagram makes a later receive fail
    // with 10054, which a datagram socket has no connection to lose.
    BOOL report = FALSE;
    DWORD ignored = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &ignored, nullptr, nullptr);
  }
  return static_cast<int>(s);
}

int CloseSocket(int fd) { return ::closesocket(Native(fd)) == 0 ? 0 : Failure(); }

int ShutdownSocket(int fd) { return ::shutdown(Native(fd), SD_BOTH) == 0 ? 0 : Failure(); }

int StartConnect(int fd, const sockaddr_in& address) {
  if (::connect(Native(fd), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return 0;
  return Failure();
}

int ConnectOutcome(int fd) {
  int err = 0;
  int len = sizeof(err);
  if (::getsockopt(Native(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
    return Failure();
  return err == 0 ? 0 : MapSocketErrno(err);
}

long SendSome(int fd, const uint8_t* data, size_t length, int* error) {
  int n = ::send(Native(fd), reinterpret_cast<const char*>(data), ToInt(length), 0);
  if (n == SOCKET_ERROR) {
    *error = Failure();
    return -1;
  }
  return n;
}

long ReceiveSome(int fd, uint8_t* buffer, size_t length, int* error) {
  int n = ::recv(Native(fd), reinterpret_cast<char*>(buffer), ToInt(length), 0);
  if (n == SOCKET_ERROR) {
    *error = Failure();
    return -1;
  }
  return n;
}

long SendDatagram(int fd, const uint8_t* data, size_t length, const sockaddr_in& to, int* error) {
  int n = ::sendto(Native(fd), reinterpret_cast<const char*>(data), ToInt(length), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof(to));
  if (n == SOCKET_ERROR) {
    *error = Failure();
    return -1;
  }
  return n;
}

long ReceiveDatagram(int fd, uint8_t* buffer, size_t length, bool* truncated, int* error) {
  *truncated = false;
  int n = ::recv(Native(fd), reinterpret_cast<char*>(buffer), ToInt(length), 0);
  if (n != SOCKET_ERROR) return n;
  int err = ::WSAGetLastError();
  // Windows fills the buffer and drops the rest of a longer datagram
  if (err == WSAEMSGSIZE) {
    *truncated = true;
    return static_cast<long>(length);
  }
  *error = MapSocketErrno(err);
  return -1;
}

int SetNoDelay(int fd) {
  BOOL one = TRUE;
  return ::setsockopt(Native(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                      sizeof(one)) == 0
             ? 0
             : Failure();
}

int SetBroadcast(int fd) {
  BOOL on = TRUE;
  return ::setsockopt(Native(fd), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on)) ==
                 0
             ? 0
             : Failure();
}

int LocalPort(int fd, uint16_t* port) {
  sockaddr_in local{};
  int length = sizeof(local);
  if (::getsockname(Native(fd), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    int err = ::WSAGetLastError();
    // Windows refuses getsockname on a socket that was never bound: it has no port yet
    if (err == WSAEINVAL) {
      *port = 0;
      return 0;
    }
    return MapSocketErrno(err);
  }
  *port = ntohs(local.sin_port);
  return 0;
}
