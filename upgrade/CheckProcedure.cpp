#include "upgrade/CheckProcedure.h"

#include <algorithm>

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
constexpr int32_t kAnyImageThird = 994;

ModuleRow& Row(ModuleType m) { return g_ModuleRows[static_cast<size_t>(m)]; }
bool HasImage(ModuleType m) { return Row(m).m_Image.IsValid(); }

}  // namespace

unsigned CheckThreadProc(CheckContext& context) {
  const bool offer = RunCheck(context);
  context.engine.GetLog().Flush();
  if (context.StopRequested()) {
    // the front end is going away (or the user interrupted): leave its window alone
    context.engine.GetLog().PrintText(kCheckStoppedLog);
    return 0;
  }
  IDialogHost& host = context.host;
  if (offer) {
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
  return 0;
}

bool DiscoverRouter(CheckContext& context, std::string& routerText) {
  CUpgradeEngine& engine = context.engine;
  const Endpoints& endpoints = engine.GetEndpoints();
  for (const std::string& address : endpoints.discoveryAddresses) {
    for (int attempt = 0; attempt < kDiscoveryTries; ++attempt) {
      if (context.StopRequested()) {
        return false;
      }
      MacAddress mac;
      IpAddress ip;
      std::string text;
      bool found = false;
      {
        CUdpHdlc udp(address, endpoints.udpPort);
        found = udp.Discover(mac, ip, text) != 0;
      }
      if (found) {
        engine.m_RouterMac = mac;
        engine.m_RouterIp = ip;
        routerText = text;
        return true;
      }
      SleepMs(kDiscoveryPauseMs);
    }
  }
  return false;
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

void ReadRouterVersions(CheckContext& context, const std::string& fallback) {
  for (ModuleType m = MODULE_BOOT; m <= MODULE_CONFIG_FILE; ++m) {
    Row(m).m_CurrentVersion.clear();
  }
  CUpgradeEngine& engine = context.engine;
  CDownloadLog& log = engine.GetLog();
  CTelnetClient& telnet = context.telnet;
  telnet.SetPort(engine.GetEndpoints().telnetPort);
  const std::string address = engine.m_RouterIp.ToString();

  if (HasImage(MODULE_BOOT) || HasImage(MODULE_APP) || HasImage(MODULE_CUSTOMIZATION)) {
    // first family: the router's shell
    if (LoginShell(telnet, address, log)) {
      if (HasImage(MODULE_BOOT)) {
        if (telnet.Command("nvram get cfe_version\r\n", "#", kTelnetReplyWaitMs)) {
          TakeLastVersionLine(telnet, Row(MODULE_BOOT).m_CurrentVersion);
          DropTrailingCarriageReturns(Row(MODULE_BOOT).m_CurrentVersion);
        } else if (!context.StopRequested()) {
          log.PrintText("获取cfe_version失败");  // reading cfe_version failed
        }
      }
      if (HasImage(MODULE_APP) || HasImage(MODULE_CUSTOMIZATION)) {
        if (telnet.Command("nvram get app_version\r\n", "#", kTelnetReplyWaitMs)) {
          TakeLastVersionLine(telnet, Row(MODULE_APP).m_CurrentVersion);
          DropTrailingCarriageReturns(Row(MODULE_APP).m_CurrentVersion);
        } else if (!context.StopRequested()) {
          log.PrintText("获取app_version失败");  // reading app_version failed
        }
      }
    }
    telnet.Close();
    if (!IsVersionText(Row(MODULE_BOOT).m_CurrentVersion)) {
      Row(MODULE_BOOT).m_CurrentVersion = fallback;
    }
    if (!IsVersionText(Row(MODULE_APP).m_CurrentVersion)) {
      Row(MODULE_APP).m_CurrentVersion = fallback;
    }
    // the customisation part carries the application's version
    Row(MODULE_CUSTOMIZATION).m_CurrentVersion = Row(MODULE_APP).m_CurrentVersion;
    return;
  }

  if (HasImage(MODULE_COMMON_HTML) || HasImage(MODULE_SPECIAL_HTML) || HasImage(MODULE_APP2) ||
      HasImage(MODULE_CONFIG_FILE)) {
    // second family: the router's command interface
    if (LoginCli(telnet, address, log)) {
      if (telnet.Command("diag display version\r\n", "success", kTelnetReplyWaitMs)) {
        TakeValueAfterLabel(telnet, "software version: ", Row(MODULE_APP2).m_CurrentVersion);
        DropTrailingCarriageReturns(Row(MODULE_APP2).m_CurrentVersion);
      }
      if (telnet.Command("diag display resversion\r\n", "success", kTelnetReplyWaitMs)) {
        TakeValueAfterLabel(telnet, "Res version:", Row(MODULE_COMMON_HTML).m_CurrentVersion);
        DropTrailingCarriageReturns(Row(MODULE_COMMON_HTML).m_CurrentVersion);
      }
    }
    telnet.Close();
    if (!IsVersionText(Row(MODULE_APP2).m_CurrentVersion)) {
      Row(MODULE_APP2).m_CurrentVersion = fallback;
    }
    // the resource version stands for all three resource parts
    const std::string resource = IsVersionText(Row(MODULE_COMMON_HTML).m_CurrentVersion)
                                     ? Row(MODULE_COMMON_HTML).m_CurrentVersion
                                     : fallback;
    Row(MODULE_COMMON_HTML).m_CurrentVersion = resource;
    Row(MODULE_SPECIAL_HTML).m_CurrentVersion = resource;
    Row(MODULE_CONFIG_FILE).m_CurrentVersion = resource;
  }
}

namespace {
// The fixed texts that stand in a version column instead of a version are shown in the user's
// language; the row keeps the English text, which the version rule and the log read.
std::string ShownVersion(const std::string& version) {
  static const char* const kPlaceholders[] = {kForceLoadText, N_("Failed to read"), N_("No version")};
  for (const char* placeholder : kPlaceholders)
    if (version == placeholder) return Tr(placeholder);
  return version;
}
}  // namespace

void ReadWirelessVersions(CheckContext& context, const std::string& forceLoadText) {
  Row(MODULE_FIRMWARE).m_CurrentVersion.clear();
  Row(MODULE_DASHBOARD).m_CurrentVersion.clear();
  if (!HasImage(MODULE_FIRMWARE) && !HasImage(MODULE_DASHBOARD)) {
    return;
  }
  CUpgradeEngine& engine = context.engine;
  if (!engine.OpenRouterLink()) {
    // a connect ended by the stop request is no failure to show
    if (!context.StopRequested()) {
      ShowMessage(IDS_TCP_CONNECT_FAILED);
    }
    return;
  }
  CDiagCaller& diag = engine.GetDiagCaller();
  if (!diag.DIAG_HandShake(false, &engine.m_InDownloader, &engine.m_Offline)) {
    if (!context.StopRequested()) {
      engine.GetLog().PrintText(
          "初次和无线模块握手失败");  // the first hand-shake with the wireless module failed
    }
  } else if (engine.m_InDownloader) {
    // the downloader answers no version queries
    Row(MODULE_FIRMWARE).m_CurrentVersion = forceLoadText;
    Row(MODULE_DASHBOARD).m_CurrentVersion = forceLoadText;
  } else {
    if (HasImage(MODULE_FIRMWARE)) {
      diag.DIAG_QueryBoardVersion(&Row(MODULE_FIRMWARE).m_CurrentVersion);
    }
    if (HasImage(MODULE_DASHBOARD) && !context.StopRequested()) {
      diag.DIAG_QueryISOVersion(&Row(MODULE_DASHBOARD).m_CurrentVersion);
    }
  }
  engine.CloseRouterLink();
}

VersionTriple ParseVersion(const std::string& text) {
  // numbers wrap at 32 bits like the device's own parser; a long digit run never overflows
  uint32_t values[3] = {0, 0, 0};
  uint32_t value = 0;
  int separators = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      value = value * 10u + static_cast<uint32_t>(c - '0');
      continue;
    }
    values[separators] = value;
    if (separators == 2) {
      break;
    }
    ++separators;
    value = 0;
  }
  return VersionTriple{static_cast<int32_t>(values[0]), static_cast<int32_t>(values[1]),
                       static_cast<int32_t>(values[2])};
}

void DecideUpgrade(ModuleRow& row) {
  const std::string& current = row.m_CurrentVersion;
  const std::string image = row.m_Image.GetVersionText();
  // an unreadable or unrecognisable current version never blocks the upgrade
  if (!IsVersionText(current) || !IsVersionText(image) || current == image) {
    row.m_Upgrade = 1;
    return;
  }
  const VersionTriple c = ParseVersion(current);
  const VersionTriple i = ParseVersion(image);
  if (c.first != i.first || c.second != i.second) {
    row.m_Upgrade = 0;
  } else if (c.third == 0 || c.third == i.third || c.third == kAnyImageThird) {
    row.m_Upgrade = 1;
  } else {
    row.m_Upgrade = 0;
  }
}

void FitModuleColumns(IModuleList& list) {
  static constexpr int kColumnChars[5] = {16, 15, 15, 4, 20};
  list.SetRedraw(false);
  for (int column = 0; column < 5; ++column) {
    const int t = list.GetStringWidth(std::string(static_cast<size_t>(kColumnChars[column] + 2), '1'));
    list.SetColumnWidth(column, -1);
    const int w1 = list.GetColumnWidth(column);
    list.SetColumnWidth(column, -2);
    const int w2 = list.GetColumnWidth(column);
    list.SetColumnWidth(column, std::max({t, w1, w2}));
  }
  list.SetRedraw(true);
}

bool RunCheck(CheckContext& context) {
  // every wait of this thread ends within kStopPollMs of the front end's stop request
  ScopedStopRequest stop(context.stopRequested);
  IModuleList& list = context.list;
  CUpgradeEngine& engine = context.engine;
  CDownloadLog& log = engine.GetLog();

  list.DeleteAllItems();
  context.host.UpdateWindow();
  context.scan = ImageScanReport{};

  if (!context.hasEmbeddedImages) {
    if (!ScanImageFiles(context.imageFolder, log, &context.scan)) {
      return false;
    }
  }
  if (context.StopRequested()) {
    return false;
  }

  std::string routerText;
  if (!DiscoverRouter(context, routerText)) {
    if (context.StopRequested()) {
      return false;
    }
    ShowMessage(IDS_NO_ROUTER);
    log.PrintText("没有检测到路由器");  // no router was found
    return false;
  }
  context.routerText = routerText;
  if (!IsVersionText(routerText)) {
    routerText.clear();
  }
  ReadRouterVersions(context, routerText);
  if (context.StopRequested()) {
    return false;
  }
  ReadWirelessVersions(context, kForceLoadText);
  if (context.StopRequested()) {
    return false;
  }

  const std::string notFound = LoadStringById(IDS_NOT_FOUND);
  const std::string mismatch = LoadStringById(IDS_VERSION_MISMATCH);
  const std::string waiting = LoadStringById(IDS_WAITING_UPGRADE);
  bool conflict = false;

  for (ModuleType m = 0; m < kModuleCount; ++m) {
    ModuleRow& row = Row(m);
    list.InsertItem(m, row.m_DisplayName);
    if (row.m_Image.IsValid()) {
      list.SetItemText(m, COL_CURRENT, ShownVersion(row.m_CurrentVersion));
      list.SetItemText(m, COL_UPGRADE, ShownVersion(row.m_Image.GetVersionText()));
      if (m == MODULE_DASHBOARD) {
        // the dashboard's version is never compared
        row.m_Upgrade = 1;
      } else {
        DecideUpgrade(row);
      }
      if (row.m_Upgrade == 0) {
        list.SetItemData(m, kColourRed);
        conflict = true;
      } else {
        list.SetItemData(m, kColourBlue);
      }
      list.SetItemText(m, COL_STATUS, row.m_Upgrade == 0 ? mismatch : waiting);
    } else {
      list.SetItemData(m, list.GrayTextColour());
      list.SetItemText(m, COL_STATUS, notFound);
    }
  }

  // only one router family is shown: the first when it has an image
  if (CUpgradeEngine::FirstFamilyShown()) {
    for (int i = 0; i < 4; ++i) {
      list.DeleteItem(MODULE_COMMON_HTML);
    }
  } else {
    for (int i = 0; i < 3; ++i) {
      list.DeleteItem(MODULE_BOOT);
    }
  }
  context.host.LayoutControls();
  return !conflict;
}
