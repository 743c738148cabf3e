#include "upgrade/UpgradeRun.h"

#include <string>
#include <vector>

#include "image/ModuleTable.h"
#include "platform/Clock.h"
#include "platform/Translation.h"
#include "platform/Warnings.h"

namespace {

// Pause between modules, so the router settles before the next command.
constexpr uint32_t kModulePauseMs = 1000;

bool AnyChosen(const CUpgradeEngine& engine, ModuleType from, ModuleType to) {
  for (ModuleType m = from; m <= to; ++m) {
    if (engine.IsModuleChosen(m)) {
      return true;
    }
  }
  return false;
}

// Images of the hidden family that the Check would have let through, had it read them.
bool OtherFamilyLeftOut() {
  if (!CUpgradeEngine::FirstFamilyShown()) {
    return false;
  }
  for (ModuleType m = MODULE_COMMON_HTML; m <= MODULE_CONFIG_FILE; ++m) {
    const ModuleRow& row = g_ModuleRows[static_cast<size_t>(m)];
    if (row.m_Image.IsValid() && row.m_Upgrade == 1) {
      return true;
    }
  }
  return false;
}

// The chosen images whose file is no longer the one the Check read, in module order.
std::vector<std::string> ChangedImages(const CUpgradeEngine& engine) {
  std::vector<std::string> paths;
  for (ModuleType m = 0; m < kModuleCount; ++m) {
    const CBinFile& image = g_ModuleRows[static_cast<size_t>(m)].m_Image;
    if (engine.IsModuleChosen(m) && image.ChangedOnDisk()) {
      paths.push_back(image.GetFilePath());
    }
  }
  return paths;
}

// The module procedure's outcome: the id its final status shows.
void FinishModule(CUpgradeEngine& engine, ModuleType m) {
  engine.ShowFinalStatus();
  engine.SetModuleOutcome(m, engine.GetStatusId());
}

// Steps 3 to 7: the modules in their order; false ends the run early.
bool RunModules(CUpgradeEngine& engine, bool& nvramErased) {
  if (!engine.OpenRouterLink()) {
    return false;
  }
  for (ModuleType m = MODULE_BOOT; m <= MODULE_CONFIG_FILE; ++m) {
    if (!engine.IsModuleChosen(m)) {
      continue;
    }
    const bool result = engine.TransferRouterModule(g_ModuleRows[static_cast<size_t>(m)].m_Image);
    FinishModule(engine, m);
    if (!result) {
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  // the boot loader alone leaves the NVRAM as it is
  if (AnyChosen(engine, MODULE_APP, MODULE_CONFIG_FILE)) {
    if (!engine.RunNvramErase()) {
      nvramErased = false;
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  if (engine.IsModuleChosen(MODULE_FIRMWARE)) {
    const bool result = engine.UpgradeWirelessFirmware();
    FinishModule(engine, MODULE_FIRMWARE);
    if (!result) {
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  if (engine.IsModuleChosen(MODULE_DASHBOARD)) {
    engine.UpgradeDashboard();
    FinishModule(engine, MODULE_DASHBOARD);
  }
  return true;
}

}  // namespace

unsigned RunUpgrade(CUpgradeEngine& engine, IDialogHost& host) {
  CDownloadLog& log = engine.GetLog();
  engine.SetStepStart(Clock().NowSeconds());
  log.PrintText(engine.m_RouterMac.ToString());
  engine.ResetModuleOutcomes();
  engine.SetLastRunSucceeded(false);
  engine.SetLastRunRefused(false);

  // what the Check verified is what would be sent; a file that changed since means the user meant
  // another image than the one verified, so nothing is sent at all
  const std::vector<std::string> changed = ChangedImages(engine);
  if (!changed.empty()) {
    std::string warning;
    for (const std::string& path : changed) {
      log.PrintText(path + kImageChangedText);
      warning += (warning.empty() ? "" : "\n") + path + Tr(kImageChangedText);
    }
    engine.SetLastRunRefused(true);
    log.PrintText(std::string(50, '+'));
    log.Flush(true);
    ShowWarningText(warning);
    host.PostNotify(NOTIFY_UPGRADE_DONE);
    return 0;
  }

  engine.SetBusyMarker(CUpgradeEngine::kBusyUpgrading);
  engine.SetStatusId(CUpgradeEngine::kStatusSuccess);
  engine.SetCurrentItem(CUpgradeEngine::kNoItem);
  engine.SetForceLoadFlag(0);

  if (OtherFamilyLeftOut()) {
    log.PrintText(kOtherFamilyLeftOutLog);
  }
  log.Flush();

  bool nvramErased = true;
  const bool completed = RunModules(engine, nvramErased);

  // end of run, reached in every case
  engine.SetBusyMarker(0);
  const bool wireless =
      engine.IsModuleChosen(MODULE_FIRMWARE) || engine.IsModuleChosen(MODULE_DASHBOARD);
  if (wireless) {
    // asked whether or not force-load mode was entered; the answer does not matter
    engine.LeaveForceLoadMode();
  }
  engine.CloseRouterLink();
  log.PrintText(std::string(50, '+'));
  log.Flush(true);

  bool succeeded = completed && nvramErased;
  for (ModuleType m = 0; m < kModuleCount && succeeded; ++m) {
    if (engine.IsModuleChosen(m) && engine.GetModuleOutcome(m) != CUpgradeEngine::kStatusSuccess) {
      succeeded = false;
    }
  }
  engine.SetLastRunSucceeded(succeeded);

  host.PostNotify(NOTIFY_UPGRADE_DONE);
  return 0;
}

bool UpgradeRunSucceeded(const CUpgradeEngine& engine) { return engine.GetLastRunSucceeded(); }
