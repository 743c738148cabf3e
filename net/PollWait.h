#pragma once

#include <chrono>
#include <cstdint>

#include "net/CWsaEvent.h"
#include "net/SocketOs.h"

// Outcome of waiting for a socket (and optionally an event) to become ready. Stopped: the calling
// thread's stop request was set (platform/StopRequest.h).
enum class PollResult { Socket, Event, Timeout, Failed, Stopped };

// A time limit for one wait, fixed when it is created so that a wait resumed after a signal or a
// spurious wake-up does not start over. timeout is in clock milliseconds (0xFFFFFFFF: no limit).
class PollDeadline {
 public:
  explicit PollDeadline(uint32_t timeout);
  // Real milliseconds left for poll(): -1 without limit, 0 when the time is up.
  int RemainingRealMs() const;
  bool Passed() const { return RemainingRealMs() == 0; }

 private:
  bool m_Infinite;
  std::chrono::steady_clock::time_point m_End;
};

// Waits until fd reports any of events (POLLIN, POLLOUT; or an error or hang-up), or event (when
// not null) is set, or the deadline passes. The socket wins when both are ready. On Failed, *error
// (when not null) receives the code. fd may be kNoSocket to wait for the event alone. A thread with
// a stop request looks at it every kStopPollMs of clock time.
PollResult PollSocket(int fd, short events, const CWsaEvent* event, const PollDeadline& deadline,
                      int* error = nullptr);
