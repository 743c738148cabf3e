#include "net/PollWait.h"

#include "platform/Clock.h"

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
