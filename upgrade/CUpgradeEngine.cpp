#include "upgrade/CUpgradeEngine.h"

#include <algorithm>
#include <cstdio>

#include "image/ModuleTable.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "protocol/ErrorText.h"

namespace {

// The last percentage written to any row, shared by every item and every run of the process.
std::atomic<int> g_LastPercent{-1};

}  // namespace

CUpgradeEngine::CUpgradeEngine() : m_Diag(&m_RouterLink, &m_Log) { m_RouterLink.SetLog(&m_Log); }

CUpgradeEngine::CUpgradeEngine(const std::string& logPath)
    : m_Log(logPath), m_Diag(&m_RouterLink, &m_Log) {
  m_RouterLink.SetLog(&m_Log);
}

CUpgradeEngine::~CUpgradeEngine() {
  // the link may report a stuck receiver to the log while it closes, so close it while the log
  // still exists
  m_RouterLink.Close();
  m_RouterLink.SetLog(nullptr);
}

bool CUpgradeEngine::OpenRouterLink() {
  m_CurrentItem = kNoItem;
  if (!m_RouterLink.Open(m_RouterIp.ToString(), m_Endpoints.linkPort, NetPortTcp)) {
    m_Log.Print("Creating the TCP connection to %s:%u failed: %s", m_RouterIp.ToString().c_str(),
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

bool CUpgradeEngine::FirstFamilyShown() {
  for (ModuleType m = MODULE_BOOT; m <= MODULE_CUSTOMIZATION; ++m) {
    if (g_ModuleRows[static_cast<size_t>(m)].m_Image.IsValid()) {
      return true;
    }
  }
  return false;
}

bool CUpgradeEngine::IsModuleChosen(ModuleType m) const {
  if (m < 0 || m >= kModuleCount) {
    return false;
  }
  const ModuleRow& row = g_ModuleRows[static_cast<size_t>(m)];
  if (!row.m_Image.IsValid() || row.m_Upgrade != 1) {
    return false;
  }
  // the Check reads the versions of one router family only; the other one is never sent blind
  if (IsSecondRouterFamily(m) && FirstFamilyShown()) {
    return false;
  }
  return true;
}

int CUpgradeEngine::ItemOfModule(ModuleType m) {
  const bool first = FirstFamilyShown();
  if (IsRouterModule(m)) {
    return first ? m : m - 3;
  }
  if (IsWirelessModule(m)) {
    return first ? m - 4 : m - 3;
  }
  return kNoItem;
}

int CUpgradeEngine::GetModuleOutcome(ModuleType m) const {
  if (m < 0 || m >= kModuleCount) {
    return 0;
  }
  return m_ModuleOutcome[static_cast<size_t>(m)];
}

void CUpgradeEngine::SetModuleOutcome(ModuleType m, int statusId) {
  if (m >= 0 && m < kModuleCount) {
    m_ModuleOutcome[static_cast<size_t>(m)] = statusId;
  }
}

void CUpgradeEngine::WriteStatusToRow(const std::string& text, uint32_t colour) {
  if (m_pList == nullptr) {
    return;
  }
  const int item = m_CurrentItem.load();
  m_pList->SetItemData(item, colour);
  m_pList->SetItemText(item, COL_STATUS, text);
  // widen the Status column for a longer text, never narrow it
  const int needed = m_pList->GetStringWidth(text + "...");
  if (needed > m_pList->GetColumnWidth(COL_STATUS)) {
    m_pList->SetColumnWidth(COL_STATUS, needed);
  }
}

void CUpgradeEngine::ShowStatusText(const std::string& shown, const std::string& logged, uint32_t colour) {
  WriteStatusToRow(shown, colour);
  m_Log.PrintText(logged);
}

void CUpgradeEngine::MarkModuleSkipped(ModuleType m, const std::string& text) {
  m_CurrentItem.store(ItemOfModule(m));
  WriteStatusToRow(text, kColourBlack);
}

void CUpgradeEngine::ShowStatus(int stringId) {
  std::string text;
  if (LoadStringById(stringId, text)) {
    ShowStatusText(text, LoadEnglishStringById(stringId), kColourBlack);
  }
}

std::string CUpgradeEngine::FormatElapsed(int64_t seconds) {
  if (seconds < 0) {
    seconds = 0;
  }
  const int minutes = static_cast<int>((seconds / 60) % 60);
  const int secs = static_cast<int>(seconds % 60);
  char text[16];
  std::snprintf(text, sizeof text, " (%02d:%02d)", minutes, secs);
  return text;
}

void CUpgradeEngine::ShowFinalStatus() {
  const int64_t now = Clock().NowSeconds();
  const std::string elapsed = FormatElapsed(now - m_StepStart.load());
  ShowStatusText(LoadStringById(m_StatusId) + elapsed, LoadEnglishStringById(m_StatusId) + elapsed,
                 m_StatusId == kStatusSuccess ? kColourBlue : kColourRed);
  m_StepStart.store(now);
  m_Log.Flush();
}

void CUpgradeEngine::ShowPercent(int percent) {
  if (g_LastPercent.exchange(percent) == percent) {
    return;
  }
  if (m_pList != nullptr) {
    m_pList->SetItemText(m_CurrentItem.load(), COL_PERCENT, std::to_string(percent) + "%");
  }
}

int CUpgradeEngine::LastPercentShown() { return g_LastPercent.load(); }

int CUpgradeEngine::PercentOf(uint64_t done, uint64_t total) {
  if (total == 0) {
    return 100;
  }
  if (done >= total) {
    return 100;
  }
  // done x 100 needs up to 71 bits
  const unsigned __int128 scaled = static_cast<unsigned __int128>(done) * 100u;
  return static_cast<int>(scaled / total);
}
