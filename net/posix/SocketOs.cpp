#include "net/SocketOs.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/INetPort.h"

namespace {
int Failure() { return errno == EINTR ? kSocketRetry : MapSocketErrno(errno); }
}  // namespace

int MapSocketErrno(int err) {
  switch (err) {
    case ECONNABORTED:
      return kErrConnAborted;
    case ECONNRESET:
    case EPIPE:
      return kErrConnReset;
    case EINVAL:
      return kErrInvalid;
    case EMSGSIZE:
      return kErrMsgSize;
    case EPERM:
    case EACCES:
      return kErrAccess;
    case EINPROGRESS:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return kErrIoPending;
    default:
      return err;
  }
}

int BindSocket(int fd, const sockaddr_in& address) {
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0
             ? 0
             : MapSocketErrno(errno);
}

int ListenSocket(int fd, int backlog) { return ::listen(fd, backlog) == 0 ? 0 : MapSocketErrno(errno); }

int AcceptSocket(int fd, sockaddr_in* from, int* error) {
  socklen_t length = sizeof(*from);
  int s = ::accept4(fd, reinterpret_cast<sockaddr*>(from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) *error = Failure();
  return s;
}

int SetReuseAddress(int fd, bool stream) {
  (void)stream;
  int one = 1;
  return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) == 0 ? 0 : MapSocketErrno(errno);
}

int SetAbortiveClose(int fd) {
  linger l{1, 0};
  return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l)) == 0 ? 0 : MapSocketErrno(errno);
}

long ReceiveDatagramFrom(int fd, uint8_t* buffer, size_t length, sockaddr_in* from, int* error) {
  socklen_t fromLength = sizeof(*from);
  ssize_t n = ::recvfrom(fd, buffer, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(from), &fromLength);
  if (n < 0) *error = Failure();
  return n;
}

int PollSockets(SocketPollEntry* entries, size_t count, int timeoutMs) {
  pollfd fds[8];
  if (count > 8) return -1;
  for (size_t i = 0; i < count; ++i) fds[i] = {entries[i].fd, entries[i].events, 0};
  int r = ::poll(fds, count, timeoutMs);
  for (size_t i = 0; i < count; ++i) entries[i].revents = r > 0 ? fds[i].revents : 0;
  return r;
}

std::string SystemErrorText(int code) {
  // strerrordesc_np answers nullptr for numbers that are no errno value, and is thread-safe
  if (code > 0) {
    if (const char* text = strerrordesc_np(code)) return text;
  }
  return {};
}

int OpenSocket(int type, int protocol, int* error) {
  int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) *error = MapSocketErrno(errno);
  return fd;
}

int CloseSocket(int fd) {
  // on Linux the descriptor is released even when close reports an error, so it is never retried
  return ::close(fd) == 0 ? 0 : MapSocketErrno(errno);
}

int ShutdownSocket(int fd) { return ::shutdown(fd, SHUT_RDWR) == 0 ? 0 : MapSocketErrno(errno); }

int StartConnect(int fd, const sockaddr_in& address) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return 0;
  // after EINTR the attempt goes on in the background, as after EINPROGRESS
  if (errno == EINTR) return kErrIoPending;
  return MapSocketErrno(errno);
}

int ConnectOutcome(int fd) {
  int err = 0;
  socklen_t len = sizeof(err);
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
  return err == 0 ? 0 : MapSocketErrno(err);
}

long SendSome(int fd, const uint8_t* data, size_t length, int* error) {
  ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0) *error = Failure();
  return n;
}

long ReceiveSome(int fd, uint8_t* buffer, size_t length, int* error) {
  ssize_t n = ::recv(fd, buffer, length, MSG_DONTWAIT);
  if (n < 0) *error = Failure();
  return n;
}

long SendDatagram(int fd, const uint8_t* data, size_t length, const sockaddr_in& to, int* error) {
  ssize_t n = ::sendto(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
                       sizeof(to));
  if (n < 0) *error = Failure();
  return n;
}

long ReceiveDatagram(int fd, uint8_t* buffer, size_t length, bool* truncated, int* error) {
  // MSG_TRUNC reports the datagram's real size, so one cut short by the buffer is not taken whole
  ssize_t n = ::recv(fd, buffer, length, MSG_DONTWAIT | MSG_TRUNC);
  if (n < 0) {
    *error = Failure();
    return n;
  }
  *truncated = static_cast<size_t>(n) > length;
  return *truncated ? static_cast<long>(length) : n;
}

int SetNoDelay(int fd) {
  int one = 1;
  return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) == 0 ? 0 : MapSocketErrno(errno);
}

int SetBroadcast(int fd) {
  int on = 1;
  return ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) == 0 ? 0 : MapSocketErrno(errno);
}

int LocalPort(int fd, uint16_t* port) {
  sockaddr_in local{};
  socklen_t length = sizeof(local);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) < 0) return MapSocketErrno(errno);
  *port = ntohs(local.sin_port);
  return 0;
}
