#pragma once

#include "platform/NonCopyable.h"

// A manual-reset event that poll() can wait on: an eventfd that stays readable while signalled.
// m_Handle is -1 when it could not be created. Set, Reset and IsSet may be called from any thread.
class CWsaEvent : public NonCopyable {
 public:
  CWsaEvent();
  ~CWsaEvent() override;

  bool Set();
  bool Reset();
  bool IsSet() const;
  int GetHandle() const { return m_Handle; }

 private:
  int m_Handle = -1;
};
