#include "platform/Clock.h"

#include <cmath>
#include <ctime>
#include <thread>

std::chrono::steady_clock::duration IClock::RealWait(uint32_t ms) const {
  int real = RealWaitMs(ms);
  if (real < 0) return std::chrono::hours(24 * 365);
  return std::chrono::milliseconds(real);
}

uint64_t SystemClock::TickMs() const {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int64_t SystemClock::NowSeconds() const { return static_cast<int64_t>(std::time(nullptr)); }

void SystemClock::SleepMs(uint32_t ms) const {
  if (ms == kInfinite) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int SystemClock::RealWaitMs(uint32_t ms) const {
  if (ms == kInfinite) return -1;
  return ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(ms);
}

ScaledClock::ScaledClock(double scale)
    : m_Scale(scale > 0 ? scale : 1.0),
      m_Start(std::chrono::steady_clock::now()),
      m_StartSeconds(static_cast<int64_t>(std::time(nullptr))) {}

uint64_t ScaledClock::TickMs() const {
  using namespace std::chrono;
  double realMs = duration<double, std::milli>(steady_clock::now() - m_Start).count();
  // Start at a non-zero tick, as a system tick count would be.
  return 1000000u + static_cast<uint64_t>(realMs * m_Scale);
}

int64_t ScaledClock::NowSeconds() const {
  using namespace std::chrono;
  double realS = duration<double>(steady_clock::now() - m_Start).count();
  return m_StartSeconds + static_cast<int64_t>(realS * m_Scale);
}

void ScaledClock::SleepMs(uint32_t ms) const {
  if (ms == kInfinite) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  // Sleep until the scaled tick has advanced by ms, so short sleeps do not drift through rounding.
  uint64_t until = TickMs() + ms;
  for (;;) {
    uint64_t now = TickMs();
    if (now >= until) return;
    double realMs = static_cast<double>(until - now) / m_Scale;
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(std::ceil(realMs * 1000.0))));
  }
}

int ScaledClock::RealWaitMs(uint32_t ms) const {
  if (ms == kInfinite) return -1;
  if (ms == 0) return 0;
  double real = std::ceil(static_cast<double>(ms) / m_Scale);
  if (real < 1) real = 1;
  if (real > 0x7FFFFFFF) real = 0x7FFFFFFF;
  return static_cast<int>(real);
}

namespace {
const SystemClock g_SystemClock;
std::atomic<const IClock*> g_Clock{&g_SystemClock};
}  // namespace

const IClock& Clock() { return *g_Clock.load(std::memory_order_acquire); }

void SetClock(const IClock* clock) {
  g_Clock.store(clock ? clock : &g_SystemClock, std::memory_order_release);
}
