#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>

// Outcome of waiting for a socket (and optionally an event) to become ready.
enum class PollResult { Socket, Event, Timeout, Failed };

// A time limit for one wait, fixed when it is created so that a wait resumed after a signal or a
// spurious wake-up does not start over. timeout is in clock milliseconds (0xFFFFFFFF: no limit).
class PollDeadline {
 public:
  explicit PollDeadline(uint32_t timeout);
  // Real milliseconds left for poll(): -1 without limit, 0 when the time is up.
  int RemainingRealMs() const;

 private:
  bool m_Infinite;
  std::chrono::steady_clock::time_point m_End;
};

// Waits until fd reports any of events (or an error or hang-up), or eventFd (when >= 0) becomes
// readable, or the deadline passes. The socket wins when both are ready. On Failed, errno is set.
PollResult PollSocket(int fd, short events, int eventFd, const PollDeadline& deadline);
