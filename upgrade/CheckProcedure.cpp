#include "upgrade/CheckProcedure.h"

#include "image/Catalogue.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "platform/Warnings.h"
#include "protocol/CUdpHdlc.h"

namespace {

constexpr int kDiscoveryTries = 3;
constexpr uint32_t kDiscoveryPauseMs = 100;
constexpr uint32_t kTelnetReplyWaitMs = 500;

}  // namespace

CheckResult CheckThreadProc(const CheckContext& context) {
  CheckResult result = RunCheck(context);
  context.engine.GetLog().Flush();
  if (result.stopped) {
    // the front end is going away (or the user interrupted): leave its window alone
    context.engine.GetLog().PrintText(kCheckStoppedLog);
    return result;
  }
  IDialogHost& host = context.host;
  if (result.offered) {
    host.EnableCheckButton(true);
    host.EnableUpgradeButton(true);
    host.PostNotify(NOTIFY_FOCUS_UPGRADE);
    if (host.IsLoopTest()) {
      host.StartLoopTimer(1);
    }
  } else {
    // in loop-test mode a failed Check ends the loop
    host.EnableCheckButton(true);
    host.EnableUpgradeButton(false);
    host.PostNotify(NOTIFY_FOCUS_CHECK);
  }
  host.BringToForeground();
  return result;
}

RouterInfo DiscoverRouter(const CheckContext& context, std::vector<DiscoverySend>* sends) {
  const Endpoints& endpoints = context.engine.GetEndpoints();
  for (const std::string& address : endpoints.discoveryAddresses) {
    DiscoverySend send{address, 0};
    bool anySent = false;
    for (int attempt = 0; attempt < kDiscoveryTries; ++attempt) {
      if (context.StopRequested()) {
        return RouterInfo{};
      }
      RouterInfo router;
      context.Progress(FormatText(Tr("Looking for the router: discovery to %1, UDP port %2 (try %3 of %4)"),
                                  {address, std::to_string(endpoints.udpPort), std::to_string(attempt + 1),
                                   std::to_string(kDiscoveryTries)}));
      {
        CUdpHdlc udp(address, endpoints.udpPort);
        router.found = udp.Discover(router.mac, router.ip, router.text) != 0;
        // a failed receive leaves the send error at 0: the datagram went out
        if (udp.GetLastSendError() == 0) {
          anySent = true;
        } else {
          send.error = udp.GetLastSendError();
        }
      }
      if (router.found) {
        return router;
      }
      SleepMs(kDiscoveryPauseMs);
    }
    if (anySent) send.error = 0;
    if (sends != nullptr) sends->push_back(send);
  }
  return RouterInfo{};
}

std::string NoRouterWarningText(const NoRouterDiagnosis& diagnosis) {
  std::string text = LoadStringById(IDS_NO_ROUTER);
  if (!diagnosis.shown.empty()) text += "\n\n" + diagnosis.shown;
  return text;
}

namespace {
// A console that runs behind a terminal ends its lines CR CR LF; cut at CR LF, such a line keeps one
// CR, which is no part of the version (and would garble a table). The version rule reads no further
// than the third dot, so dropping it changes no decision.
void DropTrailingCarriageReturns(std::string& text) {
  while (!text.empty() && text.back() == '\r') {
    text.pop_back();
  }
}
}  // namespace

void ReadRouterVersions(const CheckContext& context, ModulePlan& plan, const std::string& fallback) {
  for (ModuleType m : kAllModules) {
    if (IsRouterModule(m)) plan[m].currentVersion.clear();
  }
  auto hasImage = [&plan](ModuleType m) { return plan[m].HasImage(); };
  auto version = [&plan](ModuleType m) -> std::string& { return plan[m].currentVersion; };
  CUpgradeEngine& engine = context.engine;
  CDownloadLog& log = engine.GetLog();
  CTelnetClient& telnet = context.telnet;
  telnet.SetPort(engine.GetEndpoints().telnetPort);
  const std::string address = engine.GetRouter().ip.ToString();

  const std::string consoleStep =
      FormatText(Tr("Reading the router's versions on its console (%1, Telnet port %2)"),
                 {address, std::to_string(engine.GetEndpoints().telnetPort)});
  if (hasImage(MODULE_BOOT) || hasImage(MODULE_APP) || hasImage(MODULE_CUSTOMIZATION)) {
    // first family: the router's shell
    context.Progress(consoleStep);
    if (LoginShell(telnet, address, log)) {
      if (hasImage(MODULE_BOOT)) {
        if (telnet.Command("nvram get cfe_version\r\n", "#", kTelnetReplyWaitMs)) {
          TakeLastVersionLine(telnet, version(MODULE_BOOT));
          DropTrailingCarriageReturns(version(MODULE_BOOT));
        } else if (!context.StopRequested()) {
          log.PrintText("获取cfe_version失败");  // reading cfe_version failed
        }
      }
      if (hasImage(MODULE_APP) || hasImage(MODULE_CUSTOMIZATION)) {
        if (telnet.Command("nvram get app_version\r\n", "#", kTelnetReplyWaitMs)) {
          TakeLastVersionLine(telnet, version(MODULE_APP));
          DropTrailingCarriageReturns(version(MODULE_APP));
        } else if (!context.StopRequested()) {
          log.PrintText("获取app_version失败");  // reading app_version failed
        }
      }
    }
    telnet.Close();
    if (!IsVersionText(version(MODULE_BOOT))) {
      version(MODULE_BOOT) = fallback;
    }
    if (!IsVersionText(version(MODULE_APP))) {
      version(MODULE_APP) = fallback;
    }
    // the customisation part carries the application's version
    version(MODULE_CUSTOMIZATION) = version(MODULE_APP);
    return;
  }

  if (hasImage(MODULE_COMMON_HTML) || hasImage(MODULE_SPECIAL_HTML) || hasImage(MODULE_APP2) ||
      hasImage(MODULE_CONFIG_FILE)) {
    // second family: the router's command interface
    context.Progress(consoleStep);
    if (LoginCli(telnet, address, log)) {
      if (telnet.Command("diag display version\r\n", "success", kTelnetReplyWaitMs)) {
        TakeValueAfterLabel(telnet, "software version: ", version(MODULE_APP2));
        DropTrailingCarriageReturns(version(MODULE_APP2));
      }
      if (telnet.Command("diag display resversion\r\n", "success", kTelnetReplyWaitMs)) {
        TakeValueAfterLabel(telnet, "Res version:", version(MODULE_COMMON_HTML));
        DropTrailingCarriageReturns(version(MODULE_COMMON_HTML));
      }
    }
    telnet.Close();
    if (!IsVersionText(version(MODULE_APP2))) {
      version(MODULE_APP2) = fallback;
    }
    // the resource version stands for all three resource parts
    const std::string resource =
        IsVersionText(version(MODULE_COMMON_HTML)) ? version(MODULE_COMMON_HTML) : fallback;
    version(MODULE_COMMON_HTML) = resource;
    version(MODULE_SPECIAL_HTML) = resource;
    version(MODULE_CONFIG_FILE) = resource;
  }
}

WirelessState ReadWirelessVersions(const CheckContext& context, ModulePlan& plan,
                                   const std::string& forceLoadText) {
  WirelessState state;
  plan[MODULE_FIRMWARE].currentVersion.clear();
  plan[MODULE_DASHBOARD].currentVersion.clear();
  if (!plan[MODULE_FIRMWARE].HasImage() && !plan[MODULE_DASHBOARD].HasImage()) {
    return state;
  }
  CUpgradeEngine& engine = context.engine;
  context.Progress(
      FormatText(Tr("Asking the wireless module for its versions (%1, link port %2)"),
                 {engine.GetRouter().ip.ToString(), std::to_string(engine.GetEndpoints().linkPort)}));
  if (!engine.OpenRouterLink()) {
    // a connect ended by the stop request is no failure to show
    if (!context.StopRequested()) {
      ShowMessage(IDS_TCP_CONNECT_FAILED);
    }
    state.linkFailed = true;
    return state;
  }
  CDiagCaller& diag = engine.GetDiagCaller();
  state.answered = diag.DIAG_HandShake(false, &state.inDownloader, &state.offline) != 0;
  if (!state.answered) {
    if (!context.StopRequested()) {
      engine.GetLog().PrintText(
          "初次和无线模块握手失败");  // the first hand-shake with the wireless module failed
    }
  } else if (state.inDownloader) {
    // the downloader answers no version queries
    plan[MODULE_FIRMWARE].currentVersion = forceLoadText;
    plan[MODULE_DASHBOARD].currentVersion = forceLoadText;
  } else {
    if (plan[MODULE_FIRMWARE].HasImage()) {
      diag.DIAG_QueryBoardVersion(&plan[MODULE_FIRMWARE].currentVersion);
    }
    if (plan[MODULE_DASHBOARD].HasImage() && !context.StopRequested()) {
      diag.DIAG_QueryISOVersion(&plan[MODULE_DASHBOARD].currentVersion);
    }
  }
  engine.CloseRouterLink();
  return state;
}

namespace {

// The Check's steps; each returns early where the Check ends.
void RunCheckSteps(const CheckContext& context, CheckResult& result) {
  CUpgradeEngine& engine = context.engine;
  CDownloadLog& log = engine.GetLog();

  engine.Reporter().ClearRows();
  context.host.UpdateWindow();

  if (!context.hasEmbeddedImages) {
    context.Progress(FormatText(Tr("Reading the images in %1"), {context.imageFolder}));
    if (!ScanImageFiles(context.images, context.imageFolder, log, &result.scan)) {
      // none valid (135), or two of one type (134), as the scan's warning said
      result.failureId = context.images.Any() ? IDS_DUPLICATE_IMAGES : IDS_NO_VALID_IMAGE;
      return;
    }
  }
  if (context.StopRequested()) {
    return;
  }

  // this PC's side first: which interfaces are in the router's subnet
  const Endpoints& endpoints = engine.GetEndpoints();
  result.network = RunNetworkPreflight(endpoints.discoveryAddresses);
  for (const std::string& line : PreflightLogLines(result.network)) log.PrintText(line);

  result.router = DiscoverRouter(context, &result.sends);
  if (!result.router.found) {
    if (context.StopRequested()) {
      return;
    }
    result.noRouter = DiagnoseNoRouter(result.network, result.sends, endpoints.udpPort);
    result.failureId = IDS_NO_ROUTER;
    ShowWarningText(NoRouterWarningText(result.noRouter));
    log.PrintText("没有检测到路由器");  // no router was found
    log.PrintText("No router is detected: " + result.noRouter.logged);
    return;
  }
  engine.SetRouter(result.router);
  // a discovery text that is a version stands for a version the console could not tell
  const std::string fallback = IsVersionText(result.router.text) ? result.router.text : std::string();

  ModulePlan plan = ModulePlan::ForImages(context.images);
  ReadRouterVersions(context, plan, fallback);
  if (context.StopRequested()) {
    result.plan = plan;
    return;
  }
  result.wireless = ReadWirelessVersions(context, plan, kForceLoadText);
  if (context.StopRequested()) {
    result.plan = plan;
    return;
  }

  for (ModuleType m : kAllModules) {
    PlannedModule& entry = plan[m];
    if (!entry.HasImage()) {
      continue;
    }
    // the dashboard's version is never compared
    entry.decision = m == MODULE_DASHBOARD ? UpgradeDecision::Upgrade
                                           : DecideUpgrade(entry.currentVersion, entry.imageVersion);
  }
  result.plan = plan;
  engine.Reporter().ShowPlan(result.plan);
  context.host.LayoutControls();
  result.listed = true;
  result.offered = !result.plan.HasConflict();
}

}  // namespace

CheckResult RunCheck(const CheckContext& context) {
  // every wait of this thread ends within kStopPollMs of the front end's stop request
  ScopedStopRequest stop(context.stopRequested);
  CheckResult result;
  RunCheckSteps(context, result);
  result.stopped = context.StopRequested();
  return result;
}
