#pragma once

#include "platform/NonCopyable.h"

// A manual-reset event that a socket wait (PollSocket) can watch beside its socket. On Windows a
// WSAEVENT; on POSIX an eventfd that stays readable while signalled. Set, Reset and IsSet may be
// called from any thread; all fail (false) when the event could not be created.
class CWsaEvent : public NonCopyable {
 public:
#ifdef _WIN32
  using Handle = void*;  // WSAEVENT
  static constexpr Handle kNoHandle = nullptr;
#else
  using Handle = int;
  static constexpr Handle kNoHandle = -1;
#endif

  CWsaEvent();
  ~CWsaEvent() override;

  bool Set();
  bool Reset();
  bool IsSet() const;
  bool IsValid() const { return m_Handle != kNoHandle; }
  Handle GetHandle() const { return m_Handle; }

 private:
  Handle m_Handle = kNoHandle;
};
