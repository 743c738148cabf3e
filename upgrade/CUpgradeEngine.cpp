#include "upgrade/CUpgradeEngine.h"

#include "platform/StringTable.h"
#include "protocol/ErrorText.h"

CUpgradeEngine::CUpgradeEngine() : m_Diag(&m_RouterLink, &m_Log) { m_RouterLink.SetLog(&m_Log); }

CUpgradeEngine::CUpgradeEngine(LogKind logKind) : m_Log(logKind), m_Diag(&m_RouterLink, &m_Log) {
  m_RouterLink.SetLog(&m_Log);
}

CUpgradeEngine::CUpgradeEngine(const std::string& logPath) : m_Log(logPath), m_Diag(&m_RouterLink, &m_Log) {
  m_RouterLink.SetLog(&m_Log);
}

CUpgradeEngine::~CUpgradeEngine() {
  // the link may report a stuck receiver to the log while it closes, so close it while the log
  // still exists
  m_RouterLink.Close();
  m_RouterLink.SetLog(nullptr);
}

bool CUpgradeEngine::OpenRouterLink() {
  m_Report.SetCurrentRow(CRowReporter::kNoRow);
  const std::string address = m_Router.ip.ToString();
  if (!m_RouterLink.Open(address, m_Endpoints.linkPort, NetPortTcp)) {
    m_Log.Print("Creating the TCP connection to %s:%u failed: %s", address.c_str(),
                static_cast<unsigned>(m_Endpoints.linkPort),
                GetErrorText(m_RouterLink.GetOpenError()).c_str());
    return Fail(IDS_TCP_CONNECT_FAILED);
  }
  if (!m_RouterLink.StartReceiver()) {
    // without a receiver no answer would ever be read: treat it as a link that did not open
    m_RouterLink.Close();
    return Fail(IDS_TCP_CONNECT_FAILED);
  }
  return true;
}

bool CUpgradeEngine::CloseRouterLink() {
  int result = m_RouterLink.Close();
  if (!result) {
    result = m_RouterLink.Close();
  }
  return result != 0;
}

int CUpgradeEngine::GetModuleOutcome(ModuleType m) const {
  if (m < MODULE_BOOT || m >= MODULE_NONE) {
    return 0;
  }
  return m_ModuleOutcome[ModuleIndex(m)];
}

void CUpgradeEngine::SetModuleOutcome(ModuleType m, int statusId) {
  if (m >= MODULE_BOOT && m < MODULE_NONE) {
    m_ModuleOutcome[ModuleIndex(m)] = statusId;
  }
}
