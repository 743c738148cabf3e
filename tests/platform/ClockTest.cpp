#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"

namespace {

using std::chrono::steady_clock;

double RealMsSince(steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(steady_clock::now() - t0).count();
}

TEST(ScaledClock, SleepAdvancesTicksByTheRequestedClockTime) {
  ScaledClock clock(50);
  uint64_t t0 = clock.TickMs();
  auto r0 = steady_clock::now();
  clock.SleepMs(1000);
  uint64_t elapsed = clock.TickMs() - t0;
  double real = RealMsSince(r0);
  EXPECT_GE(elapsed, 1000u);
  // 1000 clock ms at scale 50 are 20 real ms; allow for a busy machine but not for a real second
  EXPECT_LT(real, 600.0);
}

TEST(ScaledClock, RealWaitConvertsAndKeepsInfinite) {
  ScaledClock clock(20);
  EXPECT_EQ(clock.RealWaitMs(IClock::kInfinite), -1);
  EXPECT_EQ(clock.RealWaitMs(0), 0);
  EXPECT_EQ(clock.RealWaitMs(1), 1);  // never rounds a real wait down to "don't wait"
  EXPECT_EQ(clock.RealWaitMs(2000), 100);
  EXPECT_EQ(clock.RealWaitMs(2001), 101);
}

TEST(ScaledClock, CalendarSecondsAdvanceAtTheSameScale) {
  ScaledClock clock(1000);
  int64_t s0 = clock.NowSeconds();
  clock.SleepMs(5000);
  EXPECT_GE(clock.NowSeconds() - s0, 5);
}

TEST(SystemClock, RealWaitIsIdentityAndTicksAreMonotonic) {
  SystemClock clock;
  EXPECT_EQ(clock.RealWaitMs(IClock::kInfinite), -1);
  EXPECT_EQ(clock.RealWaitMs(1234), 1234);
  uint64_t a = clock.TickMs();
  clock.SleepMs(5);
  EXPECT_GE(clock.TickMs(), a + 5);
}

TEST(ClockInstallation, ScopedClockReplacesAndRestoresTheProcessClock) {
  const IClock* before = &Clock();
  {
    ScaledClock fast(10);
    ScopedClock use(fast);
    EXPECT_EQ(&Clock(), &fast);
  }
  EXPECT_EQ(&Clock(), before);
  SetClock(nullptr);
  EXPECT_EQ(Clock().RealWaitMs(77), 77);  // back on real time
}

}  // namespace
