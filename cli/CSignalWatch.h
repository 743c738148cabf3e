#pragma once

#include <signal.h>

#include <atomic>

#include "net/CWsaEvent.h"
#include "platform/NonCopyable.h"

// Turns interrupts into events that the main thread takes (TakePending), so no work is done in a
// signal or console handler and the main thread decides what an interrupt means: refused while the
// upgrade runs, the end of the program otherwise. A change of the terminal's size is told apart
// (TakeResized), so the live display can redraw for the new width.
//
// POSIX (cli/posix/CSignalWatch.cpp): SIGINT, SIGTERM, SIGHUP and SIGWINCH through a signalfd;
// SIGPIPE is ignored, so a closed output pipe never kills the program in the middle of an upgrade. Construct
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
  // Takes one pending interrupt without waiting: its signal number, or 0 when none is pending. A
  // change of the terminal's size read on the way is kept for TakeResized.
  int TakePending();
  // Whether the terminal's size changed since the last call: as far as TakePending has read (call
  // it until it returns 0 first). Always false on Windows, where the console's size is not watched.
  bool TakeResized();
  // Waits at most timeoutMs real milliseconds (-1: without limit) until an interrupt (or a change
  // of the terminal's size) is pending or other is set.
  void Wait(const CWsaEvent& other, int timeoutMs);
  // Waits until an interrupt is pending or inputFd has input (or its end) to read: true for input.
  // A descriptor that is not open counts as input whose end has come.
  bool WaitForInput(int inputFd);
#ifndef _WIN32
  // The signalfd, to poll for readability.
  int Fd() const { return m_Fd; }
#endif

 private:
#ifdef _WIN32
  CWsaEvent m_Pending;
  bool m_Installed = false;
#else
  int m_Fd = -1;
  bool m_Resized = false;
  sigset_t m_OldMask;
  struct sigaction m_OldPipe;
#endif
};
