// Error mapping, the per-thread socket error, address parsing, the purge event and the socket wait.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "LoopbackPeers.h"
#include "net/CWsaEvent.h"
#include "net/INetPort.h"
#include "net/PollWait.h"
#include "platform/Clock.h"

namespace {

TEST(NetErrors, ErrnoValuesMapToThePortCodes) {
  struct Case {
    int err;
    int code;
  } cases[] = {
      {ECONNABORTED, kErrConnAborted},
      {ECONNRESET, kErrConnReset},
      {EPIPE, kErrConnReset},
      {EINVAL, kErrInvalid},
      {EAGAIN, kErrIoPending},
      {EWOULDBLOCK, kErrIoPending},
      {EINPROGRESS, kErrIoPending},
      {EMSGSIZE, kErrMsgSize},
      {ECONNREFUSED, ECONNREFUSED},
      {ETIMEDOUT, ETIMEDOUT},
      // a refused send (a firewall rule, a broadcast without permission) must not read as the
      // purged read that 1 means to the ports
      {EACCES, kErrAccess},
      {EPERM, kErrAccess},
  };
  for (const auto& c : cases) EXPECT_EQ(c.code, MapSocketErrno(c.err)) << "errno " << c.err;
}

TEST(NetErrors, ThreadSocketErrorBelongsToEachThread) {
  SetThreadSocketError(kErrInvalid);
  int seenByOther = -1;
  std::thread other([&] {
    seenByOther = GetThreadSocketError();
    SetThreadSocketError(kErrConnReset);
  });
  other.join();
  EXPECT_EQ(0, seenByOther);
  EXPECT_EQ(kErrInvalid, GetThreadSocketError());
}

TEST(NetAddress, DottedTextsParseLikeTheSystemParser) {
  struct Case {
    std::string text;
    bool valid;
    uint32_t hostOrder;
  } cases[] = {
      {"127.0.0.1", true, 0x7F000001},
      {"192.168.1.255", true, 0xC0A801FF},
      {"127.1", true, 0x7F000001},  // the short forms stay accepted
      {"0x7f.0.0.1", true, 0x7F000001},
      {"017.0.0.1", true, 0x0F000001},                         // a leading zero means octal
      {"127.0.0.1" + std::string(15, ' '), true, 0x7F000001},  // 24 characters: still fits
      {"127.0.0.1" + std::string(16, ' '), false, 0},          // 25 characters: does not
      {"255.255.255.255", false, 0},                           // the parser's own "invalid" value
      {"256.0.0.1", false, 0},
      {"1.2.3.4.5", false, 0},
      {"127.0.0.1x", false, 0},
      {"router", false, 0},
      {"", false, 0},
      {std::string("127.0.0.1\0.5", 12), false, 0},  // an embedded zero must not cut the text short
  };
  for (const auto& c : cases) {
    uint32_t ip = 0xDEADBEEF;
    bool ok = ParseIpv4Text(c.text, &ip);
    EXPECT_EQ(c.valid, ok) << "[" << c.text << "]";
    if (ok) {
      EXPECT_EQ(c.hostOrder, ntohl(ip)) << "[" << c.text << "]";
    } else {
      EXPECT_EQ(0xDEADBEEFu, ip) << "output touched for [" << c.text << "]";
    }
  }
}

TEST(WsaEvent, IsManualResetAndStartsClear) {
  CWsaEvent event;
  ASSERT_TRUE(event.IsValid());
  EXPECT_FALSE(event.IsSet());
  EXPECT_TRUE(event.Reset());  // resetting a clear event is harmless
  EXPECT_FALSE(event.IsSet());

  EXPECT_TRUE(event.Set());
  EXPECT_TRUE(event.Set());
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(event.IsSet());  // looking does not consume it

  EXPECT_TRUE(event.Reset());  // one reset clears any number of sets
  EXPECT_FALSE(event.IsSet());
}

class PollWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int sv[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv));
    m_A.Reset(sv[0]);
    m_B.Reset(sv[1]);
  }
  ScaledClock m_Clock{10};
  ScopedClock m_Use{m_Clock};
  Fd m_A, m_B;
  CWsaEvent m_Event;
};

// both ready when the wait looks: the port's Read relies on the data being taken first
TEST_F(PollWaitTest, ReadySocketWinsOverSignalledEvent) {
  ASSERT_TRUE(nettest::SendText(m_B.Get(), "x"));
  ASSERT_TRUE(m_Event.Set());
  EXPECT_EQ(PollResult::Socket, PollSocket(m_A.Get(), POLLIN, &m_Event, PollDeadline(1000)));
  EXPECT_TRUE(m_Event.IsSet());
}

// What ends a wait, with and without a socket: the event set before or during the wait, the deadline
// with nothing ready. A purge from the other thread must end a Read's wait well before its limit.
TEST_F(PollWaitTest, EventOrDeadlineEndsTheWait) {
  struct Case {
    const char* name;
    bool withSocket;
    bool setBefore;
    bool setFromThread;
    PollResult expected;
  } cases[] = {
      {"event alone, set before", false, true, false, PollResult::Event},
      {"event alone, set while waiting", false, false, true, PollResult::Event},
      {"event alone, never set", false, false, false, PollResult::Timeout},
      {"socket idle, event set before", true, true, false, PollResult::Event},
      {"socket idle, event set while waiting", true, false, true, PollResult::Event},
      {"socket idle, nothing set", true, false, false, PollResult::Timeout},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(m_Event.Reset());
    if (c.setBefore) {
      ASSERT_TRUE(m_Event.Set());
    }
    // 3000 clock ms are 300 real ms at the fixture's scale; a wait that ends by the event ends long
    // before that
    const uint32_t limit = c.expected == PollResult::Timeout ? 300 : 3000;
    const auto start = std::chrono::steady_clock::now();
    std::thread setter;
    if (c.setFromThread)
      setter = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m_Event.Set();
      });
    const PollResult r =
        PollSocket(c.withSocket ? m_A.Get() : kNoSocket, POLLIN, &m_Event, PollDeadline(limit));
    const auto took = std::chrono::steady_clock::now() - start;
    if (setter.joinable()) setter.join();
    EXPECT_EQ(c.expected, r) << c.name;
    if (c.expected == PollResult::Event) {
      EXPECT_LT(took, std::chrono::milliseconds(200)) << c.name;
      // the wait only looks at the event: a Read that it ends resets it
      EXPECT_TRUE(m_Event.IsSet()) << c.name;
    }
  }
}

}  // namespace
