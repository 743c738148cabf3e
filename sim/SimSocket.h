#pragma once

#include <cstdint>
#include <string>

#include "net/SocketOs.h"

namespace qorsim {

// Owns one socket (or, on POSIX, the wake pipe's descriptor); closes it on destruction.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_Fd(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& o) noexcept : m_Fd(o.Release()) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return m_Fd; }
  bool Valid() const { return m_Fd >= 0; }
  int Release() {
    int fd = m_Fd;
    m_Fd = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int m_Fd = -1;
};

// Wakes a socket wait (PollSockets) from another thread (Stop): a self-pipe on POSIX, a loopback
// datagram socket that sends to itself on Windows, where only sockets can be waited for together.
class WakePipe {
 public:
  bool Open();
  void Wake();
  void Drain();
  int ReadFd() const { return m_Read.Get(); }

 private:
  Fd m_Read;
  Fd m_Write;
};

// Accepts a waiting connection (non-blocking, not inherited); an invalid Fd when none waits.
Fd AcceptConnection(int listenFd, sockaddr_in* from);

// Parses a dotted IPv4 address; false for anything else.
bool ParseIpv4(const std::string& text, in_addr* out);
std::string SockAddrText(const sockaddr_in& a);  // "a.b.c.d:port"

// A listening TCP socket bound to address:port (0 = any free port), SO_REUSEADDR, non-blocking.
// On failure returns an invalid Fd and sets error ("cannot bind TCP 127.0.0.1:23: ...").
Fd ListenTcp(const std::string& address, uint16_t port, std::string* error);
// A UDP socket bound to address:port with SO_BROADCAST, non-blocking. reuse sets SO_REUSEADDR,
// which for UDP lets several sockets share the address: only the broadcast socket asks for it, so a
// second emulator on the same unicast port still fails to bind.
Fd BindUdp(const std::string& address, uint16_t port, bool reuse, std::string* error);
uint16_t LocalPort(int fd);

// Sends all bytes on a connected stream socket; bounded by a real-time limit so a peer that stops
// reading cannot hang the emulator. False when the peer is gone or the limit passed.
bool SendAll(int fd, const uint8_t* data, size_t length);
// Opens or closes a listening socket so that it matches wantOpen (a port that refuses connections
// while a fault says so). Returns true when something changed or failed, with a note in *what.
bool SyncListener(Fd& listen, bool wantOpen, const std::string& address, uint16_t port, std::string* what);

// A listener on address:port that never accepts: its queue holds one connection, which the
// emulator's own connection (*filler) takes, so the system drops every further connection attempt
// without an answer. False with a reason when it cannot be set up.
bool OpenUnansweredListener(const std::string& address, uint16_t port, Fd* listener, Fd* filler,
                            std::string* error);

// Closes a TCP connection with a reset (RST) instead of an orderly close.
void AbortConnection(Fd& fd);

}  // namespace qorsim
