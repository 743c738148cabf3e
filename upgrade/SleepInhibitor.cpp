#include "upgrade/SleepInhibitor.h"

#include <unistd.h>

#include "log/CDownloadLog.h"

CSleepBlock::CSleepBlock(ISleepInhibitor* inhibitor, CDownloadLog& log) : m_Log(log) {
  std::string error = "no inhibitor";
  if (inhibitor) m_Fd = inhibitor->Acquire(error);
  if (m_Fd >= 0)
    m_Log.PrintText(kSleepBlockedLog);
  else
    m_Log.PrintText(kSleepNotBlockedLog + error);
}

CSleepBlock::~CSleepBlock() { Release(); }

void CSleepBlock::Release() {
  if (m_Fd < 0) return;
  close(m_Fd);
  m_Fd = -1;
  m_Log.PrintText(kSleepAllowedLog);
}
