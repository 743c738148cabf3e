#include "net/PollWait.h"

#include <cerrno>

#include "platform/Clock.h"
#include "platform/StopRequest.h"

PollDeadline::PollDeadline(uint32_t timeout) : m_Infinite(false) {
  int real = Clock().RealWaitMs(timeout);
  if (real < 0) {
    m_Infinite = true;
    return;
  }
  m_End = std::chrono::steady_clock::now() + std::chrono::milliseconds(real);
}

int PollDeadline::RemainingRealMs() const {
  if (m_Infinite) return -1;
  auto left = m_End - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  // round up so that a wait never ends before its limit
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

PollResult PollSocket(int fd, short events, int eventFd, const PollDeadline& deadline) {
  pollfd fds[2] = {{fd, events, 0}, {eventFd, POLLIN, 0}};
  nfds_t count = eventFd >= 0 ? 2 : 1;
  const std::atomic<bool>* stop = CurrentStopRequest();
  const int slice = stop != nullptr ? Clock().RealWaitMs(kStopPollMs) : -1;
  for (;;) {
    if (stop != nullptr && stop->load()) return PollResult::Stopped;
    int wait = deadline.RemainingRealMs();
    if (slice >= 0 && (wait < 0 || wait > slice)) wait = slice;
    int r = ::poll(fds, count, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      return PollResult::Failed;
    }
    if (r == 0) {
      if (deadline.Passed()) return PollResult::Timeout;
      continue;  // only a slice ended: look at the stop request again
    }
    // data (or the error that ends the receive) wins over the event
    if (fds[0].revents != 0) return PollResult::Socket;
    if (count == 2 && (fds[1].revents & POLLIN) != 0) return PollResult::Event;
    if (count == 2 && fds[1].revents != 0) {
      errno = EBADF;
      return PollResult::Failed;
    }
  }
}
