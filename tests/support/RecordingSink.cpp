#include "support/RecordingSink.h"

int RecordingSink::ShowWarning(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Texts.push_back(text);
  return 1;
}

std::vector<std::string> RecordingSink::Texts() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Texts;
}

void RecordingSink::Clear() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Texts.clear();
}
