#pragma once

#include <atomic>
#include <cstdint>

// A request to end one thread's work early.
//
// The Check may be stopped at any moment (the window closes, the user interrupts the terminal tool)
// because it changes nothing on the router. Its worker installs the front end's flag for its own
// thread with ScopedStopRequest. Every wait that thread then makes through the tool's helpers (the
// pauses of SleepMs, the socket waits of the ports, connects, and the reads of the router link's
// receive queue) looks at the flag at least every kStopPollMs of clock time and ends early once it
// is set; a socket wait ended so fails with kErrInterrupted (10004). The worker therefore reaches
// its next test of the flag within a fraction of a second.
//
// Threads without an installed flag (the Upgrade worker, whose run must never be cut short, and the
// receiver threads) wait their full time.
inline constexpr uint32_t kStopPollMs = 100;

// The flag installed for the calling thread (nullptr: none).
const std::atomic<bool>* CurrentStopRequest();
// True when the calling thread has a flag and it is set.
bool StopRequestedHere();

// Installs flag (may be nullptr) for the calling thread for the lifetime of the object; the previous
// one comes back afterwards. The flag must outlive the object.
class ScopedStopRequest {
 public:
  explicit ScopedStopRequest(const std::atomic<bool>* flag);
  ~ScopedStopRequest();
  ScopedStopRequest(const ScopedStopRequest&) = delete;
  ScopedStopRequest& operator=(const ScopedStopRequest&) = delete;

 private:
  const std::atomic<bool>* m_Previous;
};
