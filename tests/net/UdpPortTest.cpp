// The UDP port on 127.0.0.1 and on the loopback broadcast address 127.255.255.255 only. The other
// broadcast addresses are configured and opened (to check the socket option) but never sent to.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <vector>

#include "LoopbackPeers.h"
#include "net/CUdpPort.h"
#include "platform/Clock.h"

namespace {

constexpr uint32_t kLong = 20000;

template <class F>
uint64_t ClockMsOf(F&& f) {
  uint64_t start = TickMs();
  f();
  return TickMs() - start;
}

int BroadcastOption(int fd) {
  int on = -1;
  socklen_t len = sizeof(on);
  if (::getsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, &len) < 0) return -1;
  return on;
}

// Receives one datagram on fd; the sender's address goes to *from.
std::string ReceiveDatagram(int fd, sockaddr_in* from = nullptr, int ms = nettest::kPeerWaitMs) {
  if (!nettest::Readable(fd, ms)) return "<nothing>";
  char b[2048];
  sockaddr_in a{};
  socklen_t len = sizeof(a);
  ssize_t n = ::recvfrom(fd, b, sizeof(b), 0, reinterpret_cast<sockaddr*>(&a), &len);
  if (from) *from = a;
  return n < 0 ? "<error>" : std::string(b, static_cast<size_t>(n));
}

bool ReplyTo(int fd, const sockaddr_in& to, const std::string& text) {
  return ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) ==
         static_cast<ssize_t>(text.size());
}

class UdpPortTest : public ::testing::Test {
 protected:
  void OpenTo(const std::string& address, uint16_t port) {
    ASSERT_EQ(1, m_Port.SetConfig(address, port));
    ASSERT_EQ(1, m_Port.Open());
  }
  // Sends "ping" to the echo peer and returns the address it came from.
  sockaddr_in Ping() {
    const std::string ping = "ping";
    EXPECT_EQ(1, m_Port.Write(reinterpret_cast<const uint8_t*>(ping.data()), 4, kLong));
    sockaddr_in from{};
    EXPECT_EQ("ping", ReceiveDatagram(m_Peer.Get(), &from));
    return from;
  }

  ScaledClock m_Clock{10};
  ScopedClock m_Use{m_Clock};
  Fd m_Peer = nettest::BoundUdp("127.0.0.1");
  CUdpPort m_Port;
};

TEST_F(UdpPortTest, BroadcastIsSwitchedOnForAddressesEndingIn255) {
  struct Case {
    const char* address;
    int broadcast;
  } cases[] = {
      {"255.255.255.255", 1}, {"192.168.1.255", 1}, {"127.255.255.255", 1},
      {"192.168.1.1", 0},     {"127.0.0.1", 0},     {"10.0.255.1", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    CUdpPort port;
    ASSERT_EQ(1, port.SetConfig(c.address, 1280));
    ASSERT_EQ(1, port.Open());
    EXPECT_EQ(c.broadcast, BroadcastOption(port.GetSocket()) != 0 ? 1 : 0);
  }
}

TEST_F(UdpPortTest, SetConfigRejectsTextsThatAreNoAddress) {
  const std::string cases[] = {
      "not-an-ip",        "1.2.3.4.5", "", "255.255.255.2555", "127.0.0.1" + std::string(16, ' '),
      " 255.255.255.255",
  };
  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  uint8_t b[4];
  uint32_t n = 0;
  ASSERT_EQ(0, m_Port.Read(b, sizeof(b), &n, 0));  // leaves 10022: no local port yet
  Ping();
  ASSERT_EQ(0, m_Port.Read(b, sizeof(b), &n, 10));
  const int before = m_Port.GetLastError();
  ASSERT_EQ(kErrIoPending, before);
  for (const auto& text : cases) {
    SCOPED_TRACE("[" + text + "]");
    SetThreadSocketError(0);
    EXPECT_EQ(0, m_Port.SetConfig(text, 1280));
    EXPECT_EQ(kErrInvalid, GetThreadSocketError());
    EXPECT_EQ(before, m_Port.GetLastError());
  }
}

TEST_F(UdpPortTest, ReadBeforeAnySendFailsAtOnce) {
  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  uint8_t b[16];
  uint32_t received = 0;
  uint64_t ms = ClockMsOf([&] { EXPECT_EQ(0, m_Port.Read(b, sizeof(b), &received, kLong)); });
  EXPECT_EQ(kErrInvalid, m_Port.GetLastError());
  EXPECT_LT(ms, 1000u) << "no wait for a datagram that cannot come";
}

TEST_F(UdpPortTest, DatagramsGoOutAndRepliesComeBackToTheSendingPort) {
  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  EXPECT_EQ(NetPortUdp, m_Port.GetPortType());
  EXPECT_EQ(0, BroadcastOption(m_Port.GetSocket()));
  sockaddr_in from = Ping();
  EXPECT_EQ(0, m_Port.GetLastError());
  ASSERT_TRUE(ReplyTo(m_Peer.Get(), from, "pong"));
  ASSERT_TRUE(ReplyTo(m_Peer.Get(), from, "second"));

  uint8_t b[64];
  uint32_t received = 0;
  ASSERT_EQ(1, m_Port.Read(b, sizeof(b), &received, kLong));
  EXPECT_EQ("pong", std::string(reinterpret_cast<char*>(b), received)) << "one datagram per Read";
  ASSERT_EQ(1, m_Port.Read(b, sizeof(b), &received, kLong));
  EXPECT_EQ("second", std::string(reinterpret_cast<char*>(b), received));
  EXPECT_EQ(0, m_Port.GetLastError());
}

TEST_F(UdpPortTest, DatagramsFromAnySenderAreTaken) {
  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  sockaddr_in from = Ping();
  Fd stranger = nettest::BoundUdp("127.0.0.1");
  ASSERT_TRUE(ReplyTo(stranger.Get(), from, "other"));
  uint8_t b[16];
  uint32_t received = 0;
  ASSERT_EQ(1, m_Port.Read(b, sizeof(b), &received, kLong));
  EXPECT_EQ("other", std::string(reinterpret_cast<char*>(b), received));
}

TEST_F(UdpPortTest, ReadTimesOutAfterItsTimeoutWithoutAPause) {
  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  Ping();
  uint8_t b[16];
  uint32_t received = 0;
  uint64_t ms = ClockMsOf([&] { EXPECT_EQ(0, m_Port.Read(b, sizeof(b), &received, 400)); });
  EXPECT_GE(ms, 400u);
  EXPECT_LT(ms, 400u + 1200u);
  EXPECT_EQ(kErrIoPending, m_Port.GetLastError()) << "the code the wait started with";
}

TEST_F(UdpPortTest, OddDatagramSizes) {
  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  sockaddr_in from = Ping();
  uint8_t b[8];
  uint32_t received = 99;

  // an empty datagram is no data: failure, but no error
  ASSERT_TRUE(ReplyTo(m_Peer.Get(), from, ""));
  EXPECT_EQ(0, m_Port.Read(b, sizeof(b), &received, kLong));
  EXPECT_EQ(0u, received);
  EXPECT_EQ(0, m_Port.GetLastError());

  // a datagram longer than the buffer is not handed over as if it were whole
  ASSERT_TRUE(ReplyTo(m_Peer.Get(), from, "0123456789"));
  EXPECT_EQ(0, m_Port.Read(b, sizeof(b), &received, kLong));
  EXPECT_EQ(kErrMsgSize, m_Port.GetLastError());
  ASSERT_TRUE(ReplyTo(m_Peer.Get(), from, "next"));
  ASSERT_EQ(1, m_Port.Read(b, sizeof(b), &received, kLong));
  EXPECT_EQ("next", std::string(reinterpret_cast<char*>(b), received)) << "the long one was consumed";

  // more than a datagram can carry
  std::vector<uint8_t> huge(70000, 1);
  EXPECT_EQ(0, m_Port.Write(huge.data(), static_cast<uint32_t>(huge.size()), kLong));
  EXPECT_EQ(kErrMsgSize, m_Port.GetLastError());
}

TEST_F(UdpPortTest, SendsToTheLoopbackBroadcastAddressOnlyWithBroadcastOn) {
  Fd receiver = nettest::BoundUdp("127.255.255.255");
  ASSERT_TRUE(receiver.Valid());
  const uint16_t port = nettest::LocalPort(receiver.Get());

  // without the option the system refuses a broadcast destination
  Fd plain(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(0x7FFFFFFF);
  ASSERT_LT(::sendto(plain.Get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0);
  EXPECT_EQ(EACCES, errno);

  OpenTo("127.255.255.255", port);
  const std::string hello = "hello all";
  ASSERT_EQ(1, m_Port.Write(reinterpret_cast<const uint8_t*>(hello.data()),
                            static_cast<uint32_t>(hello.size()), kLong));
  EXPECT_EQ(0, m_Port.GetLastError());
  EXPECT_EQ(hello, ReceiveDatagram(receiver.Get()));
}

TEST_F(UdpPortTest, ClosedPortAndDefaults) {
  uint8_t b[4] = {};
  uint32_t received = 5;
  EXPECT_EQ(1, m_Port.Close()) << "closing a closed port";
  EXPECT_EQ(1, m_Port.Purge()) << "nothing to purge";
  EXPECT_EQ(0, m_Port.Write(b, sizeof(b), kLong));
  EXPECT_EQ(0, m_Port.Read(b, sizeof(b), &received, kLong));
  EXPECT_EQ(5u, received);
  EXPECT_EQ(0, m_Port.GetLastError());

  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  const int first = m_Port.GetSocket();
  EXPECT_GE(first, 0);
  ASSERT_EQ(1, m_Port.Open()) << "reopening replaces the socket";
  EXPECT_GE(m_Port.GetSocket(), 0);
  EXPECT_EQ(1, m_Port.Close());
  EXPECT_EQ(-1, m_Port.GetSocket());
  EXPECT_EQ(0, m_Port.Write(b, sizeof(b), kLong));
}

TEST_F(UdpPortTest, WriteRefusesTheUnspecifiedAddress) {
  Fd local = nettest::BoundUdp("0.0.0.0");  // would catch a datagram sent to 0.0.0.0
  OpenTo("0.0.0.0", nettest::LocalPort(local.Get()));
  const uint8_t x[] = {'x'};
  EXPECT_EQ(0, m_Port.Write(x, 1, kLong));
  EXPECT_EQ(kErrAddrNotAvail, m_Port.GetLastError());
  EXPECT_FALSE(nettest::Readable(local.Get(), 50));
}

TEST_F(UdpPortTest, ConfigChangesTheDestinationOfLaterWrites) {
  OpenTo("127.0.0.1", nettest::LocalPort(m_Peer.Get()));
  Fd second = nettest::BoundUdp("127.0.0.1");
  ASSERT_EQ(1, m_Port.SetConfig("127.0.0.1", nettest::LocalPort(second.Get())));
  const uint8_t x[] = {'x'};
  ASSERT_EQ(1, m_Port.Write(x, 1, kLong));
  EXPECT_EQ("x", ReceiveDatagram(second.Get()));
  EXPECT_FALSE(nettest::Readable(m_Peer.Get(), 50));
}

}  // namespace
