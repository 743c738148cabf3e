#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Hdlc.h"
#include "support/Fd.h"

// Raw loopback peers for talking to the emulator in tests: nothing of the tool's own ports or
// request builders, only sockets and the framing primitives.
namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Encode(const Bytes& payload, bool leadingFlag = true) {
  Bytes out(HdlcMaxEncodedSize(payload.size()));
  out.resize(static_cast<size_t>(HdlcEncodeFrame(payload.data(), payload.size(), out.data(), leadingFlag)));
  return out;
}

// decoded payload, or nullopt for a frame that does not decode
inline std::optional<Bytes> Decode(Bytes frame) {
  unsigned n = HdlcDecodeFrame(frame.data(), frame.size(), frame.data());
  if (n == 0) return std::nullopt;
  frame.resize(n);
  return frame;
}

inline sockaddr_in Loopback(const char* ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

// A UDP socket on 127.0.0.1, any port, allowed to broadcast.
class UdpPeer {
 public:
  UdpPeer() : m_Fd(socket(AF_INET, SOCK_DGRAM, 0)) {
    int one = 1;
    setsockopt(m_Fd.Get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in me = Loopback("127.0.0.1", 0);
    bind(m_Fd.Get(), reinterpret_cast<sockaddr*>(&me), sizeof me);
  }

  void SendRaw(const char* ip, uint16_t port, const Bytes& datagram) {
    sockaddr_in to = Loopback(ip, port);
    sendto(m_Fd.Get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  void Send(const char* ip, uint16_t port, const Bytes& payload) { SendRaw(ip, port, Encode(payload)); }
  // one datagram as it arrived (still framed); nullopt after realMs without one
  std::optional<Bytes> ReceiveRaw(int realMs, sockaddr_in* from = nullptr) {
    pollfd p{m_Fd.Get(), POLLIN, 0};
    if (poll(&p, 1, realMs) <= 0) return std::nullopt;
    Bytes b(2048);
    sockaddr_in src{};
    socklen_t len = sizeof src;
    ssize_t n = recvfrom(m_Fd.Get(), b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&src), &len);
    if (n < 0) return std::nullopt;
    b.resize(static_cast<size_t>(n));
    if (from) *from = src;
    return b;
  }
  std::optional<Bytes> Receive(int realMs) {
    auto raw = ReceiveRaw(realMs);
    if (!raw) return std::nullopt;
    return Decode(*raw);
  }

 private:
  Fd m_Fd;
};

// A TCP client with a frame reader that follows the assembler rules.
class LinkPeer {
 public:
  explicit LinkPeer(uint16_t port) : m_Fd(socket(AF_INET, SOCK_STREAM, 0)) {
    int one = 1;
    setsockopt(m_Fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in to = Loopback("127.0.0.1", port);
    m_Connected = connect(m_Fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }

  bool Connected() const { return m_Connected; }
  bool SendRaw(const Bytes& b) {
    return ::send(m_Fd.Get(), b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
  }
  bool SendFrame(const Bytes& payload, bool leadingFlag = true) {
    return SendRaw(Encode(payload, leadingFlag));
  }

  // the next decoded frame; nullopt after realMs, or when the connection ended (see Ended)
  std::optional<Bytes> ReadFrame(int realMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    for (;;) {
      while (!m_Pending.empty()) {
        uint8_t b = m_Pending.front();
        m_Pending.erase(m_Pending.begin());
        if (m_Assembler.Push(b)) {
          Bytes frame(m_Assembler.Data(), m_Assembler.Data() + m_Assembler.Size());
          if (auto p = Decode(frame)) return p;
        }
      }
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || m_Ended) return std::nullopt;
      pollfd p{m_Fd.Get(), POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      uint8_t buf[4096];
      ssize_t n = recv(m_Fd.Get(), buf, sizeof buf, 0);
      if (n <= 0) {
        m_Ended = true;
        m_Reset = n < 0 && errno == ECONNRESET;
        return std::nullopt;
      }
      m_Pending.insert(m_Pending.end(), buf, buf + n);
    }
  }
  bool Ended() const { return m_Ended; }
  bool WasReset() const { return m_Reset; }

 private:
  Fd m_Fd;
  bool m_Connected = false;
  bool m_Ended = false;
  bool m_Reset = false;
  HdlcAssembler m_Assembler;
  Bytes m_Pending;
};

}  // namespace simtest
