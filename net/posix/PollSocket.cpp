#include <poll.h>

#include <cerrno>

#include "net/INetPort.h"
#include "net/PollWait.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"

PollResult PollSocket(int fd, short events, const CWsaEvent* event, const PollDeadline& deadline,
                      int* error) {
  const int eventFd = event != nullptr ? event->GetHandle() : -1;
  pollfd fds[2] = {{fd, events, 0}, {eventFd, POLLIN, 0}};
  nfds_t count = event != nullptr ? 2 : 1;
  const std::atomic<bool>* stop = CurrentStopRequest();
  const int slice = stop != nullptr ? Clock().RealWaitMs(kStopPollMs) : -1;
  for (;;) {
    if (stop != nullptr && stop->load()) return PollResult::Stopped;
    int wait = deadline.RemainingRealMs();
    if (slice >= 0 && (wait < 0 || wait > slice)) wait = slice;
    int r = ::poll(fds, count, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (error != nullptr) *error = MapSocketErrno(errno);
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
      if (error != nullptr) *error = MapSocketErrno(EBADF);
      return PollResult::Failed;
    }
  }
}
