#include "cli/CSignalWatch.h"

#include <windows.h>

#include <mutex>

namespace {
// The console calls the handler on a thread of its own; the one watch of the process receives.
std::mutex g_Lock;
CWsaEvent* g_Event = nullptr;
std::atomic<int> g_Interrupts{0};
std::atomic<int> g_Terminations{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_Interrupts.fetch_add(1);
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_Terminations.fetch_add(1);
      break;
    default:
      return FALSE;
  }
  std::lock_guard<std::mutex> lock(g_Lock);
  if (g_Event != nullptr) g_Event->Set();
  return TRUE;  // handled: the main thread decides
}

bool TakeOne(std::atomic<int>& count) {
  int n = count.load();
  while (n > 0)
    if (count.compare_exchange_weak(n, n - 1)) return true;
  return false;
}
}  // namespace

CSignalWatch::CSignalWatch() {
  {
    std::lock_guard<std::mutex> lock(g_Lock);
    g_Event = &m_Pending;
  }
  m_Installed = m_Pending.IsValid() && ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CSignalWatch::~CSignalWatch() {
  if (m_Installed) ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  std::lock_guard<std::mutex> lock(g_Lock);
  g_Event = nullptr;
}

bool CSignalWatch::IsValid() const { return m_Installed; }

int CSignalWatch::TakePending() {
  int signo = 0;
  if (TakeOne(g_Interrupts))
    signo = SIGINT;
  else if (TakeOne(g_Terminations))
    signo = SIGTERM;
  // cleared only once nothing is left, so a second interrupt is never lost between the two
  std::lock_guard<std::mutex> lock(g_Lock);
  if (g_Interrupts.load() == 0 && g_Terminations.load() == 0) m_Pending.Reset();
  return signo;
}

void CSignalWatch::Wait(const CWsaEvent& other, int timeoutMs) {
  HANDLE handles[2] = {m_Pending.GetHandle(), other.GetHandle()};
  ::WaitForMultipleObjects(2, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
}

// A console's input cannot be waited for together with the event in a way that matches a line read
// (its handle is signalled by mouse and focus events too), and a pipe cannot be waited for at all.
// So the read itself waits: Ctrl+C ends a console read at once, and the handler has queued the
// interrupt by then, which the caller looks at first.
bool CSignalWatch::WaitForInput(int inputFd) {
  (void)inputFd;
  return g_Interrupts.load() == 0 && g_Terminations.load() == 0;
}

// The console's size is not watched here: the live display keeps the width it read at its start.
bool CSignalWatch::TakeResized() { return false; }
