#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakePort.h"
#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "protocol/CHdlcAdapter.h"
#include "protocol/Hdlc.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const Bytes& payload, bool leadingFlag = true) {
  Bytes out(HdlcMaxEncodedSize(payload.size()));
  int n = HdlcEncodeFrame(payload.data(), payload.size(), out.data(), leadingFlag);
  out.resize(static_cast<size_t>(n));
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// An adapter holding a fake port, on a fast clock.
class AdapterWithFake : public testing::Test {
 protected:
  AdapterWithFake() : clk(50), use(clk) {}
  void SetUp() override {
    state = std::make_shared<FakePortState>();
    ASSERT_EQ(adapter.Attach(std::make_unique<FakePort>(state)), 1);
  }
  // Reads one frame; an empty vector when the read failed.
  Bytes ReadFrame(uint32_t timeout, unsigned size = 256) {
    Bytes out(size);
    unsigned received = 12345;
    if (!adapter.Read(out.data(), size, &received, timeout)) {
      EXPECT_EQ(received, 0u);  // a failed read reports nothing received
      return {};
    }
    out.resize(received);
    return out;
  }

  ScaledClock clk;
  ScopedClock use;
  std::shared_ptr<FakePortState> state;
  CHdlcAdapter adapter;
};

TEST(HdlcAdapterLifecycle, CloseOfANeverOpenedAdapterSucceeds) {
  CHdlcAdapter a;
  EXPECT_EQ(a.Close(), 1);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(a.GetLastError(), 0);
  EXPECT_EQ(a.Close(), 1);
}

TEST(HdlcAdapterLifecycle, ReceiverWithoutAPortEndsByItself) {
  ScaledClock clk(50);
  ScopedClock use(clk);
  CHdlcAdapter a;
  ASSERT_EQ(a.StartReceiver(), 1);
  EXPECT_EQ(a.Close(), 1);
  EXPECT_FALSE(a.HasReceiver());
}

TEST(HdlcAdapterLifecycle, UnknownKindsOpenNothing) {
  for (int kind : {0, 3, -1, 255}) {
    SCOPED_TRACE(kind);
    CHdlcAdapter a;
    EXPECT_EQ(a.Open("127.0.0.1", 1, kind), 0);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(a.GetLastError(), 0);
    const uint8_t b = 1;
    EXPECT_EQ(a.Write(true, &b, 1, false, 100), 0);
    uint8_t out[4];
    unsigned received = 7;
    EXPECT_EQ(a.Read(out, sizeof out, &received, 0), 0);
  }
}

TEST(HdlcAdapterLifecycle, ClosingAClosedAdapterDoesNotUseTheOldPort) {
  ScaledClock clk(50);
  ScopedClock use(clk);
  auto state = std::make_shared<FakePortState>();
  CHdlcAdapter a;
  ASSERT_EQ(a.Attach(std::make_unique<FakePort>(state)), 1);
  EXPECT_TRUE(a.IsOpen());
  EXPECT_EQ(a.Close(), 1);
  EXPECT_TRUE(state->destroyed);
  EXPECT_EQ(state->closeCalls, 1);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(a.Close(), 1);
  EXPECT_EQ(state->closeCalls, 1);
}

TEST(HdlcAdapterLifecycle, FailingPortCloseStillDropsThePort) {
  auto state = std::make_shared<FakePortState>();
  state->closeResult = 0;
  CHdlcAdapter a;
  ASSERT_EQ(a.Attach(std::make_unique<FakePort>(state)), 1);
  EXPECT_EQ(a.Close(), 0);
  EXPECT_TRUE(state->destroyed);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(a.Close(), 1);  // the second call finds no port
}

TEST(HdlcAdapterLifecycle, ReplacingThePortClosesTheOldOneAndItsReceiver) {
  ScaledClock clk(50);
  ScopedClock use(clk);
  auto first = std::make_shared<FakePortState>();
  auto second = std::make_shared<FakePortState>();
  CHdlcAdapter a;
  ASSERT_EQ(a.Attach(std::make_unique<FakePort>(first)), 1);
  ASSERT_EQ(a.StartReceiver(), 1);
  ASSERT_EQ(a.Attach(std::make_unique<FakePort>(second)), 1);
  EXPECT_TRUE(first->destroyed);
  EXPECT_EQ(first->closeCalls, 1);
  EXPECT_GE(first->purgeCalls, 1);
  EXPECT_FALSE(a.HasReceiver());
  EXPECT_TRUE(a.IsOpen());
}

TEST_F(AdapterWithFake, GetLastErrorIsThePortsUntilThePortIsGone) {
  state->errorAfterWrite = kErrConnReset;
  state->writeResult = 0;
  const uint8_t b = 1;
  EXPECT_EQ(adapter.Write(true, &b, 1, false, 100), 0);
  EXPECT_EQ(adapter.GetLastError(), kErrConnReset);
  adapter.Close();
  EXPECT_EQ(adapter.GetLastError(), 0);
}

TEST_F(AdapterWithFake, FramedWriteLeavesInOnePortWrite) {
  const struct {
    const char* name;
    Bytes payload;
    bool leadingFlag;
  } cases[] = {
      {"short with flag", {0x4B, 0xC9, 0x03, 0xFF}, true},
      {"short without flag", {0x4B, 0xC9, 0x03, 0xFF}, false},
      {"escapes", {0x7E, 0x7D, 0x7E}, true},
      {"largest", Bytes(kHdlcMaxPayload, 0x7E), true},
      {"block sized", Bytes(4096, 0x31), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    state->writes.clear();
    ASSERT_EQ(adapter.Write(false, c.payload.data(), static_cast<int>(c.payload.size()), c.leadingFlag, 1000),
              1);
    ASSERT_EQ(state->writes.size(), 1u);
    EXPECT_EQ(state->writes[0], Frame(c.payload, c.leadingFlag));
  }
}

TEST_F(AdapterWithFake, RawWritePassesBytesAndResult) {
  const Bytes raw = {0x7E, 0x01, 0x7D, 0x02};
  ASSERT_EQ(adapter.Write(true, raw.data(), static_cast<int>(raw.size()), true, 1000), 1);
  ASSERT_EQ(state->writes.size(), 1u);
  EXPECT_EQ(state->writes[0], raw);
  state->writeResult = 0;
  EXPECT_EQ(adapter.Write(true, raw.data(), static_cast<int>(raw.size()), false, 1000), 0);
  EXPECT_EQ(adapter.Write(false, raw.data(), static_cast<int>(raw.size()), false, 1000), 0);
}

TEST_F(AdapterWithFake, OversizedOrBrokenWritesSendNothing) {
  Bytes big(kHdlcMaxPayload + 1, 0x7E);
  EXPECT_EQ(adapter.Write(false, big.data(), static_cast<int>(big.size()), true, 1000), 0);
  EXPECT_EQ(adapter.Write(false, big.data(), -1, true, 1000), 0);
  EXPECT_EQ(adapter.Write(true, nullptr, 5, true, 1000), 0);
  EXPECT_TRUE(state->writes.empty());
  // a raw write may be as long as the caller likes
  EXPECT_EQ(adapter.Write(true, big.data(), static_cast<int>(big.size()), false, 1000), 1);
}

TEST_F(AdapterWithFake, WriteBufferIsTheFrameBufferAndCanBeFilledByTheCaller) {
  uint8_t* buffer = adapter.GetWriteBuffer();
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(adapter.GetWriteBuffer(), buffer);
  // a caller builds its own frame in the buffer and sends it raw, as the download frames are sent
  buffer[kHdlcWriteBufferSize - 1] = 0x55;
  int pos = 0;
  uint16_t reg = 0xFFFF;
  const uint8_t payload[] = {0x02, 0x7E};
  HdlcAppendEscaped(buffer, pos, payload, sizeof payload, reg);
  ASSERT_EQ(adapter.Write(true, buffer, pos, false, 1000), 1);
  EXPECT_EQ(state->writes.back(), (Bytes{0x02, 0x7D, 0x5E}));
  // a framed write encodes into the same buffer
  const uint8_t data[] = {0x11, 0x22};
  ASSERT_EQ(adapter.Write(false, data, 2, true, 1000), 1);
  EXPECT_EQ(Bytes(buffer, buffer + state->writes.back().size()), state->writes.back());
}

TEST_F(AdapterWithFake, SyncReadReturnsFramesInOrderWhateverTheChunking) {
  for (uint32_t chunk : {1u, 2u, 3u, 7u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(testing::Message() << "chunk " << chunk);
    state->maxChunk = chunk;
    // leading noise, a short flag-run, two frames back to back and a frame without leading flag
    state->Feed(
        Concat({{0x7E, 0x7E, 0x01, 0x7E}, Frame({0x10, 0x7E}), Frame({0x20}), Frame({0x30, 0x31}, false)}));
    // the noise byte 01 outlives the early flags and spoils the first frame, which fails at once
    EXPECT_TRUE(ReadFrame(5000).empty());
    EXPECT_EQ(ReadFrame(5000), (Bytes{0x20}));
    EXPECT_EQ(ReadFrame(5000), (Bytes{0x30, 0x31}));
    EXPECT_EQ(state->Left(), 0u);
  }
}

TEST_F(AdapterWithFake, SyncReadKeepsBytesAfterTheFrameForTheNextRead) {
  state->Feed(Concat({Frame({0x01, 0x02}), Frame({0x03, 0x04}), Frame({0x05})}));
  EXPECT_EQ(ReadFrame(2000), (Bytes{0x01, 0x02}));
  EXPECT_EQ(ReadFrame(2000), (Bytes{0x03, 0x04}));
  EXPECT_EQ(ReadFrame(2000, 0), Bytes{});  // nothing fits, still consumed
  EXPECT_EQ(ReadFrame(2000).size(), 0u);
  EXPECT_EQ(state->readLengths.size() >= 1, true);
  EXPECT_GE(state->readLengths[0], 2u);  // the port is asked for more than one byte at a time
}

TEST_F(AdapterWithFake, SyncReadCutsToSizeAndFailsAtOnceOnABadFrame) {
  Bytes bad = Frame({0x01, 0x02, 0x03});
  bad[2] ^= 0x40;
  state->Feed(Concat({Frame({0xA1, 0xA2, 0xA3, 0xA4}), bad, Frame({0xB1})}));
  EXPECT_EQ(ReadFrame(2000, 2), (Bytes{0xA1, 0xA2}));
  auto t0 = clk.TickMs();
  EXPECT_TRUE(ReadFrame(60000).empty());
  EXPECT_LT(clk.TickMs() - t0, 30000u);  // at once, not after the time-out
  EXPECT_EQ(ReadFrame(2000), (Bytes{0xB1}));
}

TEST_F(AdapterWithFake, SyncReadTimesOutWithShortPortReads) {
  auto t0 = clk.TickMs();
  EXPECT_TRUE(ReadFrame(1500).empty());
  auto elapsed = clk.TickMs() - t0;
  EXPECT_GE(elapsed, 1500u);
  EXPECT_LT(elapsed, 1500u + 500u + 100u + 2000u);
  ASSERT_FALSE(state->readTimeouts.empty());
  for (uint32_t t : state->readTimeouts) EXPECT_EQ(t, CHdlcAdapter::kSyncPortTimeoutMs);
  // each empty read is followed by the pause, so three at most fit in 1500 ms
  EXPECT_LE(state->readTimeouts.size(), 3u);
}

TEST_F(AdapterWithFake, ReceiverAnswersTheMatchingFrame) {
  ASSERT_EQ(adapter.StartReceiver(), 1);
  EXPECT_TRUE(adapter.HasReceiver());
  ASSERT_TRUE(state->WaitReading());
  EXPECT_EQ(state->Timeouts().back(), IClock::kInfinite);
  const uint8_t key[] = {0x4B, 0xC9};
  for (uint32_t chunk : {1u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(testing::Message() << "chunk " << chunk);
    state->SetChunk(chunk);
    adapter.SetResponseKey(key, sizeof key);
    Bytes bad = Frame({0x4B, 0xC9, 0x00});
    bad[3] ^= 0x01;
    state->Feed(Concat({Frame({0x99, 0x01}), bad, Frame({0x4B, 0xC9, 0x05, 0x06}), Frame({0x12})}));
    EXPECT_EQ(ReadFrame(20000), (Bytes{0x4B, 0xC9, 0x05, 0x06}));
  }
  // a frame that does not match never wakes the reader
  adapter.SetResponseKey(key, sizeof key);
  state->Feed(Frame({0x4B, 0xC8}));
  auto t0 = clk.TickMs();
  EXPECT_TRUE(ReadFrame(1000).empty());
  EXPECT_GE(clk.TickMs() - t0, 900u);
}

TEST_F(AdapterWithFake, StopReceiverWakesTheBlockedReadAndSyncReadTakesOver) {
  ASSERT_EQ(adapter.StartReceiver(), 1);
  ASSERT_EQ(adapter.StartReceiver(), 1);  // already running
  ASSERT_TRUE(state->WaitReading());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(adapter.StopReceiver(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_FALSE(adapter.HasReceiver());
  EXPECT_GE(state->purgeCalls, 1);
  EXPECT_EQ(adapter.StopReceiver(), 1);  // none running
  state->Feed(Frame({0x42, 0x43}));
  EXPECT_EQ(ReadFrame(5000), (Bytes{0x42, 0x43}));
  // and it starts again
  ASSERT_EQ(adapter.StartReceiver(), 1);
  state->Feed(Frame({0x44}));
  EXPECT_EQ(ReadFrame(20000), (Bytes{0x44}));
}

TEST_F(AdapterWithFake, ReceiverThatWillNotStopIsLoggedAndJoinedLater) {
  ScaledClock fast(500);  // the 10000 ms bound passes in 20 real ms
  ScopedClock useFast(fast);
  CDownloadLog log("");
  adapter.SetLog(&log);
  state->SetIgnorePurge(true);
  ASSERT_EQ(adapter.StartReceiver(), 1);
  ASSERT_TRUE(state->WaitReading());
  EXPECT_EQ(adapter.StopReceiver(), 0);
  EXPECT_TRUE(adapter.HasReceiver());
  EXPECT_NE(log.GetPending().find("did not end within 10000 ms"), std::string::npos) << log.GetPending();
  // reads still go to the queue of the receiver that exists
  EXPECT_TRUE(ReadFrame(0).empty());
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    state->Release();
  });
  EXPECT_EQ(adapter.Close(), 1);  // waits for the thread before the port goes
  releaser.join();
  EXPECT_FALSE(adapter.HasReceiver());
  EXPECT_TRUE(state->destroyed);
}

TEST_F(AdapterWithFake, ReceiverThatEndedLateIsReplacedByAWorkingOne) {
  ScaledClock fast(500);
  ScopedClock useFast(fast);
  state->SetIgnorePurge(true);
  ASSERT_EQ(adapter.StartReceiver(), 1);
  ASSERT_TRUE(state->WaitReading());
  EXPECT_EQ(adapter.StopReceiver(), 0);
  state->SetIgnorePurge(false);
  state->Release();  // the stuck read returns and the old thread ends on its own
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // the new receiver must not inherit the stop request that the old one never answered
  ASSERT_EQ(adapter.StartReceiver(), 1);
  state->Feed(Frame({0x61, 0x62}));
  EXPECT_EQ(ReadFrame(100000), (Bytes{0x61, 0x62}));
}

TEST_F(AdapterWithFake, DestroyingARunningAdapterJoinsItsReceiver) {
  auto other = std::make_shared<FakePortState>();
  {
    CHdlcAdapter a;
    ASSERT_EQ(a.Attach(std::make_unique<FakePort>(other)), 1);
    ASSERT_EQ(a.StartReceiver(), 1);
    ASSERT_TRUE(other->WaitReading());
  }
  EXPECT_TRUE(other->destroyed);
  EXPECT_EQ(other->Reading(), 0);
}

TEST_F(AdapterWithFake, BytesOfAClosedLinkNeverReachTheNextOne) {
  state->Feed(Concat({Frame({0x01}), Frame({0x02})}));
  EXPECT_EQ(ReadFrame(2000), (Bytes{0x01}));
  auto next = std::make_shared<FakePortState>();
  ASSERT_EQ(adapter.Attach(std::make_unique<FakePort>(next)), 1);
  EXPECT_TRUE(ReadFrame(600).empty());
}

TEST_F(AdapterWithFake, ReadArgumentsAreChecked) {
  state->Feed(Frame({0x01}));
  uint8_t out[4];
  EXPECT_EQ(adapter.Read(out, sizeof out, nullptr, 1000), 0);
  unsigned received = 9;
  EXPECT_EQ(adapter.Read(nullptr, 4, &received, 1000), 0);
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(ReadFrame(1000), Bytes{0x01});  // the frame is still there
}

TEST(HdlcAdapterDatagram, ReceiverOnAPortWithoutPurgeStillStops) {
  ScaledClock clk(20);
  ScopedClock use(clk);
  auto state = std::make_shared<FakePortState>();
  CHdlcAdapter a;
  ASSERT_EQ(a.Attach(std::make_unique<FakePort>(state, NetPortUdp)), 1);
  ASSERT_EQ(a.StartReceiver(), 1);
  ASSERT_TRUE(state->WaitReading());
  // a datagram port is read with a bound, never without limit
  EXPECT_EQ(state->Timeouts().front(), CHdlcAdapter::kDatagramPollMs);
  state->SetIgnorePurge(true);  // as a real datagram port: purge does nothing
  EXPECT_EQ(a.StopReceiver(), 1);
  EXPECT_FALSE(a.HasReceiver());
  state->Release();  // lets a receiver that got stuck anyway end with the adapter
}

}  // namespace
