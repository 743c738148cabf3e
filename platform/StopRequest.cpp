#include "platform/StopRequest.h"

#include <algorithm>

#include "platform/Clock.h"

namespace {
thread_local const std::atomic<bool>* t_StopRequest = nullptr;
}  // namespace

const std::atomic<bool>* CurrentStopRequest() { return t_StopRequest; }

bool StopRequestedHere() { return t_StopRequest != nullptr && t_StopRequest->load(); }

ScopedStopRequest::ScopedStopRequest(const std::atomic<bool>* flag) : m_Previous(t_StopRequest) {
  t_StopRequest = flag;
}

ScopedStopRequest::~ScopedStopRequest() { t_StopRequest = m_Previous; }

void SleepMs(uint32_t ms) {
  const IClock& clock = Clock();
  const std::atomic<bool>* stop = t_StopRequest;
  if (stop == nullptr || ms == 0) {
    clock.SleepMs(ms);
    return;
  }
  // in slices, so a stop request ends the pause early
  const bool forever = ms == IClock::kInfinite;
  const uint64_t end = clock.TickMs() + ms;
  while (!stop->load()) {
    const uint64_t now = clock.TickMs();
    if (!forever && now >= end) return;
    const uint64_t left = forever ? kStopPollMs : end - now;
    clock.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(left, kStopPollMs)));
  }
}
