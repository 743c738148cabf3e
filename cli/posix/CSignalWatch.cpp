#include "cli/CSignalWatch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>

CSignalWatch::CSignalWatch() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  // the terminal's size: its default action is to be ignored, so blocking it changes nothing else
  sigaddset(&set, SIGWINCH);
  pthread_sigmask(SIG_BLOCK, &set, &m_OldMask);
  m_Fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);

  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &m_OldPipe);
}

CSignalWatch::~CSignalWatch() {
  // an interrupt that came while the program was already ending (say, after the upgrade run it
  // was refused in) must not kill it with a default action once the signals are unblocked
  while (TakePending() != 0) {
  }
  if (m_Fd >= 0) close(m_Fd);
  sigaction(SIGPIPE, &m_OldPipe, nullptr);
  pthread_sigmask(SIG_SETMASK, &m_OldMask, nullptr);
}

int CSignalWatch::TakePending() {
  if (m_Fd < 0) return 0;
  for (;;) {
    signalfd_siginfo info;
    ssize_t n = read(m_Fd, &info, sizeof info);
    if (n != static_cast<ssize_t>(sizeof info)) return 0;
    if (info.ssi_signo != SIGWINCH) return static_cast<int>(info.ssi_signo);
    m_Resized = true;
  }
}

bool CSignalWatch::TakeResized() {
  const bool resized = m_Resized;
  m_Resized = false;
  return resized;
}

bool CSignalWatch::IsValid() const { return m_Fd >= 0; }

void CSignalWatch::Wait(const CWsaEvent& other, int timeoutMs) {
  pollfd fds[2] = {{m_Fd, POLLIN, 0}, {other.GetHandle(), POLLIN, 0}};
  (void)poll(fds, 2, timeoutMs);
}

bool CSignalWatch::WaitForInput(int inputFd) {
  for (;;) {
    pollfd fds[2] = {{m_Fd, POLLIN, 0}, {inputFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[0].revents != 0) return false;
    if (fds[1].revents != 0) return true;
  }
}
