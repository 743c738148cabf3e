#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "net/INetPort.h"
#include "platform/Clock.h"
#include "protocol/CHdlcAdapter.h"
#include "protocol/Hdlc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A loopback listener on a free port; the peer side of the router link.
class Peer {
 public:
  Peer() {
    m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(m_Listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_Listen, 4);
    socklen_t len = sizeof a;
    ::getsockname(m_Listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_Port = ntohs(a.sin_port);
  }
  ~Peer() {
    if (m_Conn >= 0) ::close(m_Conn);
    ::close(m_Listen);
  }
  uint16_t Port() const { return m_Port; }

  bool Accept(int ms = 5000) {
    pollfd p{m_Listen, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return false;
    if (m_Conn >= 0) ::close(m_Conn);
    m_Conn = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
    return m_Conn >= 0;
  }
  bool Send(const Bytes& b) {
    return ::send(m_Conn, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
  }
  // Reads until a closing flag that ends at least 3 bytes (bounded in time); the bytes, flags included.
  Bytes ReadFrame(int ms = 5000) {
    Bytes out;
    size_t gathered = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
      pollfd p{m_Conn, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      uint8_t b;
      if (::recv(m_Conn, &b, 1, 0) != 1) break;
      out.push_back(b);
      if (b != kHdlcFlag) {
        ++gathered;
      } else if (gathered >= 3) {
        return out;
      }
    }
    return {};
  }
  // True when the connection was closed by the other side within ms.
  bool SeesClose(int ms = 5000) {
    pollfd p{m_Conn, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return false;
    uint8_t b;
    return ::recv(m_Conn, &b, 1, MSG_DONTWAIT) == 0;
  }

 private:
  int m_Listen = -1;
  int m_Conn = -1;
  uint16_t m_Port = 0;
};

Bytes Frame(const Bytes& payload) {
  Bytes out(HdlcMaxEncodedSize(payload.size()));
  out.resize(static_cast<size_t>(HdlcEncodeFrame(payload.data(), payload.size(), out.data(), true)));
  return out;
}

Bytes Payload(Bytes frame) {
  unsigned n = HdlcDecodeFrame(frame.data(), frame.size(), frame.data());
  frame.resize(n);
  return frame;
}

TEST(HdlcAdapterTcp, CommandExchangeOverLoopbackBothPaths) {
  ScaledClock clk(20);
  ScopedClock use(clk);
  Peer peer;
  CHdlcAdapter a;
  ASSERT_EQ(a.Open("127.0.0.1", peer.Port(), NetPortTcp), 1);
  ASSERT_TRUE(peer.Accept());
  EXPECT_TRUE(a.IsOpen());
  for (bool receiver : {false, true, false}) {
    SCOPED_TRACE(receiver ? "receiver" : "synchronous");
    if (receiver) {
      ASSERT_EQ(a.StartReceiver(), 1);
    } else {
      ASSERT_EQ(a.StopReceiver(), 1);
    }
    const Bytes request = {0x4B, 0xC9, 0x7E, 0x03};
    a.SetResponseKey(request.data(), 2);
    ASSERT_EQ(a.Write(false, request.data(), static_cast<int>(request.size()), true, 3000), 1);
    EXPECT_EQ(Payload(peer.ReadFrame()), request);
    // an unrelated frame first, then the answer in two pieces
    Bytes answer = Frame({0x4B, 0xC9, 0x00, 0x7D, 0x11});
    Bytes first(answer.begin(), answer.begin() + 3);
    Bytes rest(answer.begin() + 3, answer.end());
    if (receiver) {
      ASSERT_TRUE(peer.Send(Frame({0x55, 0x66})));
    }
    ASSERT_TRUE(peer.Send(first));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(peer.Send(rest));
    uint8_t out[64];
    unsigned received = 0;
    ASSERT_EQ(a.Read(out, sizeof out, &received, 20000), 1);
    EXPECT_EQ(Bytes(out, out + received), (Bytes{0x4B, 0xC9, 0x00, 0x7D, 0x11}));
  }
  EXPECT_EQ(a.Close(), 1);
  EXPECT_TRUE(peer.SeesClose());
}

TEST(HdlcAdapterTcp, StopReceiverEndsTheBlockedPortRead) {
  Peer peer;
  CHdlcAdapter a;
  ASSERT_EQ(a.Open("127.0.0.1", peer.Port(), NetPortTcp), 1);
  ASSERT_TRUE(peer.Accept());
  ASSERT_EQ(a.StartReceiver(), 1);  // real clock: the thread sits in a read without limit
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(a.StopReceiver(), 1);
  // the purge wakes it (plus the port's 100 ms pause), far below the 10 s bound
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_FALSE(a.HasReceiver());
  EXPECT_EQ(a.Close(), 1);
}

TEST(HdlcAdapterTcp, FailedOpensLeaveTheAdapterClosed) {
  ScaledClock clk(20);
  ScopedClock use(clk);
  uint16_t deadPort;
  {
    Peer gone;
    deadPort = gone.Port();
  }
  const struct {
    const char* name;
    const char* address;
    uint16_t port;
  } cases[] = {
      {"nobody listens", "127.0.0.1", deadPort},
      {"not an address", "router.local", 1280},
      {"broadcast is no stream address", "255.255.255.255", 1280},
      {"too long to be an address", "127.000.000.000000000000000001", 1280},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CHdlcAdapter a;
    EXPECT_EQ(a.Open(c.address, c.port, NetPortTcp), 0);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(a.GetLastError(), 0);  // the port that knew why is gone
    EXPECT_EQ(a.Close(), 1);
  }
}

TEST(HdlcAdapterTcp, OpenOnAnOpenLinkDropsTheOldConnectionFirst) {
  ScaledClock clk(20);
  ScopedClock use(clk);
  Peer first;
  Peer second;
  CHdlcAdapter a;
  ASSERT_EQ(a.Open("127.0.0.1", first.Port(), NetPortTcp), 1);
  ASSERT_TRUE(first.Accept());
  ASSERT_EQ(a.StartReceiver(), 1);
  ASSERT_EQ(a.Open("127.0.0.1", second.Port(), NetPortTcp), 1);
  EXPECT_TRUE(first.SeesClose());
  EXPECT_FALSE(a.HasReceiver());
  ASSERT_TRUE(second.Accept());
  const uint8_t payload[] = {0x10, 0x20, 0x30};
  ASSERT_EQ(a.Write(false, payload, 3, true, 1000), 1);
  EXPECT_EQ(Payload(second.ReadFrame()), (Bytes{0x10, 0x20, 0x30}));
}

TEST(HdlcAdapterTcp, DatagramLinkCarriesFramesToo) {
  ScaledClock clk(20);
  ScopedClock use(clk);
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  CHdlcAdapter link;
  ASSERT_EQ(link.Open("127.0.0.1", ntohs(a.sin_port), NetPortUdp), 1);
  const Bytes request = {0x01, 0x02, 0x03};
  ASSERT_EQ(link.Write(false, request.data(), 3, true, 1000), 1);
  uint8_t buf[64];
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
  ASSERT_GT(n, 0);
  EXPECT_EQ(Payload(Bytes(buf, buf + n)), request);
  Bytes answer = Frame({0x09, 0x08, 0x07});
  ASSERT_EQ(::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen),
            static_cast<ssize_t>(answer.size()));
  uint8_t out[16];
  unsigned received = 0;
  ASSERT_EQ(link.Read(out, sizeof out, &received, 5000), 1);
  EXPECT_EQ(Bytes(out, out + received), (Bytes{0x09, 0x08, 0x07}));
  EXPECT_EQ(link.Close(), 1);
  ::close(fd);
}

}  // namespace
