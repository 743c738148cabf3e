#pragma once

// Small peers on 127.0.0.1 for the port tests. Every wait is bounded; every socket is closed by
// its owner.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace nettest {

inline constexpr int kPeerWaitMs = 5000;  // real milliseconds any peer waits at most

inline uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof(a);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) < 0) return 0;
  return ntohs(a.sin_port);
}

inline bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

// A socket descriptor closed at the end of its scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_Fd(fd) {}
  Fd(Fd&& other) noexcept : m_Fd(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }
  int Get() const { return m_Fd; }
  bool Valid() const { return m_Fd >= 0; }
  int Release() {
    int fd = m_Fd;
    m_Fd = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (m_Fd >= 0) ::close(m_Fd);
    m_Fd = fd;
  }

 private:
  int m_Fd = -1;
};

// Listens on 127.0.0.1 at a free port.
class TcpListener {
 public:
  TcpListener() : m_Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    int one = 1;
    ::setsockopt(m_Fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_Fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) ::listen(m_Fd.Get(), 8);
    m_Port = LocalPort(m_Fd.Get());
  }
  uint16_t Port() const { return m_Port; }
  // The next connection, or an invalid Fd when none came within ms real milliseconds.
  Fd Accept(int ms = kPeerWaitMs) {
    if (!Readable(m_Fd.Get(), ms)) return Fd();
    return Fd(::accept4(m_Fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  }
  void Stop() { m_Fd.Reset(); }

 private:
  Fd m_Fd;
  uint16_t m_Port = 0;
};

// Closes a connection so that the other side sees a reset instead of an orderly end.
inline void ResetConnection(Fd& fd) {
  linger l{1, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof(l));
  fd.Reset();
}

inline bool SendAll(int fd, const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

inline bool SendText(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }

// Reads exactly count bytes, each wait bounded; returns fewer when the stream ends or stalls.
inline std::vector<uint8_t> ReceiveBytes(int fd, size_t count, int ms = kPeerWaitMs) {
  std::vector<uint8_t> out(count);
  size_t have = 0;
  while (have < count && Readable(fd, ms)) {
    ssize_t n = ::recv(fd, out.data() + have, count - have, 0);
    if (n <= 0) break;
    have += static_cast<size_t>(n);
  }
  out.resize(have);
  return out;
}

inline std::string ReceiveText(int fd, size_t count, int ms = kPeerWaitMs) {
  auto bytes = ReceiveBytes(fd, count, ms);
  return std::string(bytes.begin(), bytes.end());
}

// A UDP socket bound to address:0 (or to a given port).
inline Fd BoundUdp(const char* address, uint16_t port = 0) {
  Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &a.sin_addr);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) < 0) fd.Reset();
  return fd;
}

}  // namespace nettest

namespace nettest {

// A port on 127.0.0.1 that never answers a connection attempt: its listener never accepts and the
// one place of its queue is taken by a connection of our own, so the system drops every further
// attempt without a word, as a router (or a firewall in between) that drops them does. The
// connecting side waits until its own limit. port 0 picks a free one; a given port may be one that
// another listener just gave up.
class SilentListener {
 public:
  explicit SilentListener(uint16_t port = 0) : m_Listen(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    int one = 1;
    ::setsockopt(m_Listen.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_Listen.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        ::listen(m_Listen.Get(), 0) != 0)
      return;
    m_Port = LocalPort(m_Listen.Get());
    a.sin_port = htons(m_Port);
    m_Filler = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    m_Ready = ::connect(m_Filler.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  }
  bool Ready() const { return m_Ready; }
  uint16_t Port() const { return m_Port; }

 private:
  Fd m_Listen;
  Fd m_Filler;
  uint16_t m_Port = 0;
  bool m_Ready = false;
};

}  // namespace nettest
