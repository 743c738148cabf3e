#include "sim/SimSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace qorsim {
namespace {

constexpr int kSendLimitMs = 5000;  // real milliseconds

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetError(std::string* error, const std::string& what, const std::string& address, uint16_t port,
              int err) {
  if (error)
    *error = "cannot bind " + what + " " + address + ":" + std::to_string(port) + ": " + std::strerror(err);
}

Fd BindSocket(int type, const std::string& address, uint16_t port, bool reuse, std::string* error,
              const char* what) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (!ParseIpv4(address, &sa.sin_addr)) {
    if (error) *error = std::string("bad IPv4 address '") + address + "'";
    return Fd();
  }
  Fd fd(socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    SetError(error, what, address, port, errno);
    return Fd();
  }
  int one = 1;
  if (reuse) setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (type == SOCK_DGRAM) setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || !SetNonBlocking(fd.Get())) {
    SetError(error, what, address, port, errno);
    return Fd();
  }
  return fd;
}

}  // namespace

void Fd::Reset(int fd) {
  if (m_Fd >= 0) ::close(m_Fd);
  m_Fd = fd;
}

bool WakePipe::Open() {
  int p[2];
  if (pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  m_Read.Reset(p[0]);
  m_Write.Reset(p[1]);
  return true;
}

void WakePipe::Wake() {
  uint8_t b = 1;
  if (m_Write.Valid()) (void)!::write(m_Write.Get(), &b, 1);
}

void WakePipe::Drain() {
  uint8_t buf[64];
  while (m_Read.Valid() && ::read(m_Read.Get(), buf, sizeof buf) > 0) {
  }
}

bool ParseIpv4(const std::string& text, in_addr* out) { return inet_pton(AF_INET, text.c_str(), out) == 1; }

std::string SockAddrText(const sockaddr_in& a) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
  return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

namespace {
Fd ListenTcpWithBacklog(const std::string& address, uint16_t port, int backlog, std::string* error) {
  Fd fd = BindSocket(SOCK_STREAM, address, port, true, error, "TCP");
  if (fd.Valid() && listen(fd.Get(), backlog) != 0) {
    SetError(error, "TCP", address, port, errno);
    return Fd();
  }
  return fd;
}
}  // namespace

Fd ListenTcp(const std::string& address, uint16_t port, std::string* error) {
  return ListenTcpWithBacklog(address, port, 8, error);
}

bool OpenUnansweredListener(const std::string& address, uint16_t port, Fd* listener, Fd* filler,
                            std::string* error) {
  // a backlog of 0 leaves room for exactly one connection that nobody accepts
  Fd listen = ListenTcpWithBacklog(address, port, 0, error);
  if (!listen.Valid()) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  ParseIpv4(address, &sa.sin_addr);
  Fd own(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!own.Valid()) {
    if (error) *error = std::string("cannot fill the listener's queue: ") + std::strerror(errno);
    return false;
  }
  if (connect(own.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
    if (error) *error = std::string("cannot fill the listener's queue: ") + std::strerror(errno);
    return false;
  }
  pollfd p{own.Get(), POLLOUT, 0};
  int err = 0;
  socklen_t len = sizeof err;
  if (poll(&p, 1, kSendLimitMs) != 1 || getsockopt(own.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 ||
      err != 0) {
    if (error) *error = "cannot fill the listener's queue";
    return false;
  }
  *listener = std::move(listen);
  *filler = std::move(own);
  return true;
}

Fd BindUdp(const std::string& address, uint16_t port, bool reuse, std::string* error) {
  return BindSocket(SOCK_DGRAM, address, port, reuse, error, "UDP");
}

uint16_t LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool SendAll(int fd, const uint8_t* data, size_t length) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendLimitMs);
  while (length > 0) {
    ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, static_cast<int>(left.count()));
      continue;
    }
    return false;
  }
  return true;
}

bool SyncListener(Fd& listen, bool wantOpen, const std::string& address, uint16_t port, std::string* what) {
  if (wantOpen == listen.Valid()) return false;
  if (!wantOpen) {
    listen.Reset();
    *what = "closed: connections are refused";
    return true;
  }
  std::string error;
  listen = ListenTcp(address, port, &error);
  *what = listen.Valid() ? "listening again" : error;
  return true;
}

void AbortConnection(Fd& fd) {
  if (!fd.Valid()) return;
  linger l{1, 0};
  setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  fd.Reset();
}

}  // namespace qorsim
