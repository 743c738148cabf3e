// A thread's stop request: its pauses end within a slice of the request; other threads, and the
// thread once the request is uninstalled, pause in full.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Clock.h"
#include "platform/StopRequest.h"

namespace {

TEST(StopRequest, APauseEndsSoonAfterTheRequestOnlyOnTheThreadThatInstalledIt) {
  ScaledClock clock(20);
  ScopedClock use(clock);
  struct Case {
    const char* name;
    bool install;
    bool set;
    uint64_t atLeast;
    uint64_t below;
  };
  const Case cases[] = {
      {"installed and set after 1 s", true, true, 1000, 1000 + kStopPollMs + 1000},
      {"installed, never set", true, false, 4000, 6000},
      {"not installed", false, true, 4000, 6000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> stop{false};
    std::thread setter([&] {
      if (!c.set) return;
      SleepMs(1000);
      stop = true;
    });
    uint64_t took = 0;
    {
      ScopedStopRequest scope(c.install ? &stop : nullptr);
      const uint64_t start = TickMs();
      SleepMs(4000);
      took = TickMs() - start;
      EXPECT_EQ(StopRequestedHere(), c.install && c.set);
    }
    setter.join();
    EXPECT_GE(took, c.atLeast);
    EXPECT_LT(took, c.below);
    EXPECT_EQ(CurrentStopRequest(), nullptr) << "uninstalled with its scope";
  }
}

TEST(StopRequest, ScopesNestAndBelongToTheirThread) {
  std::atomic<bool> outer{true};
  std::atomic<bool> inner{false};
  ScopedStopRequest a(&outer);
  EXPECT_TRUE(StopRequestedHere());
  {
    ScopedStopRequest b(&inner);
    EXPECT_EQ(CurrentStopRequest(), &inner);
    EXPECT_FALSE(StopRequestedHere());
  }
  EXPECT_EQ(CurrentStopRequest(), &outer);
  bool seenElsewhere = true;
  std::thread other([&] { seenElsewhere = CurrentStopRequest() != nullptr; });
  other.join();
  EXPECT_FALSE(seenElsewhere);
}

}  // namespace
