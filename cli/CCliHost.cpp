#include "cli/CCliHost.h"

#include "cli/CLiveDisplay.h"

CCliHost::CCliHost(CLiveDisplay* display) : m_Display(display) {}

CCliHost::~CCliHost() = default;

void CCliHost::PostNotify(int code) {
  {
    std::lock_guard lock(m_Mutex);
    m_Notifications.push_back(code);
  }
  m_Wake.Set();
}

bool CCliHost::TakeNotify(int& code) {
  std::lock_guard lock(m_Mutex);
  if (m_Notifications.empty()) return false;
  code = m_Notifications.front();
  m_Notifications.pop_front();
  // reset under the lock: a notification posted meanwhile sets the event again after it
  if (m_Notifications.empty()) m_Wake.Reset();
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
