#include "net/INetPort.h"
#include "net/PollWait.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"

namespace {
// WSAPoll cannot wait for an event object, and a socket can be tied to only one event at a time
// (WSAEventSelect), while the router link reads in one thread and writes in another on the same
// socket. So a wait that watches both the socket and the purge event polls the socket in slices of
// this many real milliseconds and looks at the event between them: a purge is seen within a slice.
constexpr int kEventSliceMs = 10;
}  // namespace

PollResult PollSocket(int fd, short events, const CWsaEvent* event, const PollDeadline& deadline,
                      int* error) {
  if (event != nullptr && !event->IsValid()) {
    if (error != nullptr) *error = WSA_INVALID_HANDLE;
    return PollResult::Failed;
  }
  const std::atomic<bool>* stop = CurrentStopRequest();
  const int stopSlice = stop != nullptr ? Clock().RealWaitMs(kStopPollMs) : -1;
  for (;;) {
    if (stop != nullptr && stop->load()) return PollResult::Stopped;
    int wait = deadline.RemainingRealMs();
    if (stopSlice >= 0 && (wait < 0 || wait > stopSlice)) wait = stopSlice;
    if (fd == kNoSocket) {
      // the event alone: the system waits for it exactly
      DWORD r = ::WaitForSingleObject(event->GetHandle(), wait < 0 ? INFINITE : static_cast<DWORD>(wait));
      if (r == WAIT_OBJECT_0) return PollResult::Event;
      if (r != WAIT_TIMEOUT) {
        if (error != nullptr) *error = static_cast<int>(::GetLastError());
        return PollResult::Failed;
      }
    } else {
      if (event != nullptr && (wait < 0 || wait > kEventSliceMs)) wait = kEventSliceMs;
      WSAPOLLFD p{};
      p.fd = static_cast<SOCKET>(static_cast<intptr_t>(fd));
      p.events = events;
      int r = ::WSAPoll(&p, 1, wait);
      if (r == SOCKET_ERROR) {
        if (error != nullptr) *error = MapSocketErrno(::WSAGetLastError());
        return PollResult::Failed;
      }
      // data (or the error that ends the receive) wins over the event
      if (r > 0 && p.revents != 0) return PollResult::Socket;
      if (event != nullptr && event->IsSet()) return PollResult::Event;
    }
    if (deadline.Passed()) return PollResult::Timeout;
  }
}
