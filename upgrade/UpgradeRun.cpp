#include "upgrade/UpgradeRun.h"

#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "platform/Warnings.h"
#include "upgrade/Advice.h"

namespace {

// Pause between modules, so the router settles before the next command.
constexpr uint32_t kModulePauseMs = 1000;

// The chosen images whose file is no longer the one the Check read, in module order.
std::vector<std::string> ChangedImages(const ModulePlan& plan) {
  std::vector<std::string> paths;
  for (ModuleType m : plan.Chosen()) {
    if (plan[m].image->ChangedOnDisk()) {
      paths.push_back(plan[m].image->GetFilePath());
    }
  }
  return paths;
}

// Each module starts on its own row with no failure recorded: a hand-shake that failed for an
// earlier module (124, which does not end its procedure) must not turn a later module's success red.
void BeginModule(CUpgradeEngine& engine, const ModulePlan& plan, ModuleType m) {
  engine.Reporter().SetCurrentRow(plan.RowOf(m));
  engine.SetStatusId(CUpgradeEngine::kStatusSuccess);
}

// The module procedure's outcome: the id its final status shows.
void FinishModule(CUpgradeEngine& engine, ModuleType m) {
  engine.Reporter().ShowFinalStatus(engine.GetStatusId());
  engine.SetModuleOutcome(m, engine.GetStatusId());
}

// The link could not be opened: 119 shows on the row the run would have started with.
void ShowLinkFailure(CUpgradeEngine& engine, const ModulePlan& plan) {
  const std::vector<ModuleType> chosen = plan.Chosen();
  if (chosen.empty()) {
    return;
  }
  engine.Reporter().SetCurrentRow(plan.RowOf(chosen.front()));
  FinishModule(engine, chosen.front());
}

// How the run ended early, beyond what the rows show.
struct EarlyEnd {
  std::string reason;   // for the front ends; "" when the failed row tells it
  int reasonId = 0;     // its advice-table id
  std::string warning;  // shown once the end-of-run steps are done
};

// The modules in their order: the router's parts, the NVRAM erase after them, the wireless
// firmware, then the dashboard. false ends the run early.
bool RunModules(CUpgradeEngine& engine, const ModulePlan& plan, EarlyEnd& end) {
  if (!engine.OpenRouterLink()) {
    ShowLinkFailure(engine, plan);
    end.reason = LoadStringById(IDS_TCP_CONNECT_FAILED);
    end.reasonId = IDS_TCP_CONNECT_FAILED;
    return false;
  }
  for (ModuleType m : plan.Chosen()) {
    if (!IsRouterModule(m)) {
      continue;
    }
    BeginModule(engine, plan, m);
    const bool result = engine.TransferRouterModule(*plan[m].image);
    FinishModule(engine, m);
    if (!result) {
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  // the boot loader alone leaves the NVRAM as it is
  if (plan.AnyChosen(MODULE_APP, MODULE_CONFIG_FILE)) {
    if (!engine.RunNvramErase()) {
      engine.GetLog().PrintText(kNvramEraseFailedLog);
      end.reason = Tr(kNvramEraseFailedReason);
      end.reasonId = ADVICE_NVRAM_ERASE_FAILED;
      end.warning = Tr(kNvramEraseFailedWarning);
      bool skipped = false;
      for (ModuleType m : {MODULE_FIRMWARE, MODULE_DASHBOARD}) {
        if (plan.IsChosen(m)) {
          engine.Reporter().MarkSkipped(plan.RowOf(m), Tr(kSkippedAfterNvramText), ADVICE_NVRAM_ERASE_FAILED);
          skipped = true;
        }
      }
      if (skipped) {
        end.warning += Tr(kWirelessSkippedWarning);
      }
      end.warning += "\n\n" + AdviceText(ADVICE_NVRAM_ERASE_FAILED);
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  if (plan.IsChosen(MODULE_FIRMWARE)) {
    BeginModule(engine, plan, MODULE_FIRMWARE);
    const bool result = engine.UpgradeWirelessFirmware(*plan[MODULE_FIRMWARE].image);
    FinishModule(engine, MODULE_FIRMWARE);
    if (!result) {
      return false;
    }
    SleepMs(kModulePauseMs);
  }
  if (plan.IsChosen(MODULE_DASHBOARD)) {
    BeginModule(engine, plan, MODULE_DASHBOARD);
    engine.UpgradeDashboard(*plan[MODULE_DASHBOARD].image);
    FinishModule(engine, MODULE_DASHBOARD);
  }
  return true;
}

// "<row name>: <status text>" of the first chosen module that did not succeed, "" when none; id
// receives its status id.
std::string FirstModuleFailure(const CUpgradeEngine& engine, const ModulePlan& plan, int& id) {
  for (ModuleType m : plan.Chosen()) {
    const int outcome = engine.GetModuleOutcome(m);
    if (outcome != 0 && outcome != CUpgradeEngine::kStatusSuccess) {
      id = outcome;
      return ModuleDisplayName(m) + ": " + LoadStringById(outcome);
    }
  }
  return std::string();
}

}  // namespace

void RunUpgrade(CUpgradeEngine& engine, const CheckResult& check, IDialogHost& host) {
  const ModulePlan& plan = check.plan;
  CDownloadLog& log = engine.GetLog();
  engine.SetRouter(check.router);
  engine.Reporter().StartStep();
  log.PrintText(check.router.mac.ToString());
  engine.ResetModuleOutcomes();
  engine.SetLastRunSucceeded(false);
  engine.SetLastRunRefused(false);
  engine.SetLastRunFailure(std::string());
  engine.SetLastRunFailureId(0);

  // what the Check verified is what would be sent; a file that changed since means the user meant
  // another image than the one verified, so nothing is sent at all
  const std::vector<std::string> changed = ChangedImages(plan);
  if (!changed.empty()) {
    std::string warning;
    for (const std::string& path : changed) {
      log.PrintText(path + kImageChangedText);
      warning += (warning.empty() ? "" : "\n") + path + Tr(kImageChangedText);
    }
    engine.SetLastRunRefused(true);
    engine.SetLastRunFailureId(ADVICE_IMAGE_CHANGED);
    log.PrintText(std::string(50, '+'));
    log.Flush(true);
    ShowWarningText(warning);
    host.PostNotify(NOTIFY_UPGRADE_DONE);
    return;
  }

  // from here to the end of the run the PC must not suspend; released on every way out
  CSleepBlock sleepBlock(engine.GetSleepInhibitor(), log);
  engine.SetUpgrading(true);
  engine.SetStatusId(CUpgradeEngine::kStatusSuccess);
  engine.Reporter().SetCurrentRow(CRowReporter::kNoRow);
  engine.SetForceLoadFlag(false);

  if (plan.OtherFamilyLeftOut()) {
    log.PrintText(kOtherFamilyLeftOutLog);
  }
  log.Flush();

  EarlyEnd early;
  const bool completed = RunModules(engine, plan, early);

  // end of run, reached in every case
  engine.SetUpgrading(false);
  if (plan.IsChosen(MODULE_FIRMWARE) || plan.IsChosen(MODULE_DASHBOARD)) {
    // asked whether or not force-load mode was entered; the answer does not matter
    engine.LeaveForceLoadMode();
  }
  engine.CloseRouterLink();
  sleepBlock.Release();
  log.PrintText(std::string(50, '+'));
  log.Flush(true);

  bool succeeded = completed;
  for (ModuleType m : plan.Chosen()) {
    if (engine.GetModuleOutcome(m) != CUpgradeEngine::kStatusSuccess) {
      succeeded = false;
    }
  }
  engine.SetLastRunSucceeded(succeeded);
  if (!succeeded) {
    int id = early.reasonId;
    std::string reason = early.reason.empty() ? FirstModuleFailure(engine, plan, id) : early.reason;
    if (reason.empty()) {
      id = engine.GetStatusId();
      reason = LoadStringById(id);
    }
    engine.SetLastRunFailure(reason);
    engine.SetLastRunFailureId(id);
  }
  // shown after the link is closed and the log is written, so the run is over while it waits
  if (!early.warning.empty()) {
    ShowWarningText(early.warning);
  }

  host.PostNotify(NOTIFY_UPGRADE_DONE);
}

bool UpgradeRunSucceeded(const CUpgradeEngine& engine) { return engine.GetLastRunSucceeded(); }
