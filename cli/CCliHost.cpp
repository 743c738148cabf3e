#include "cli/CCliHost.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "cli/CLiveDisplay.h"

CCliHost::CCliHost(CLiveDisplay* display) : m_Display(display) {
  m_WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CCliHost::~CCliHost() {
  if (m_WakeFd >= 0) close(m_WakeFd);
}

void CCliHost::PostNotify(int code) {
  {
    std::lock_guard lock(m_Mutex);
    m_Notifications.push_back(code);
  }
  uint64_t one = 1;
  if (m_WakeFd >= 0) (void)!write(m_WakeFd, &one, sizeof one);
}

bool CCliHost::TakeNotify(int& code) {
  std::lock_guard lock(m_Mutex);
  if (m_Notifications.empty()) return false;
  code = m_Notifications.front();
  m_Notifications.pop_front();
  if (m_Notifications.empty() && m_WakeFd >= 0) {
    uint64_t count = 0;
    (void)!read(m_WakeFd, &count, sizeof count);
  }
  return true;
}

void CCliHost::UpdateWindow() {
  if (m_Display) m_Display->Refresh();
}

void CCliHost::LayoutControls() {
  if (m_Display) m_Display->Refresh();
}

void CCliHost::ShowCheckStep(const std::string& text) {
  if (m_Display) m_Display->SetActivity(text);
}
