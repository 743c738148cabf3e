// Force-load mode (the router forces the wireless module into its downloader) and the wait for the
// router and the module after a restart or a switch to download mode.

#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "protocol/CUdpHdlc.h"
#include "upgrade/CUpgradeEngine.h"

namespace {

constexpr uint32_t kRestartCheckLimitMs = 60000;
constexpr uint32_t kProbePauseMs = 2000;

}  // namespace

bool CUpgradeEngine::EnterForceLoadMode() {
  constexpr const char* kEntering = N_("Enter Forcing Download Mode ...");
  ShowStatusText(Tr(kEntering), kEntering, RowColour::Black);
  bool entered = false;
  {
    CUdpHdlc udp(m_Router.ip, m_Endpoints.udpPort);
    entered = udp.EnterForceLoad(m_Router.ip, m_Router.mac) != 0;
  }
  if (!entered) {
    return false;
  }
  // the router needs the time to restart the module into its downloader
  SleepMs(2000);
  m_ForceLoad = true;
  return true;
}

bool CUpgradeEngine::LeaveForceLoadMode() {
  m_Log.PrintText("Leave Forcing Download Mode ...");
  CUdpHdlc udp(m_Router.ip, m_Endpoints.udpPort);
  return udp.LeaveForceLoad(m_Router.ip, m_Router.mac) != 0;
}

bool CUpgradeEngine::WaitRouterReachable(uint32_t limitMs) {
  const uint64_t start = TickMs();
  CUdpHdlc udp(m_Router.ip, m_Endpoints.udpPort);
  for (;;) {
    SleepMs(kProbePauseMs);
    if (udp.CheckPresence(m_Router.ip, m_Router.mac)) {
      return true;
    }
    // tested only after a failed probe, so the wait can overrun the limit by a pause and a probe
    if (TickMs() - start > limitMs) {
      return false;
    }
  }
}

bool CUpgradeEngine::WaitModuleRestart() {
  ShowStatus(IDS_PREPARING_WIRELESS);
  ShowPercent(0);

  if (!WaitRouterReachable(kRestartCheckLimitMs)) {
    m_Log.PrintText("Waiting: First Check Fail");
    return Fail(IDS_RESTART_TIMEOUT);
  }
  ShowPercent(30);
  // the router answers before the module behind it has finished starting
  SleepMs(6000);
  ShowPercent(50);

  if (!WaitRouterReachable(kRestartCheckLimitMs)) {
    m_Log.PrintText("Waiting: Second Check Fail");
    return Fail(IDS_RESTART_TIMEOUT);
  }
  ShowPercent(70);

  // a lone flag byte ends whatever partial frame the module may still hold
  const uint8_t flag = kHdlcFlag;
  m_RouterLink.Write(true, &flag, 1, false, 3000);

  bool answered = false;
  for (int attempt = 0; attempt < 3 && !answered; ++attempt) {
    answered = m_Diag.DIAG_HandShake(false, &m_InDownloader, &m_Offline) != 0;
  }
  if (!answered) {
    m_Log.PrintText("Waiting: Handshake failed");
    return Fail(IDS_RESTART_TIMEOUT);
  }
  ShowPercent(100);
  return true;
}
