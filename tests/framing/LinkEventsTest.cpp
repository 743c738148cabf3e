// The router link when its connection ends: the queue's reader is woken at once (no answer of the
// old connection can come), the link's generation moves on, and the worker writes each event to the
// log. And the queue's reads end early on the thread's stop request.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "log/CDownloadLog.h"
#include "net/INetPort.h"
#include "net/LoopbackPeers.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "protocol/CFrameQueue.h"
#include "protocol/CHdlcAdapter.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class F>
uint64_t ClockMsOf(F&& f) {
  uint64_t start = TickMs();
  f();
  return TickMs() - start;
}

TEST(FrameQueueInterrupt, AnEndedConnectionEndsTheReadUnlessItsAnswerIsThere) {
  ScaledClock clock(20);
  ScopedClock use(clock);
  enum class Then {
    InterruptWhileWaiting,
    InterruptBefore,
    InterruptWithMatchQueued,
    KeySetAfterInterrupt,
    StopWhileWaiting
  };
  struct Case {
    const char* name;
    Then then;
    int result;
    uint64_t atLeast;
    uint64_t below;
  };
  const Case cases[] = {
      {"interrupted while waiting", Then::InterruptWhileWaiting, 0, 1000, 3000},
      {"interrupted before the read", Then::InterruptBefore, 0, 0, 1000},
      {"the answer is already there", Then::InterruptWithMatchQueued, 1, 0, 1000},
      // a new exchange starts on whatever connection is there now
      {"a new key clears it", Then::KeySetAfterInterrupt, 0, 5000, 8000},
      {"the thread's stop request", Then::StopWhileWaiting, 0, 1000, 1000 + 2 * kStopPollMs + 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFrameQueue queue;
    const Bytes key = {0x4B, 0xC9};
    queue.SetResponseKey(key.data(), 2);
    std::atomic<bool> stop{false};
    std::thread other;
    // counted from before the other thread starts its pause, so the pause lies wholly inside
    const uint64_t start = TickMs();
    switch (c.then) {
      case Then::InterruptWhileWaiting:
        other = std::thread([&] {
          SleepMs(1000);
          queue.Interrupt();
        });
        break;
      case Then::InterruptBefore:
        queue.Interrupt();
        break;
      case Then::InterruptWithMatchQueued: {
        const Bytes answer = {0x4B, 0xC9, 0x01};
        queue.Push(answer.data(), 3);
        queue.Interrupt();
        break;
      }
      case Then::KeySetAfterInterrupt:
        queue.Interrupt();
        queue.SetResponseKey(key.data(), 2);
        break;
      case Then::StopWhileWaiting:
        other = std::thread([&] {
          SleepMs(1000);
          stop = true;
        });
        break;
    }
    Bytes out(16, 0);
    unsigned received = 0;
    int result = -1;
    uint64_t took = 0;
    {
      ScopedStopRequest scope(&stop);
      result = queue.ReadMatch(out.data(), 16, &received, 5000);
      took = TickMs() - start;
    }
    if (other.joinable()) other.join();
    EXPECT_EQ(result, c.result);
    EXPECT_GE(took, c.atLeast);
    EXPECT_LT(took, c.below);
    // used up: the next read waits for its own frame
    EXPECT_EQ(0, queue.ReadMatch(out.data(), 16, &received, 300));
  }
}

class LinkEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, m_Link.Open("127.0.0.1", m_Listener.Port(), NetPortTcp));
    m_Peer = m_Listener.Accept();
    ASSERT_TRUE(m_Peer.Valid());
    m_Link.SetLog(&m_Log);
    ASSERT_EQ(1, m_Link.StartReceiver());
  }
  void TearDown() override {
    m_Link.Close();
    m_Link.SetLog(nullptr);
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> out;
    const std::string& text = m_Log.GetPending();
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      // "%Y-%m-%d %H:%M:%S " is 20 characters
      if (end - pos > 20) out.push_back(text.substr(pos + 20, end - pos - 20));
      pos = end + 2;
    }
    return out;
  }

  ScaledClock m_Clock{20};
  ScopedClock m_Use{m_Clock};
  nettest::TcpListener m_Listener;
  Fd m_Peer;
  CDownloadLog m_Log{""};
  CHdlcAdapter m_Link;
};

// What ends the connection, what the log then says, and that a read waiting on the queue is woken.
TEST_F(LinkEvents, AnEndedConnectionWakesTheReaderMovesTheGenerationAndIsLogged) {
  enum class End { Reset, ResetNobodyListens, OrderlyClose };
  struct Case {
    const char* name;
    End end;
    const char* logged;
  };
  const Case cases[] = {
      {"reset", End::Reset,
       "Router link lost (The connection was reset by the remote host.); connected again"},
      {"reset, nobody listens", End::ResetNobodyListens,
       "Router link lost (The connection was reset by the remote host.); connecting again failed: Connection "
       "refused"},
      {"orderly close", End::OrderlyClose, "Router link closed by the router"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    m_Listener = nettest::TcpListener();
    SetUp();
    const uint32_t before = m_Link.GetGeneration();
    // counted from before the ender starts its pause, so the pause lies wholly inside
    const uint64_t start = TickMs();
    std::thread ender([&] {
      SleepMs(1000);
      if (c.end == End::ResetNobodyListens) m_Listener.Stop();
      if (c.end == End::OrderlyClose) {
        m_Peer.Reset();
      } else {
        nettest::ResetConnection(m_Peer);
      }
    });
    const uint8_t key = 0xFF;
    m_Link.SetResponseKey(&key, 1);
    uint8_t buffer[64];
    unsigned received = 0;
    EXPECT_EQ(0, m_Link.Read(buffer, sizeof buffer, &received, 60000));
    const uint64_t took = TickMs() - start;
    ender.join();
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 4000u) << "woken, not left to its 60 s";
    EXPECT_GT(m_Link.GetGeneration(), before);
    EXPECT_EQ(m_Link.GetLastLossCause(), c.end == End::OrderlyClose ? kErrDisconnected : kErrConnReset);
    const std::vector<std::string> messages = Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), c.logged);
  }
}

// The receiver is stuck connecting again to a router that does not answer: the link's Close ends
// that connect at once instead of waiting out the 21 s.
TEST_F(LinkEvents, CloseEndsAReceiverStuckInAReconnectAtOnce) {
  // the router's port falls silent: its listener goes, one that never answers takes the port
  const uint16_t port = m_Listener.Port();
  m_Listener.Stop();
  nettest::SilentListener silent(port);
  ASSERT_TRUE(silent.Ready());
  nettest::ResetConnection(m_Peer);
  // the receiver meets the reset and waits in its reconnect
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (m_Link.IsConnected() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(m_Link.IsConnected());
  SleepMs(2000);
  const uint64_t took = ClockMsOf([&] { EXPECT_EQ(1, m_Link.Close()); });
  EXPECT_LT(took, 2000u) << "not the connect's 21 s";
  EXPECT_FALSE(m_Link.HasReceiver());
  // the reconnect that Close ended is in the log
  const std::vector<std::string> messages = Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(
      messages.back().rfind("Router link lost (The connection was reset by the remote host.); connecting "
                            "again failed: The operation was aborted",
                            0),
      0u)
      << messages.back();
}

}  // namespace
