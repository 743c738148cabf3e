#include "sim/SimSocket.h"

#include <chrono>
#include <cstring>

#include "net/INetPort.h"
#include "net/SocketOs.h"

namespace qorsim {
namespace {

constexpr int kSendLimitMs = 5000;  // real milliseconds

// The system's text for a socket error code (net/SocketOs.h).
std::string CodeText(int code) {
  std::string text = SystemErrorText(code);
  return text.empty() ? "error " + std::to_string(code) : text;
}

void SetError(std::string* error, const std::string& what, const std::string& address, uint16_t port,
              int code) {
  if (error)
    *error = "cannot bind " + what + " " + address + ":" + std::to_string(port) + ": " + CodeText(code);
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
  int code = 0;
  Fd fd(OpenSocket(type, 0, &code));
  if (!fd.Valid()) {
    SetError(error, what, address, port, code);
    return Fd();
  }
  if (reuse) SetReuseAddress(fd.Get(), type == SOCK_STREAM);
  if (type == SOCK_DGRAM) SetBroadcast(fd.Get());
  if ((code = BindSocket(fd.Get(), sa)) != 0) {
    SetError(error, what, address, port, code);
    return Fd();
  }
  return fd;
}

}  // namespace

bool ParseIpv4(const std::string& text, in_addr* out) { return inet_pton(AF_INET, text.c_str(), out) == 1; }

Fd AcceptConnection(int listenFd, sockaddr_in* from) {
  int code = 0;
  return Fd(AcceptSocket(listenFd, from, &code));
}

std::string SockAddrText(const sockaddr_in& a) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
  return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

namespace {
Fd ListenTcpWithBacklog(const std::string& address, uint16_t port, int backlog, std::string* error) {
  Fd fd = BindSocket(SOCK_STREAM, address, port, true, error, "TCP");
  if (fd.Valid()) {
    if (int code = ListenSocket(fd.Get(), backlog); code != 0) {
      SetError(error, "TCP", address, port, code);
      return Fd();
    }
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
  int code = 0;
  Fd own(OpenSocket(SOCK_STREAM, 0, &code));
  if (!own.Valid()) {
    if (error) *error = "cannot fill the listener's queue: " + CodeText(code);
    return false;
  }
  code = StartConnect(own.Get(), sa);
  if (code != 0 && code != kErrIoPending) {
    if (error) *error = "cannot fill the listener's queue: " + CodeText(code);
    return false;
  }
  SocketPollEntry p{own.Get(), POLLOUT, 0};
  if (PollSockets(&p, 1, kSendLimitMs) != 1 || ConnectOutcome(own.Get()) != 0) {
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
  uint16_t port = 0;
  return ::LocalPort(fd, &port) == 0 ? port : 0;
}

bool SendAll(int fd, const uint8_t* data, size_t length) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendLimitMs);
  while (length > 0) {
    int code = 0;
    long n = SendSome(fd, data, length, &code);
    if (n > 0) {
      data += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && code == kSocketRetry) continue;
    if (n < 0 && code == kErrIoPending) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      SocketPollEntry p{fd, POLLOUT, 0};
      PollSockets(&p, 1, static_cast<int>(left.count()));
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
  SetAbortiveClose(fd.Get());
  fd.Reset();
}

}  // namespace qorsim
