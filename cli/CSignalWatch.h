#pragma once

#include <signal.h>

#include "platform/NonCopyable.h"

// Turns SIGINT, SIGTERM, SIGHUP and SIGWINCH into readable events (a signalfd), so no work is done in a
// signal handler and the main thread decides what an interrupt means: refused while the upgrade
// runs, the end of the program otherwise. SIGPIPE is ignored: a closed output pipe must never kill
// the program in the middle of an upgrade.
//
// Construct on the main thread before any other thread starts: threads inherit the blocked mask, so
// the signals can only arrive through the descriptor. The destructor restores the previous mask and
// dispositions; destroy it after every thread has been joined.
class CSignalWatch : public NonCopyable {
 public:
  CSignalWatch();
  ~CSignalWatch() override;

  bool IsValid() const { return m_Fd >= 0; }
  // The descriptor to poll for readability.
  int Fd() const { return m_Fd; }
  // Takes one pending interrupt (SIGINT, SIGTERM, SIGHUP) without waiting: its number, or 0 when
  // none is pending. A change of the terminal's size read on the way is kept for TakeResized.
  int TakePending();
  // Whether the terminal's size changed (SIGWINCH) since the last call: as far as TakePending has
  // read (call it until it returns 0 first).
  bool TakeResized();

 private:
  int m_Fd = -1;
  bool m_Resized = false;
  sigset_t m_OldMask;
  struct sigaction m_OldPipe;
};
