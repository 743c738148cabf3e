// The Windows Sockets side of the ports' socket calls and waits: the codes are the Windows Sockets
// numbers themselves (the log's texts and the failure advice are keyed by them), and the purge
// event ends a wait on a socket that has nothing to read.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/CWsaEvent.h"
#include "net/INetPort.h"
#include "net/PollWait.h"
#include "net/SocketOs.h"
#include "support/FreePort.h"

namespace {

using Ms = std::chrono::milliseconds;

// A socket of the ports' calls, closed at the end of the scope.
class Socket {
 public:
  explicit Socket(int type) { m_Fd = OpenSocket(type, 0, &m_OpenError); }
  ~Socket() {
    if (m_Fd != kNoSocket) CloseSocket(m_Fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Get() const { return m_Fd; }
  int OpenError() const { return m_OpenError; }

 private:
  int m_Fd = kNoSocket;
  int m_OpenError = 0;
};

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

// A datagram socket bound to a free loopback port; its port in *port.
void BindDatagram(const Socket& s, uint16_t* port) {
  ASSERT_NE(s.Get(), kNoSocket) << s.OpenError();
  ASSERT_EQ(BindSocket(s.Get(), Loopback(0)), 0);
  ASSERT_EQ(LocalPort(s.Get(), port), 0);
  ASSERT_NE(*port, 0);
}

TEST(WindowsSockets, ThePurgeEventEndsAWaitOnAQuietSocket) {
  Socket quiet(SOCK_DGRAM);
  uint16_t port = 0;
  BindDatagram(quiet, &port);
  CWsaEvent purge;
  ASSERT_TRUE(purge.IsValid());
  ASSERT_FALSE(purge.IsSet()) << "an event starts clear";

  const auto start = std::chrono::steady_clock::now();
  std::thread setter([&purge] {
    std::this_thread::sleep_for(Ms(100));
    purge.Set();
  });
  const PollResult result = PollSocket(quiet.Get(), POLLIN, &purge, PollDeadline(10000));
  setter.join();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result, PollResult::Event);
  EXPECT_GE(waited, Ms(90)) << "the wait ended before the event was set";
  EXPECT_LT(waited, Ms(5000)) << "the event was not seen while the socket stayed quiet";
  EXPECT_TRUE(purge.IsSet()) << "a manual-reset event stays set for the reader it ends";
  ASSERT_TRUE(purge.Reset());
  EXPECT_FALSE(purge.IsSet());

  // cleared again, the same wait runs to its deadline
  EXPECT_EQ(PollSocket(quiet.Get(), POLLIN, &purge, PollDeadline(50)), PollResult::Timeout);
}

TEST(WindowsSockets, DataWinsOverASetEventAndTheEventAloneIsWaitedFor) {
  Socket receiver(SOCK_DGRAM);
  uint16_t port = 0;
  BindDatagram(receiver, &port);
  Socket sender(SOCK_DGRAM);
  ASSERT_NE(sender.Get(), kNoSocket);
  const uint8_t byte = 0x7E;
  int error = 0;
  ASSERT_EQ(SendDatagram(sender.Get(), &byte, 1, Loopback(port), &error), 1) << error;

  CWsaEvent purge;
  ASSERT_TRUE(purge.Set());
  EXPECT_EQ(PollSocket(receiver.Get(), POLLIN, &purge, PollDeadline(5000)), PollResult::Socket);

  // no socket: the event alone, set or not
  EXPECT_EQ(PollSocket(kNoSocket, 0, &purge, PollDeadline(5000)), PollResult::Event);
  ASSERT_TRUE(purge.Reset());
  EXPECT_EQ(PollSocket(kNoSocket, 0, &purge, PollDeadline(30)), PollResult::Timeout);
}

TEST(WindowsSockets, FailuresAreToldAsWindowsSocketsNumbers) {
  // a refused connection: nothing listens on a free port
  const uint16_t closed = FreeLoopbackPort();
  ASSERT_NE(closed, 0);
  {
    Socket client(SOCK_STREAM);
    ASSERT_NE(client.Get(), kNoSocket);
    int started = StartConnect(client.Get(), Loopback(closed));
    if (started == kErrIoPending) {
      EXPECT_EQ(PollSocket(client.Get(), POLLOUT, nullptr, PollDeadline(5000)), PollResult::Socket);
      started = ConnectOutcome(client.Get());
    }
    EXPECT_EQ(started, WSAECONNREFUSED);
    EXPECT_EQ(started, 10061);
  }

  // a port that a listener holds cannot be bound again
  Socket listener(SOCK_STREAM);
  ASSERT_EQ(BindSocket(listener.Get(), Loopback(0)), 0);
  ASSERT_EQ(ListenSocket(listener.Get(), 4), 0);
  uint16_t taken = 0;
  ASSERT_EQ(LocalPort(listener.Get(), &taken), 0);
  Socket second(SOCK_STREAM);
  EXPECT_EQ(BindSocket(second.Get(), Loopback(taken)), WSAEADDRINUSE);
  EXPECT_EQ(WSAEADDRINUSE, 10048);

  // sending on a stream that never connected fails with a Windows Sockets number (Windows says
  // WSAENOTCONN, Wine WSAECONNRESET), not an errno value; receiving where nothing came yet waits (997)
  uint8_t buffer[4] = {1, 2, 3, 4};
  int error = 0;
  EXPECT_EQ(SendSome(second.Get(), buffer, sizeof buffer, &error), -1);
  EXPECT_GE(error, WSABASEERR);
  EXPECT_LE(error, WSABASEERR + 1999);
  Socket quiet(SOCK_DGRAM);
  uint16_t port = 0;
  BindDatagram(quiet, &port);
  bool truncated = false;
  error = 0;
  EXPECT_EQ(ReceiveDatagram(quiet.Get(), buffer, sizeof buffer, &truncated, &error), -1);
  EXPECT_EQ(error, kErrIoPending);

  // the system's own text for it (Wine has texts for fewer numbers than Windows)
  EXPECT_FALSE(SystemErrorText(WSAECONNREFUSED).empty());
}

TEST(WindowsSockets, AnAcceptedConnectionCarriesBytesBothWays) {
  Socket listener(SOCK_STREAM);
  ASSERT_EQ(BindSocket(listener.Get(), Loopback(0)), 0);
  ASSERT_EQ(ListenSocket(listener.Get(), 4), 0);
  uint16_t port = 0;
  ASSERT_EQ(LocalPort(listener.Get(), &port), 0);

  Socket client(SOCK_STREAM);
  int started = StartConnect(client.Get(), Loopback(port));
  ASSERT_TRUE(started == 0 || started == kErrIoPending) << started;
  ASSERT_EQ(PollSocket(listener.Get(), POLLIN, nullptr, PollDeadline(5000)), PollResult::Socket);
  sockaddr_in from{};
  int error = 0;
  const int accepted = AcceptSocket(listener.Get(), &from, &error);
  ASSERT_NE(accepted, kNoSocket) << error;
  ASSERT_EQ(PollSocket(client.Get(), POLLOUT, nullptr, PollDeadline(5000)), PollResult::Socket);
  ASSERT_EQ(ConnectOutcome(client.Get()), 0);

  const uint8_t out[3] = {0x7E, 0x0A, 0x7D};  // a 0x0A goes through as it is
  EXPECT_EQ(SendSome(client.Get(), out, sizeof out, &error), 3) << error;
  ASSERT_EQ(PollSocket(accepted, POLLIN, nullptr, PollDeadline(5000)), PollResult::Socket);
  uint8_t in[8] = {};
  EXPECT_EQ(ReceiveSome(accepted, in, sizeof in, &error), 3) << error;
  EXPECT_EQ(in[0], 0x7E);
  EXPECT_EQ(in[1], 0x0A);
  EXPECT_EQ(in[2], 0x7D);

  // the peer's orderly close reads as the end of the stream
  EXPECT_EQ(CloseSocket(accepted), 0);
  ASSERT_EQ(PollSocket(client.Get(), POLLIN, nullptr, PollDeadline(5000)), PollResult::Socket);
  EXPECT_EQ(ReceiveSome(client.Get(), in, sizeof in, &error), 0);
}

}  // namespace
