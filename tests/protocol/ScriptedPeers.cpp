#include "ScriptedPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "protocol/Hdlc.h"

namespace {

constexpr int kPollMs = 20;

int ListenLoopback(uint16_t* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, kPollMs) > 0;
}

void SendAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

std::string Hex(const Bytes& bytes) {
  std::string s;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X ", v);
    s += b;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

Bytes Framed(const Bytes& payload, bool leadingFlag) {
  Bytes out(HdlcMaxEncodedSize(payload.size()));
  const int n = HdlcEncodeFrame(payload.data(), payload.size(), out.data(), leadingFlag);
  out.resize(static_cast<size_t>(n));
  return out;
}

FramePeer::FramePeer(Responder responder) : m_Responder(std::move(responder)) {
  m_Listen = ListenLoopback(&m_Port);
  m_Thread = std::thread(&FramePeer::Run, this);
}

FramePeer::~FramePeer() {
  m_Stop = true;
  m_Thread.join();
  if (m_Listen >= 0) ::close(m_Listen);
}

void FramePeer::Run() {
  if (m_Listen < 0) return;
  int conn = -1;
  while (!m_Stop && conn < 0) {
    if (Readable(m_Listen)) conn = ::accept(m_Listen, nullptr, nullptr);
  }
  if (conn < 0) return;
  HdlcAssembler assembler;
  int index = 0;
  while (!m_Stop) {
    if (!Readable(conn)) continue;
    uint8_t buf[2048];
    const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
    if (n <= 0) break;
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      m_Raw.insert(m_Raw.end(), buf, buf + n);
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (!assembler.Push(buf[i])) continue;
      Bytes frame(assembler.Data(), assembler.Data() + assembler.Size());
      const unsigned length = HdlcDecodeFrame(frame.data(), frame.size(), frame.data());
      if (length == 0) continue;
      frame.resize(length);
      {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Requests.push_back(frame);
      }
      m_Changed.notify_all();
      for (const Bytes& reply : m_Responder(frame, index)) {
        const Bytes wire = !reply.empty() && reply[0] == kHdlcFlag ? reply : Framed(reply);
        SendAll(conn, wire.data(), wire.size());
      }
      ++index;
    }
  }
  ::close(conn);
}

std::vector<Bytes> FramePeer::Requests() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Requests;
}

Bytes FramePeer::RawReceived() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Raw;
}

bool FramePeer::WaitRequests(size_t n, int realMs) const {
  std::unique_lock<std::mutex> lock(m_Lock);
  return m_Changed.wait_for(lock, std::chrono::milliseconds(realMs), [&] { return m_Requests.size() >= n; });
}

UdpPeer::UdpPeer(Responder responder) : m_Responder(std::move(responder)) {
  m_Socket = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (m_Socket >= 0 && ::bind(m_Socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(m_Socket, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    m_Port = ntohs(addr.sin_port);
  }
  m_Thread = std::thread(&UdpPeer::Run, this);
}

UdpPeer::~UdpPeer() {
  m_Stop = true;
  m_Thread.join();
  if (m_Socket >= 0) ::close(m_Socket);
}

void UdpPeer::Spray(Bytes datagram, int everyRealMs) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Spray = std::move(datagram);
  m_SprayEveryMs = everyRealMs;
}

void UdpPeer::Run() {
  if (m_Socket < 0) return;
  int index = 0;
  sockaddr_in from{};
  socklen_t len = sizeof from;
  bool known = false;
  auto nextSpray = std::chrono::steady_clock::now();
  while (!m_Stop) {
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      if (known && m_SprayEveryMs > 0 && std::chrono::steady_clock::now() >= nextSpray) {
        ::sendto(m_Socket, m_Spray.data(), m_Spray.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        ++m_Sprayed;
        nextSpray = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_SprayEveryMs);
      }
    }
    pollfd p{m_Socket, POLLIN, 0};
    if (::poll(&p, 1, 5) <= 0) continue;
    uint8_t buf[2048];
    len = sizeof from;
    const ssize_t n = ::recvfrom(m_Socket, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    Bytes datagram(buf, buf + n);
    known = true;
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      m_Received.push_back(datagram);
    }
    for (const Bytes& reply : m_Responder(datagram, index)) {
      ::sendto(m_Socket, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
    ++index;
  }
}

std::vector<Bytes> UdpPeer::Received() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Received;
}

ConsolePeer::ConsolePeer(std::string greeting, std::vector<ConsoleStep> steps, bool closeAtEnd)
    : m_Greeting(std::move(greeting)), m_Steps(std::move(steps)), m_CloseAtEnd(closeAtEnd) {
  m_Listen = ListenLoopback(&m_Port);
  m_Thread = std::thread(&ConsolePeer::Run, this);
}

ConsolePeer::~ConsolePeer() {
  m_Stop = true;
  m_Thread.join();
  if (m_Listen >= 0) ::close(m_Listen);
}

void ConsolePeer::Send(const std::string& bytes) {
  const int conn = m_Conn.load();
  if (conn >= 0) SendAll(conn, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string ConsolePeer::Received() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Received;
}

void ConsolePeer::Run() {
  if (m_Listen < 0) return;
  while (!m_Stop) {
    if (!Readable(m_Listen)) continue;
    const int conn = ::accept(m_Listen, nullptr, nullptr);
    if (conn < 0) continue;
    ++m_Connections;
    m_Conn = conn;
    SendAll(conn, reinterpret_cast<const uint8_t*>(m_Greeting.data()), m_Greeting.size());
    std::string pending;  // received since the previous step
    size_t step = 0;
    bool open = true;
    while (!m_Stop && open) {
      if (step == m_Steps.size() && m_CloseAtEnd) break;
      if (!Readable(conn)) continue;
      char buf[1024];
      const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
      if (n <= 0) {
        open = false;
        break;
      }
      pending.append(buf, static_cast<size_t>(n));
      {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Received.append(buf, static_cast<size_t>(n));
      }
      while (step < m_Steps.size() && pending.find(m_Steps[step].expect) != std::string::npos) {
        pending.erase(0, pending.find(m_Steps[step].expect) + m_Steps[step].expect.size());
        const std::string& reply = m_Steps[step].reply;
        SendAll(conn, reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
        ++step;
      }
    }
    m_Conn = -1;
    ::close(conn);
  }
}

std::vector<std::string> LogMessages(const std::string& pending) {
  // "%Y-%m-%d %H:%M:%S " is 20 characters
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < pending.size()) {
    size_t end = pending.find("\r\n", pos);
    if (end == std::string::npos) end = pending.size();
    const std::string line = pending.substr(pos, end - pos);
    out.push_back(line.size() >= 20 ? line.substr(20) : line);
    pos = end + 2;
  }
  return out;
}
