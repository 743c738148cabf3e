// The wireless module's firmware and dashboard procedures: hand-shake, NV backup, download mode,
// unlock, block download, reset and the checks after the restart.

#include <string>

#include "image/CAppFileReader.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "protocol/DiagCodec.h"
#include "protocol/Hdlc.h"
#include "protocol/RouterDatagram.h"
#include "upgrade/CUpgradeEngine.h"

namespace {

constexpr uint32_t kReachableLimitMs = 10000;

}  // namespace

bool CUpgradeEngine::UpgradeWirelessFirmware(const CBinFile& image) {
  ShowPercent(0);

  // a failed hand-shake leaves both flags at 1: the module is then treated as in download mode
  HandShakeWithRecovery();

  if (m_InDownloader == 0) {
    ShowStatus(IDS_BACKING_UP_NV);
    if (!m_Diag.DIAG_NV_BackupRestore(true)) {
      return Fail(IDS_NV_BACKUP_FAILED);
    }
  } else {
    m_Log.PrintText("Have Enter Downloader Mode");
  }

  if (!PrepareDownload()) {
    return false;
  }
  if (!DownloadImage(image)) {
    return false;
  }
  if (!RestartModule()) {
    return false;
  }
  if (!WaitModuleRestart()) {
    return false;
  }
  if (m_InDownloader == 1) {
    m_Log.PrintText("Still in downloader after reboot");
    return Fail(IDS_NV_RESTORE_CHECK_FAILED);
  }
  if (!CheckNvRestore()) {
    return Fail(IDS_NV_RESTORE_CHECK_FAILED);
  }
  std::string version;
  if (!m_Diag.DIAG_QueryBoardVersion(&version)) {
    return Fail(IDS_VERSION_CHECK_FAILED);
  }
  return true;
}

bool CUpgradeEngine::UpgradeDashboard(const CBinFile& image) {
  HandShakeWithRecovery();

  if (!PrepareDownload()) {
    return false;
  }
  if (!DownloadImage(image)) {
    return false;
  }
  if (!RestartModule()) {
    return false;
  }
  if (!WaitModuleRestart()) {
    return false;
  }
  std::string version;
  if (m_InDownloader == 1 || !m_Diag.DIAG_QueryISOVersion(&version)) {
    return Fail(IDS_VERSION_CHECK_FAILED);
  }
  return true;
}

bool CUpgradeEngine::HandShakeWithRecovery() {
  WaitRouterReachable(kReachableLimitMs);
  if (m_Diag.DIAG_HandShake(false, &m_InDownloader, &m_Offline)) {
    return true;
  }
  if (EnterForceLoadMode()) {
    WaitRouterReachable(kReachableLimitMs);
    if (m_Diag.DIAG_HandShake(true, &m_InDownloader, &m_Offline)) {
      return true;
    }
  }
  return Fail(IDS_HANDSHAKE_FAILED);
}

bool CUpgradeEngine::PrepareDownload() {
  if (m_Offline == 0) {
    ShowStatus(IDS_ACCESSING_OFFLINE);
    // a module that refuses offline mode may still take the switch below
    if (m_Diag.DIAG_ChangeMode(diag::kModeOffline)) {
      SleepMs(100);
    }
  }
  if (!SendBeginPacket(m_InDownloader == 1 ? UCP_FWT_FORCE : UCP_FWT_BEGIN, 0)) {
    return false;
  }
  if (m_InDownloader == 1) {
    return true;
  }
  ShowStatus(IDS_SWITCHING_DOWNLOADER);
  if (!m_Diag.DIAG_SwitchToDownloader()) {
    return Fail(IDS_SWITCH_FAILED);
  }
  return WaitModuleRestart();
}

bool CUpgradeEngine::DownloadImage(const CBinFile& image) {
  if (!image.IsValid() || image.GetUnitCount() == 0) {
    return Fail(IDS_DOWNLOAD_FAILED);
  }
  CAppFileReader reader(image, kWirelessBlockSize);

  if (!UnlockModule(image.GetUnitHeader(0).hardwareId)) {
    return false;
  }
  ShowStatus(image.GetModuleType() == MODULE_DASHBOARD ? IDS_DOWNLOADING_DASHBOARD
                                                       : IDS_DOWNLOADING_FIRMWARE);

  const uint64_t total = image.GetTotalDataLength();
  uint64_t sent = 0;
  for (uint32_t unit = 0; unit < image.GetUnitCount(); ++unit) {
    const uint32_t blocks = reader.GetBlockCount(unit);
    // every unit starts at its own load address, wherever the previous one ended
    uint32_t address = reader.GetUnitHeader(unit).loadAddress;
    reader.SelectUnit(unit);
    for (uint32_t block = 0; block < blocks; ++block) {
      uint32_t length = 0;
      const uint8_t* data = reader.NextBlock(length);
      const int frameLength = data != nullptr ? BuildWriteFrame(address, length, data) : 0;

      // only the acknowledgement of this block's address (or a rejection) ends the wait
      const auto key = diag::WriteAckKey(address);
      m_Diag.SetResponseKey(key.data(), static_cast<unsigned>(key.size()));

      if (frameLength <= 0 || !m_Diag.DIAG_Write(static_cast<uint32_t>(frameLength))) {
        m_Log.Print("Unit%u Block%u: Download Fail", unit + 1, block + 1);
        return Fail(IDS_DOWNLOAD_FAILED);
      }
      address += length;
      sent += length;
      ShowPercent(PercentOf(sent, total));
    }
  }

  if (m_ForceLoad) {
    LeaveForceLoadMode();
  }
  return true;
}

bool CUpgradeEngine::UnlockModule(const uint8_t code[8]) {
  ShowStatus(IDS_UNLOCKING);
  if (m_Diag.DIAG_Unlock(code)) {
    return true;
  }
  if (EnterForceLoadMode()) {
    WaitRouterReachable(kReachableLimitMs);
    if (m_Diag.DIAG_Unlock(code)) {
      return true;
    }
  }
  return Fail(IDS_UNLOCK_FAILED);
}

int CUpgradeEngine::BuildWriteFrame(uint32_t address, uint32_t length, const uint8_t* data) {
  if (data == nullptr && length != 0) {
    return 0;
  }
  uint8_t* buffer = m_RouterLink.GetWriteBuffer();
  if (buffer == nullptr) {
    return 0;
  }
  return static_cast<int>(diag::BuildWriteBlockFrame(std::span<uint8_t>(buffer, kHdlcWriteBufferSize),
                                                     address, std::span<const uint8_t>(data, length)));
}

bool CUpgradeEngine::RestartModule() {
  ShowStatus(IDS_RESTARTING_MODULE);
  if (!m_Diag.DIAG_Reset()) {
    return Fail(IDS_RESTART_FAILED);
  }
  return true;
}

bool CUpgradeEngine::CheckNvRestore() {
  ShowStatus(IDS_CHECK_NV_RESTORE);
  // query, query, restore; twice
  for (int pass = 0; pass < 2; ++pass) {
    for (int attempt = 1; attempt <= 2; ++attempt) {
      m_Log.Print("  Try%d: Reading restored status ...", attempt);
      if (m_Diag.DIAG_NV_QueryRestoreStatus()) {
        return true;
      }
    }
    if (m_Diag.DIAG_NV_BackupRestore(false)) {
      return true;
    }
  }
  return false;
}
