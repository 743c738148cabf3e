#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// The one clock of the tool. Every pause, time-out and tick count goes through it, so tests can run
// the real procedures on a faster clock while every comparison of elapsed time stays consistent.
//
// All durations are in milliseconds of *clock time*. 0xFFFFFFFF (kInfinite) means "no limit".
// Production uses real time; a ScaledClock with scale s makes one real millisecond count as s
// clock milliseconds, so SleepMs(1000) on a clock of scale 20 returns after 50 real milliseconds
// and TickMs() has advanced by (about) 1000 meanwhile.
class IClock {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

  virtual ~IClock() = default;
  // Millisecond tick count (monotonic), in clock time. Like the platform tick count it is meant for
  // differences; comparisons use unsigned 32-bit arithmetic where the procedures did.
  virtual uint64_t TickMs() const = 0;
  // Calendar time in whole seconds (used for elapsed times shown to the user).
  virtual int64_t NowSeconds() const = 0;
  // Blocks the calling thread for ms of clock time.
  virtual void SleepMs(uint32_t ms) const = 0;
  // Converts a clock-time wait into a real-time wait for poll(), condition variables and the like:
  // returns -1 for kInfinite, else the real milliseconds (rounded up, at least 1 for a non-zero wait).
  virtual int RealWaitMs(uint32_t ms) const = 0;
  // The same for std::chrono waits.
  std::chrono::steady_clock::duration RealWait(uint32_t ms) const;
};

class SystemClock final : public IClock {
 public:
  uint64_t TickMs() const override;
  int64_t NowSeconds() const override;
  void SleepMs(uint32_t ms) const override;
  int RealWaitMs(uint32_t ms) const override;
};

class ScaledClock final : public IClock {
 public:
  explicit ScaledClock(double scale);
  uint64_t TickMs() const override;
  int64_t NowSeconds() const override;
  void SleepMs(uint32_t ms) const override;
  int RealWaitMs(uint32_t ms) const override;
  double Scale() const { return m_Scale; }

 private:
  double m_Scale;
  std::chrono::steady_clock::time_point m_Start;
  int64_t m_StartSeconds;
};

// The process's clock: real time unless a test or a demo installed another one. Install a clock
// before any thread that uses it starts, and keep it alive while it is installed.
const IClock& Clock();
void SetClock(const IClock* clock);  // nullptr restores real time

// Installs a clock for the lifetime of the object (tests, the demo).
class ScopedClock {
 public:
  explicit ScopedClock(const IClock& clock) : m_Previous(&Clock()) { SetClock(&clock); }
  ~ScopedClock() { SetClock(m_Previous); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  const IClock* m_Previous;
};

// Shorthands used throughout the core.
inline uint64_t TickMs() { return Clock().TickMs(); }
// Pauses the calling thread for ms of clock time; a stop request installed for the thread ends the
// pause early (platform/StopRequest.h).
void SleepMs(uint32_t ms);
