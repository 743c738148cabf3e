#include "upgrade/UpgradeRun.h"

#include <string>
#include <vector>

#include "image/ModuleTable.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
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

// Each module starts with no failure recorded: a hand-shake that failed for an earlier module (124,
// which does not end its procedure) must not turn a later module's success red.
void BeginModule(CUpgradeEngine& engine) { engine.SetStatusId(CUpgradeEngine::kStatusSuccess); }

// The modules of the run in their order.
std::vector<ModuleType> ChosenInRunOrder(const CUpgradeEngine& engine) {
  std::vector<ModuleType> chosen;
  for (ModuleType m = 0; m < kModuleCount; ++m) {
    if (engine.IsModuleChosen(m)) {
      chosen.push_back(m);
    }
  }
  return chosen;
}

// The link could not be opened: 119 shows on the row the run would have started with.
void ShowLinkFailure(CUpgradeEngine& engine) {
  const std::vector<ModuleType> chosen = ChosenInRunOrder(engine);
  if (chosen.empty()) {
    return;
  }
  engine.SetCurrentItem(CUpgradeEngine::ItemOfModule(chosen.front()));
  FinishModule(engine, chosen.front());
}

// How the run ended early, beyond what the rows show.
struct EarlyEnd {
  std::string reason;   // for the front ends; "" when the failed row tells it
  std::string warning;  // shown once the end-of-run steps are done
};

// Opens the router link, sends the chosen router modules in their order, erases the router's NVRAM
// when the application or the configuration was sent, then upgrades the wireless firmware and the
// dashboard; false ends the run early.
bool RunModules(CUpgradeEngine& engine, EarlyEnd& end) {
  if (!engine.OpenRouterLink()) {
    ShowLinkFailure(engine);
    end.reason = LoadStringById(IDS_TCP_CONNECT_FAILED);
    return false;
  }
  for (ModuleType m = MODULE_BOOT; m <= MODULE_CONFIG_FILE; ++m) {
    if (!engine.IsModuleChosen(m)) {
      continue;
    }
    BeginModule(engine);
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
      engine.GetLog().PrintText(kNvramEraseFailedLog);
      end.reason = Tr(kNvramEraseFailedReason);
      end.warning = Tr(kNvramEraseFailedWarning);
      bool skipped = false;
      for (ModuleType m : {MODULE_FIRMWARE, MODULE_DASHBOARD}) {
        if (engine.IsModuleChosen(m)) {
          engine.MarkModuleSkipped(m, Tr(kSkippedAfterNvramText));
          skipped = true;
        }
      }
      if (skipped) {
        end.warning += Tr(kWirelessSkippedWarning);
      }
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  if (engine.IsModuleChosen(MODULE_FIRMWARE)) {
    BeginModule(engine);
    const bool result = engine.UpgradeWirelessFirmware();
    FinishModule(engine, MODULE_FIRMWARE);
    if (!result) {
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  if (engine.IsModuleChosen(MODULE_DASHBOARD)) {
    BeginModule(engine);
    engine.UpgradeDashboard();
    FinishModule(engine, MODULE_DASHBOARD);
  }
  return true;
}

// "<row name>: <status text>" of the first chosen module that did not succeed, "" when none.
std::string FirstModuleFailure(const CUpgradeEngine& engine) {
  for (ModuleType m : ChosenInRunOrder(engine)) {
    const int outcome = engine.GetModuleOutcome(m);
    if (outcome != 0 && outcome != CUpgradeEngine::kStatusSuccess) {
      return g_ModuleRows[static_cast<size_t>(m)].m_DisplayName + ": " + LoadStringById(outcome);
    }
  }
  return std::string();
}

}  // namespace

unsigned RunUpgrade(CUpgradeEngine& engine, IDialogHost& host) {
  CDownloadLog& log = engine.GetLog();
  engine.SetStepStart(Clock().NowSeconds());
  log.PrintText(engine.m_RouterMac.ToString());
  engine.ResetModuleOutcomes();
  engine.SetLastRunSucceeded(false);
  engine.SetLastRunRefused(false);
  engine.SetLastRunFailure(std::string());

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

  EarlyEnd early;
  const bool completed = RunModules(engine, early);

  // end of run, reached in every case
  engine.SetBusyMarker(0);
  const bool wireless = engine.IsModuleChosen(MODULE_FIRMWARE) || engine.IsModuleChosen(MODULE_DASHBOARD);
  if (wireless) {
    // asked whether or not force-load mode was entered; the answer does not matter
    engine.LeaveForceLoadMode();
  }
  engine.CloseRouterLink();
  log.PrintText(std::string(50, '+'));
  log.Flush(true);

  bool succeeded = completed;
  for (ModuleType m = 0; m < kModuleCount && succeeded; ++m) {
    if (engine.IsModuleChosen(m) && engine.GetModuleOutcome(m) != CUpgradeEngine::kStatusSuccess) {
      succeeded = false;
    }
  }
  engine.SetLastRunSucceeded(succeeded);
  if (!succeeded) {
    std::string reason = early.reason.empty() ? FirstModuleFailure(engine) : early.reason;
    engine.SetLastRunFailure(reason.empty() ? LoadStringById(engine.GetStatusId()) : reason);
  }
  // shown after the link is closed and the log is written, so the run is over while it waits
  if (!early.warning.empty()) {
    ShowWarningText(early.warning);
  }

  host.PostNotify(NOTIFY_UPGRADE_DONE);
  return 0;
}

bool UpgradeRunSucceeded(const CUpgradeEngine& engine) { return engine.GetLastRunSucceeded(); }
