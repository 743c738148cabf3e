#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "protocol/CFrameQueue.h"

namespace {

using Bytes = std::vector<uint8_t>;

void SetKey(CFrameQueue& q, const Bytes& key) {
  q.SetResponseKey(key.data(), static_cast<unsigned>(key.size()));
}

int Push(CFrameQueue& q, const Bytes& frame) {
  return q.Push(frame.data(), static_cast<unsigned>(frame.size()));
}

// Reads with a zero wait; returns the frame or an empty vector when the read failed.
Bytes ReadNow(CFrameQueue& q, unsigned size = 64) {
  Bytes out(size, 0);
  unsigned received = 0xFFFF;
  if (!q.ReadMatch(out.data(), size, &received, 0)) return {};
  out.resize(received);
  return out;
}

TEST(FrameQueueMatch, KeyRules) {
  const struct {
    const char* name;
    Bytes key;
    Bytes frame;
    bool match;
  } cases[] = {
      {"no key matches anything", {}, {0x99, 0x01}, true},
      {"no key matches an error response", {}, {0x13, 0x01}, true},
      {"plain prefix", {0x4B, 0xC9}, {0x4B, 0xC9, 0x00, 0x01}, true},
      {"plain prefix equal length", {0x4B, 0xC9}, {0x4B, 0xC9}, true},
      {"plain frame shorter than key", {0x4B, 0xC9, 0x03}, {0x4B, 0xC9}, false},
      {"plain prefix differs", {0x4B, 0xC9}, {0x4B, 0xC8, 0x00}, false},
      {"download ack", {0x02}, {0x02}, true},
      {"download nak of three bytes", {0x02}, {0x03, 0x00, 0x05}, true},
      {"download nak with address key", {0x02, 0x00, 0x10}, {0x03, 0xAA, 0xBB}, true},
      {"one byte frame 02 against longer key", {0x02, 0x00, 0x10}, {0x02}, true},
      {"02 key compares only the shorter length", {0x02, 0x00, 0x10}, {0x02, 0x00}, true},
      {"02 key prefix differs", {0x02, 0x00, 0x10}, {0x02, 0x01, 0x10, 0x00}, false},
      {"nak of two bytes is not a nak", {0x02}, {0x03, 0x00}, false},
      {"nak of four bytes is not a nak", {0x02}, {0x03, 0x00, 0x01, 0x02}, false},
      {"03 frame without 02 key", {0x4B}, {0x03, 0x00, 0x05}, false},
      {"error 13 echoes the request", {0x4B, 0xC9, 0x03, 0xFF}, {0x13, 0x4B, 0xC9, 0x03, 0xFF, 0x00}, true},
      {"error 13 echo exactly", {0x4B, 0xC9, 0x03, 0xFF}, {0x13, 0x4B, 0xC9, 0x03, 0xFF}, true},
      {"error 13 echo too short", {0x4B, 0xC9, 0x03, 0xFF}, {0x13, 0x4B, 0xC9}, false},
      {"error 14 echoes the request", {0x4B, 0xC9}, {0x14, 0x4B, 0xC9}, true},
      {"error 15 echoes the request", {0x4B, 0xC9}, {0x15, 0x4B, 0xC9}, true},
      {"error 18 echoes the request", {0x4B, 0xC9}, {0x18, 0x4B, 0xC9}, true},
      {"error 16 is no error response", {0x4B, 0xC9}, {0x16, 0x4B, 0xC9}, false},
      {"error echo differs", {0x4B, 0xC9}, {0x13, 0x4B, 0xCA}, false},
      {"key starting 13 meets a 13 frame as an error", {0x13, 0x01}, {0x13, 0x01}, false},
      {"key starting 13 meets the echo", {0x13, 0x01}, {0x13, 0x13, 0x01}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CFrameQueue q;
    SetKey(q, c.key);
    EXPECT_EQ(q.Match(c.frame.data(), static_cast<unsigned>(c.frame.size())), c.match);
    // the same rule decides whether a queued frame wakes a reader and is returned
    EXPECT_EQ(Push(q, c.frame), 1);
    EXPECT_EQ(ReadNow(q), c.match ? c.frame : Bytes{});
    EXPECT_EQ(q.Count(), 0);
  }
}

TEST(FrameQueueMatch, KeyIsCutTo16Bytes) {
  CFrameQueue q;
  Bytes key(20);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0x40 + i);
  SetKey(q, key);
  Bytes frame(key.begin(), key.begin() + 16);
  EXPECT_TRUE(q.Match(frame.data(), 16));  // 16 bytes suffice: the rest of the key was not kept
  frame[15] ^= 1;
  EXPECT_FALSE(q.Match(frame.data(), 16));
}

TEST(FrameQueueRead, NewestMatchWinsAndEveryFrameGoes) {
  CFrameQueue q;
  SetKey(q, {0x4B});
  ASSERT_EQ(Push(q, {0x4B, 0x01}), 1);
  ASSERT_EQ(Push(q, {0x4B, 0x02}), 1);
  ASSERT_EQ(Push(q, {0x99, 0x03}), 1);  // newest, but does not match
  EXPECT_EQ(q.Count(), 3);
  EXPECT_EQ(ReadNow(q), (Bytes{0x4B, 0x02}));
  EXPECT_EQ(q.Count(), 0);
  EXPECT_TRUE(ReadNow(q).empty());  // nothing left, and no stale signal either
}

TEST(FrameQueueRead, CutToDestinationSize) {
  CFrameQueue q;
  ASSERT_EQ(Push(q, {1, 2, 3, 4, 5}), 1);
  uint8_t out[8] = {};
  unsigned received = 0;
  ASSERT_EQ(q.ReadMatch(out, 3, &received, 0), 1);
  EXPECT_EQ(received, 3u);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(out[3], 0);  // nothing beyond the destination size
}

TEST(FrameQueueRead, BadArgumentsLeaveTheQueueAlone) {
  CFrameQueue q;
  ASSERT_EQ(Push(q, {1, 2, 3}), 1);
  uint8_t out[4];
  unsigned received = 0;
  EXPECT_EQ(q.ReadMatch(nullptr, 4, &received, 0), 0);
  EXPECT_EQ(q.ReadMatch(out, 0, &received, 0), 0);
  EXPECT_EQ(q.Count(), 1);
  EXPECT_EQ(ReadNow(q), (Bytes{1, 2, 3}));  // still signalled and still there
}

TEST(FrameQueueRead, TimeOutEmptiesTheQueue) {
  ScaledClock clk(20);
  ScopedClock use(clk);
  CFrameQueue q;
  SetKey(q, {0x4B});
  ASSERT_EQ(Push(q, {0x99}), 1);
  ASSERT_EQ(Push(q, {0x98}), 1);
  uint8_t out[4];
  unsigned received = 0;
  uint64_t start = clk.TickMs();
  EXPECT_EQ(q.ReadMatch(out, 4, &received, 200), 0);
  EXPECT_GE(clk.TickMs() - start, 150u);  // it did wait
  EXPECT_EQ(q.Count(), 0);
}

TEST(FrameQueueRead, NewKeyResetsTheSignalButKeepsFrames) {
  CFrameQueue q;
  SetKey(q, {0x4B});
  ASSERT_EQ(Push(q, {0x4B, 0x01}), 1);  // signals
  SetKey(q, {0x4B});                    // resets the signal, frame stays
  EXPECT_EQ(q.Count(), 1);
  EXPECT_TRUE(ReadNow(q).empty());  // nothing wakes the read, and the read empties the queue
  EXPECT_EQ(q.Count(), 0);
  // frames queued before the key that match it do not wake a later read
  SetKey(q, {0x01});
  ASSERT_EQ(Push(q, {0x02}), 1);
  SetKey(q, {0x02});
  EXPECT_TRUE(ReadNow(q).empty());
}

TEST(FrameQueueRead, AutoResetSignalReleasesOneRead) {
  CFrameQueue q;
  ASSERT_EQ(Push(q, {0x01}), 1);
  ASSERT_EQ(Push(q, {0x02}), 1);  // two matching frames, one signal
  EXPECT_EQ(ReadNow(q), Bytes{0x02});
  EXPECT_TRUE(ReadNow(q).empty());
}

TEST(FrameQueueRead, WaitingReaderIsWokenByAMatchingPush) {
  CFrameQueue q;
  SetKey(q, {0x4B, 0x10});
  std::thread pusher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Push(q, {0x4B, 0x11});        // does not match: no wake-up
    Push(q, {0x4B, 0x10, 0xAB});  // matches
  });
  uint8_t out[8];
  unsigned received = 0;
  auto t0 = std::chrono::steady_clock::now();
  int ok = q.ReadMatch(out, sizeof out, &received, 20000);
  auto waited = std::chrono::steady_clock::now() - t0;
  pusher.join();
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(received, 3u);
  EXPECT_EQ(out[2], 0xAB);
  EXPECT_LT(waited, std::chrono::seconds(10));  // woken, not timed out
}

TEST(FrameQueueCapacity, FiftyFramesThenRefusal) {
  CFrameQueue q;
  for (int i = 0; i < CFrameQueue::kMaxFrames; ++i) {
    ASSERT_EQ(Push(q, {static_cast<uint8_t>(i), 0xEE}), 1) << "frame " << i;
  }
  EXPECT_EQ(Push(q, {0xFF, 0xEE}), 0);  // the 51st is dropped
  EXPECT_EQ(q.Count(), CFrameQueue::kMaxFrames);
  EXPECT_EQ(ReadNow(q), (Bytes{49, 0xEE}));  // the newest kept frame, not the dropped one
  EXPECT_EQ(Push(q, {0x07}), 1);             // room again after the read
}

TEST(FrameQueueCapacity, DataBlockGrowsToExactlyWhatIsNeededAndIsReused) {
  CFrameQueue q;
  EXPECT_EQ(q.Capacity(), 0u);
  ASSERT_EQ(Push(q, Bytes(10, 1)), 1);
  EXPECT_EQ(q.Capacity(), 10u);
  ASSERT_EQ(Push(q, Bytes(7, 2)), 1);
  EXPECT_EQ(q.Capacity(), 17u);
  // frames stay intact across a growth
  EXPECT_EQ(ReadNow(q), Bytes(7, 2));
  EXPECT_EQ(q.Capacity(), 17u);  // kept after emptying
  ASSERT_EQ(Push(q, Bytes(5, 3)), 1);
  ASSERT_EQ(Push(q, Bytes(12, 4)), 1);  // 17 bytes fit exactly
  EXPECT_EQ(q.Capacity(), 17u);
  ASSERT_EQ(Push(q, Bytes(1, 5)), 1);
  EXPECT_EQ(q.Capacity(), 18u);
  SetKey(q, {4});
  ASSERT_EQ(Push(q, {0x4F}), 1);  // no match: the older 4-frame is still found by the scan
  SetKey(q, {4});
  ASSERT_EQ(Push(q, {4, 4}), 1);
  EXPECT_EQ(ReadNow(q), (Bytes{4, 4}));
}

TEST(FrameQueueConcurrency, PushersAndReaderDoNotCorruptFrames) {
  CFrameQueue q;
  std::atomic<bool> stop{false};
  std::thread pusher([&] {
    uint8_t n = 0;
    for (int i = 0; i < 20000 && !stop.load(); ++i, ++n) {
      uint8_t frame[6] = {0xA5, n, n, n, n, static_cast<uint8_t>(~n)};
      q.Push(frame, sizeof frame);
    }
  });
  int good = 0;
  for (int i = 0; i < 2000; ++i) {
    uint8_t out[16];
    unsigned received = 0;
    if (!q.ReadMatch(out, sizeof out, &received, 1)) continue;
    ASSERT_EQ(received, 6u);
    ASSERT_EQ(out[0], 0xA5);
    ASSERT_EQ(out[1], out[4]);
    ASSERT_EQ(out[5], static_cast<uint8_t>(~out[1]));
    ++good;
  }
  stop = true;
  pusher.join();
  EXPECT_GT(good, 0);
}

}  // namespace
