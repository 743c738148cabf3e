// Connecting without blocking: the wait for an answer is bounded on the clock, ended at once by a
// Close from the other thread or by the thread's stop request; and the connection's generation
// with the events the port's owner hears (reconnects made or failed, the peer's close).

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "LoopbackPeers.h"
#include "net/CTcpPort.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"

namespace {

using nettest::TcpListener;

template <class F>
uint64_t ClockMsOf(F&& f) {
  uint64_t start = TickMs();
  f();
  return TickMs() - start;
}

TEST(TcpConnect, AConnectWithoutAnAnswerEndsAtItsLimitOrAtOnceWhenEnded) {
  // one real millisecond is 20 clock ms: the 21 s limit takes about a second
  ScaledClock clock(20);
  ScopedClock use(clock);
  nettest::SilentListener silent;
  ASSERT_TRUE(silent.Ready());
  constexpr uint64_t kSlack = 3000;  // clock ms of scheduling noise

  enum class End { None, CloseFromOtherThread, StopRequest };
  struct Case {
    const char* name;
    End end;
    int code;
    uint64_t atLeast;
  };
  const Case cases[] = {
      {"no answer: the port's own limit", End::None, kErrTimedOut, CTcpPort::kConnectLimitMs},
      {"Close from the other thread", End::CloseFromOtherThread, kErrAborted, 2000},
      {"the thread's stop request", End::StopRequest, kErrInterrupted, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTcpPort port;
    ASSERT_EQ(1, port.SetConfig("127.0.0.1", silent.Port()));
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> closeTook{0};
    // counted from before the ender starts its pause, so the pause lies wholly inside
    const uint64_t start = TickMs();
    std::thread ender([&] {
      if (c.end == End::None) return;
      SleepMs(2000);
      if (c.end == End::StopRequest) {
        stop = true;
        return;
      }
      // no lock is held across the connect: Close neither waits for it nor is kept out
      closeTook = ClockMsOf([&] { EXPECT_EQ(1, port.Close()); });
    });
    int result = -1;
    uint64_t took = 0;
    {
      ScopedStopRequest scope(c.end == End::StopRequest ? &stop : nullptr);
      result = port.Open();
      took = TickMs() - start;
    }
    ender.join();
    std::printf("[clock] connect, %s: %llu ms\n", c.name, static_cast<unsigned long long>(took));
    EXPECT_EQ(0, result);
    EXPECT_EQ(c.code, port.GetLastError());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_GE(took, c.atLeast);
    EXPECT_LT(took, c.atLeast + kSlack);
    EXPECT_LT(closeTook.load(), kSlack);
  }
}

TEST(TcpConnect, AReconnectThatGetsNoAnswerIsEndedByClose) {
  ScaledClock clock(20);
  ScopedClock use(clock);
  // the connection is made to a listener, which then falls silent: the reader's reconnect hangs
  TcpListener listener;
  CTcpPort port;
  ASSERT_EQ(1, port.SetConfig("127.0.0.1", listener.Port()));
  ASSERT_EQ(1, port.Open());
  Fd peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  nettest::SilentListener silent;
  ASSERT_TRUE(silent.Ready());
  ASSERT_EQ(1, port.SetConfig("127.0.0.1", silent.Port()));
  nettest::ResetConnection(peer);

  std::atomic<uint64_t> readTook{0};
  std::thread reader([&] {
    uint8_t b[4];
    uint32_t n = 0;
    readTook = ClockMsOf([&] { port.Read(b, sizeof b, &n, IClock::kInfinite); });
  });
  // the reader is in its reconnect once the port has no connection
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (port.IsOpen() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_FALSE(port.IsOpen());
  SleepMs(3000);
  EXPECT_EQ(1, port.Close());
  reader.join();
  // 3 s into a 21 s connect, plus the read's 100 ms pause: far from the limit
  EXPECT_LT(readTook.load(), 3000u + 3000u);
  EXPECT_FALSE(port.IsOpen());
}

struct Heard {
  std::mutex lock;
  std::vector<PortConnectionEvent> events;
  void Add(const PortConnectionEvent& e) {
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(e);
  }
  std::vector<PortConnectionEvent> All() {
    std::lock_guard<std::mutex> guard(lock);
    return events;
  }
};

// Each way a connection ends moves the generation on by one (or not at all), and the owner hears of
// what it did not do itself.
TEST(TcpGeneration, EachEndOfAConnectionCountsOnceAndTheOwnerHearsWhatItDidNotDo) {
  ScaledClock clock(5);
  ScopedClock use(clock);
  enum class How { ResetListenerThere, ResetListenerGone, PeerClosed, OwnClose, OwnShutdown };
  struct Case {
    const char* name;
    How how;
    uint32_t generationStep;
    int events;  // 0 or 1
    PortConnectionEvent::Kind kind;
    int cause;
    int openError;
  };
  const Case cases[] = {
      {"reset, connected again", How::ResetListenerThere, 1, 1, PortConnectionEvent::Reconnected,
       kErrConnReset, 0},
      {"reset, nobody listens any more", How::ResetListenerGone, 1, 1, PortConnectionEvent::ReconnectFailed,
       kErrConnReset, ECONNREFUSED},
      {"closed in order by the peer", How::PeerClosed, 1, 1, PortConnectionEvent::PeerClosed,
       kErrDisconnected, 0},
      {"our own Close", How::OwnClose, 1, 0, PortConnectionEvent::Reconnected, 0, 0},
      {"our own Shutdown", How::OwnShutdown, 0, 0, PortConnectionEvent::Reconnected, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TcpListener listener;
    CTcpPort port;
    Heard heard;
    port.SetConnectionObserver([&heard](const PortConnectionEvent& e) { heard.Add(e); });
    ASSERT_EQ(1, port.SetConfig("127.0.0.1", listener.Port()));
    ASSERT_EQ(1, port.Open());
    Fd peer = listener.Accept();
    ASSERT_TRUE(peer.Valid());
    const uint32_t before = port.GetGeneration();

    uint8_t b[4];
    uint32_t n = 0;
    switch (c.how) {
      case How::ResetListenerThere:
      case How::ResetListenerGone:
        if (c.how == How::ResetListenerGone) listener.Stop();
        nettest::ResetConnection(peer);
        ASSERT_TRUE(nettest::Readable(port.GetSocket(), nettest::kPeerWaitMs));
        EXPECT_EQ(0, port.Read(b, sizeof b, &n, 20000));
        break;
      case How::PeerClosed:
        peer.Reset();
        // told once, however often the closed stream is read
        EXPECT_EQ(0, port.Read(b, sizeof b, &n, 20000));
        EXPECT_EQ(0, port.Read(b, sizeof b, &n, 20000));
        break;
      case How::OwnClose:
        EXPECT_EQ(1, port.Close());
        break;
      case How::OwnShutdown:
        EXPECT_TRUE(port.Shutdown());
        EXPECT_EQ(0, port.Read(b, sizeof b, &n, 20000));
        break;
    }
    EXPECT_EQ(port.GetGeneration() - before, c.generationStep);
    const std::vector<PortConnectionEvent> events = heard.All();
    ASSERT_EQ(static_cast<int>(events.size()), c.events);
    if (c.events == 1) {
      EXPECT_EQ(events[0].kind, c.kind);
      EXPECT_EQ(events[0].cause, c.cause);
      EXPECT_EQ(events[0].openError, c.openError);
    }
  }
}

// The pause after the peer closed is a wait like any other: a Purge (a receiver being stopped)
// ends it, and is used up by it.
TEST(TcpGeneration, APurgeEndsThePauseAfterThePeerClosed) {
  ScaledClock clock(5);
  ScopedClock use(clock);
  TcpListener listener;
  CTcpPort port;
  ASSERT_EQ(1, port.SetConfig("127.0.0.1", listener.Port()));
  ASSERT_EQ(1, port.Open());
  Fd peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  peer.Reset();
  // counted from before the purger starts its pause, so the pause lies wholly inside
  const uint64_t start = TickMs();
  std::thread purger([&] {
    SleepMs(300);
    port.Purge();
  });
  uint8_t b[4];
  uint32_t n = 0;
  EXPECT_EQ(0, port.Read(b, sizeof b, &n, 20000));
  const uint64_t took = TickMs() - start;
  purger.join();
  EXPECT_GE(took, 300u);
  EXPECT_LT(took, 1500u) << "the purge ended the 1500 ms pause";
  // used up: the next read that finds the closed stream pauses in full
  const uint64_t next = ClockMsOf([&] { EXPECT_EQ(0, port.Read(b, sizeof b, &n, 20000)); });
  EXPECT_GE(next, 1500u);
}

}  // namespace
