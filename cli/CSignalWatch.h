#pragma once

#include <signal.h>

#include <atomic>

#include "net/CWsaEvent.h"
#include "platform/NonCopyable.h"

// Turns interrupts into events that the main thread takes (TakePending), so no work is done in a
// signal or console handler and the main thread decides what an interrupt means: refused while the
// upgrade runs, the end of the program otherwise.
//
// POSIX (cli/posix/CSignalWatch.cpp): SIGINT, SIGTERM and SIGHUP through a signalfd; SIGPIPE is
// ignored, so a closed output pipe never kills the program in the middle of an upgrade. Construct
// on the main thread before any other thread starts: threads inherit the blocked mask, so the
// signals can only arrive through the descriptor. The destructor restores the previous mask and
// dispositions; destroy it after every thread has been joined.
//
// Windows (cli/win32/CSignalWatch.cpp): the console's control events through SetConsoleCtrlHandler:
// Ctrl+C and Ctrl+Break are told as SIGINT; closing the console, logging off and shutting down as
// SIGTERM. The handler only queues the event and wakes the main thread.
class CSignalWatch : public NonCopyable {
 public:
  CSignalWatch();
  ~CSignalWatch() override;

  bool IsValid() const;
  // Takes one pending interrupt without waiting: its signal number, or 0 when none is pending.
  int TakePending();
  // Waits at most timeoutMs real milliseconds (-1: without limit) until an interrupt is pending or
  // other is set.
  void Wait(const CWsaEvent& other, int timeoutMs);
  // Waits until an interrupt is pending or inputFd has input (or its end) to read: true for input.
  // A descriptor that is not open counts as input whose end has come.
  bool WaitForInput(int inputFd);

 private:
#ifdef _WIN32
  CWsaEvent m_Pending;
  bool m_Installed = false;
#else
  int m_Fd = -1;
  sigset_t m_OldMask;
  struct sigaction m_OldPipe;
#endif
};
