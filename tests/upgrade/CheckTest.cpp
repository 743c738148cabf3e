// The Check against the emulator: discovery, versions over Telnet and DIAG, the rows, the hidden
// family, and what the worker tells the window.

#include <gtest/gtest.h>

#include "ProcedureFixture.h"

namespace upgrade_test {
namespace {

using Strings = std::vector<std::string>;

class CheckRun : public ProcedureTest {};

TEST_F(CheckRun, FirstFamilyAndWirelessFillFiveBlueRows) {
  AddFirstFamilyAndWireless();
  StartSim();
  CheckThread();

  EXPECT_EQ(NameColumn(), (Strings{Name(0), Name(1), Name(2), Name(7), Name(8)}));
  EXPECT_EQ(StatusColumn(), Strings(5, "Waiting for the upgrade"));
  const std::vector<FakeRow> rows = m_List.Rows();
  ASSERT_EQ(rows.size(), 5u);
  const char* current[] = {"1.0.2.3", "2.1.10.6", "2.1.10.6", "11.1.20.6", "4.2.0.1"};
  const char* upgrade[] = {kBootImage, kAppImage, kCustomImage, kFirmwareImage, kDashboardImage};
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].text[COL_CURRENT], current[i]);
    EXPECT_EQ(rows[i].text[COL_UPGRADE], upgrade[i]);
    EXPECT_EQ(rows[i].text[COL_PERCENT], "");
    EXPECT_EQ(rows[i].colour, kColourBlue);
  }
  EXPECT_EQ(m_Host.Events(), (Strings{"Update", "Layout", "Check+", "Upgrade+", "Notify5", "Foreground"}));

  // the router found is kept for the upgrade
  const qorsim::SimConfig config = m_Sim->Config();
  EXPECT_EQ(m_Check.router.ip.ToString(), "127.0.0.1");
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(m_Check.router.mac.b[i], config.mac[i]);
  }
  EXPECT_EQ(m_Engine->GetRouter().ip.ToString(), "127.0.0.1");
  EXPECT_EQ(m_Check.wireless.inDownloader, 0);
  EXPECT_EQ(m_Check.wireless.offline, 0);
  EXPECT_TRUE(Logged("Firmware Version: 11.1.20.6"));
  EXPECT_TRUE(Logged("Dashboard Version: 4.2.0.1"));
  // neither connection stays open
  EXPECT_FALSE(m_Engine->GetRouterLink().IsOpen());
  EXPECT_EQ(Sim().CountEvents("telnet.connect"), 1u);
  EXPECT_TRUE(m_Warnings.Texts().empty());
}

TEST_F(CheckRun, SecondFamilyOverTheCommandInterfaceShowsSixRows) {
  AddRouterImage(MODULE_COMMON_HTML, kCommonHtmlImage);
  AddRouterImage(MODULE_APP2, kApp2Image);
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
  qorsim::SimConfig config;
  config.console = qorsim::SimConfig::Console::Cli;
  StartSim(config);

  EXPECT_TRUE(Check());
  EXPECT_EQ(NameColumn(), (Strings{Name(3), Name(4), Name(5), Name(6), Name(7), Name(8)}));
  EXPECT_EQ(StatusColumn(), (Strings{"Waiting for the upgrade", "Not found", "Waiting for the upgrade",
                                     "Not found", "Waiting for the upgrade", "Not found"}));
  const std::vector<FakeRow> rows = m_List.Rows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].text[COL_CURRENT], "3.0.4.1");   // the resource version
  EXPECT_EQ(rows[2].text[COL_CURRENT], "2.1.10.6");  // the software version
  EXPECT_EQ(rows[1].colour, FakeModuleList::kGray);
  EXPECT_EQ(rows[1].text[COL_CURRENT], "");
  EXPECT_EQ(rows[5].colour, FakeModuleList::kGray);
  // the resource version stands for the other resource rows too, shown or not
  EXPECT_EQ(m_Check.plan[MODULE_SPECIAL_HTML].currentVersion, "3.0.4.1");
  EXPECT_EQ(m_Check.plan[MODULE_CONFIG_FILE].currentVersion, "3.0.4.1");
}

// A console behind a terminal ends its lines CR CR LF: cut at CR LF, the value line keeps one CR.
// The version shown and kept is the version without it.
TEST_F(CheckRun, ShellVersionsEndingInACarriageReturnAreShownWithout) {
  AddRouterImage(MODULE_BOOT, kBootImage);
  AddRouterImage(MODULE_APP, kAppImage);
  qorsim::SimConfig config;
  config.cfeVersion = "1.0.2.3\r";
  config.appVersion = "2.1.10.6\r";
  StartSim(config);
  EXPECT_TRUE(Check());
  EXPECT_EQ(m_Check.plan[MODULE_BOOT].currentVersion, "1.0.2.3");
  EXPECT_EQ(m_Check.plan[MODULE_APP].currentVersion, "2.1.10.6");
  EXPECT_EQ(m_Check.plan[MODULE_CUSTOMIZATION].currentVersion, "2.1.10.6");
  EXPECT_EQ(m_List.Row(1).text[COL_CURRENT], "2.1.10.6");
}

TEST_F(CheckRun, CommandInterfaceVersionsEndingInACarriageReturnAreShownWithout) {
  AddRouterImage(MODULE_COMMON_HTML, kCommonHtmlImage);
  AddRouterImage(MODULE_APP2, kApp2Image);
  qorsim::SimConfig config;
  config.console = qorsim::SimConfig::Console::Cli;
  config.softwareVersion = "2.1.10.6\r";
  config.resVersion = "3.0.4.1\r";
  StartSim(config);
  EXPECT_TRUE(Check());
  EXPECT_EQ(m_Check.plan[MODULE_APP2].currentVersion, "2.1.10.6");
  EXPECT_EQ(m_Check.plan[MODULE_COMMON_HTML].currentVersion, "3.0.4.1");
  EXPECT_EQ(m_Check.plan[MODULE_CONFIG_FILE].currentVersion, "3.0.4.1");
}

TEST_F(CheckRun, WirelessImagesOnlyMakeNoTelnetConnection) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x2000, 100}});
  StartSim();

  EXPECT_TRUE(Check());
  EXPECT_EQ(NameColumn(), (Strings{Name(3), Name(4), Name(5), Name(6), Name(7), Name(8)}));
  EXPECT_EQ(StatusColumn(), (Strings{"Not found", "Not found", "Not found", "Not found",
                                     "Waiting for the upgrade", "Waiting for the upgrade"}));
  EXPECT_EQ(Sim().CountEvents("telnet.connect"), 0u);
}

TEST_F(CheckRun, BothFamiliesShowOnlyTheFirstAndReadOnlyItsVersions) {
  AddRouterImage(MODULE_APP, kAppImage);
  AddRouterImage(MODULE_COMMON_HTML, kCommonHtmlImage);
  AddRouterImage(MODULE_APP2, "9.9.9.9");  // would conflict, were it read
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
  StartSim();

  EXPECT_TRUE(Check());
  EXPECT_EQ(NameColumn(), (Strings{Name(0), Name(1), Name(2), Name(7), Name(8)}));
  EXPECT_EQ(m_Check.plan[MODULE_COMMON_HTML].currentVersion, "");
  EXPECT_EQ(m_Check.plan[MODULE_APP2].currentVersion, "");
  EXPECT_EQ(m_Check.plan[MODULE_APP2].decision, UpgradeDecision::Upgrade);
  // but the upgrade leaves the hidden family alone
  EXPECT_FALSE(m_Check.plan.IsChosen(MODULE_APP2));
  EXPECT_TRUE(m_Check.plan.IsChosen(MODULE_APP));
  const std::vector<qorsim::SimEvent> logins = Sim().EventsOfKind("telnet.connect");
  EXPECT_EQ(logins.size(), 1u);
}

TEST_F(CheckRun, AConflictingVersionTurnsItsRowRedAndKeepsUpgradeDisabled) {
  AddRouterImage(MODULE_BOOT, "1.0.7.0");  // the router has 1.0.2.3
  AddRouterImage(MODULE_APP, kAppImage);
  AddWirelessImage(MODULE_DASHBOARD, "0.0.0.1", {{0x1000, 100}});  // never compared
  StartSim();
  m_Host.loopTest = true;
  CheckThread();

  EXPECT_EQ(StatusColumn(), (Strings{"Version does not match", "Waiting for the upgrade", "Not found",
                                     "Not found", "Waiting for the upgrade"}));
  EXPECT_EQ(m_List.Row(0).colour, kColourRed);
  EXPECT_EQ(m_List.Row(1).colour, kColourBlue);
  EXPECT_EQ(m_List.Row(4).colour, kColourBlue);
  // a failed Check ends the loop: no timer
  EXPECT_EQ(m_Host.Events(), (Strings{"Update", "Layout", "Check+", "Upgrade-", "Notify4", "Foreground"}));
}

TEST_F(CheckRun, ASuccessfulCheckInLoopTestModeStartsTheUpgradeTimer) {
  AddRouterImage(MODULE_APP, kAppImage);
  StartSim();
  m_Host.loopTest = true;
  CheckThread();
  EXPECT_EQ(m_Host.Events(),
            (Strings{"Update", "Layout", "Check+", "Upgrade+", "Notify5", "LoopTimer1", "Foreground"}));
}

TEST_F(CheckRun, NoRouterWarnsThenLogsAndLeavesTheListEmpty) {
  AddRouterImage(MODULE_APP, kAppImage);
  qorsim::SimConfig config;
  config.faults.noDiscovery = true;
  StartSim(config);
  m_List.InsertItem(0, "left over from an earlier Check");
  CheckThread();

  EXPECT_EQ(m_List.GetItemCount(), 0);
  // the warning's text stays first; the diagnosis follows: the loopback interface holds the
  // discovery address's subnet and the datagrams went out, so nothing answered
  ASSERT_EQ(m_Warnings.Texts().size(), 1u);
  const std::string warning = m_Warnings.Texts()[0];
  EXPECT_EQ(warning.rfind(
                "No router is detected\n\nThe search for the router was sent, but no router answered.", 0),
            0u)
      << warning;
  EXPECT_TRUE(Logged("没有检测到路由器"));
  const Strings diagnosis =
      MessagesStartingWith(Log(), "No router is detected: The search for the router was sent");
  ASSERT_EQ(diagnosis.size(), 1u);
  EXPECT_NE(diagnosis[0].find("udp sport " + std::to_string(m_Engine->GetEndpoints().udpPort)),
            std::string::npos);
  EXPECT_EQ(Sim().CountEvents("udp.ignored"), 3u);  // three tries on the one address
  EXPECT_EQ(m_Host.Events(), (Strings{"Update", "Check+", "Upgrade-", "Notify4", "Foreground"}));
}

TEST_F(CheckRun, DiscoveryMovesOnToTheNextAddressAfterThreeTries) {
  AddRouterImage(MODULE_APP, kAppImage);
  StartSim();
  Endpoints endpoints = m_Sim->GetEndpoints();
  // nothing answers on the first address
  endpoints.discoveryAddresses = {"127.0.0.2", Sim().Address()};
  m_Engine->SetEndpoints(endpoints);

  EXPECT_TRUE(Check());
  EXPECT_EQ(Sim().CountEvents("udp.discover"), 1u);
  EXPECT_EQ(m_Check.router.ip.ToString(), "127.0.0.1");
}

TEST_F(CheckRun, NoImagesStopTheCheckBeforeDiscovery) {
  StartSim();
  EXPECT_FALSE(Check());
  EXPECT_EQ(m_Warnings.Texts(), Strings{"No valid .bin file is found in the current directory"});
  EXPECT_EQ(Sim().CountEvents("udp.discover"), 0u);
  EXPECT_EQ(m_List.GetItemCount(), 0);
}

TEST_F(CheckRun, EmbeddedImagesAreUsedWithoutScanningTheFolder) {
  AddRouterImage(MODULE_APP, kAppImage);
  CDownloadLog scanLog(m_State.File("scan.txt"));
  ASSERT_TRUE(ScanImageFiles(m_ImageSet, m_Images.Path(), scanLog));  // stands for the images carried inside
  TempDir other;
  ASSERT_FALSE(WriteRouterImage(other.Path(), MODULE_BOOT, kBootImage, 100, 1).empty());
  StartSim();

  CheckContext context = Context();
  context.hasEmbeddedImages = true;
  context.imageFolder = other.Path();
  EXPECT_TRUE(RunCheck(context).offered);
  EXPECT_EQ(StatusColumn(),
            (Strings{"Not found", "Waiting for the upgrade", "Not found", "Not found", "Not found"}));
}

TEST_F(CheckRun, AFailedLoginFallsBackToTheDiscoveryTextOnlyWhenItIsAVersion) {
  struct Case {
    const char* discoveryText;
    const char* expected;
  };
  const Case cases[] = {{"1.0.0.0", "1.0.0.0"}, {"QVX router", ""}};
  AddRouterImage(MODULE_APP, "1.0.5.0");  // accepts 1.0.0.0
  for (const Case& c : cases) {
    SCOPED_TRACE(c.discoveryText);
    qorsim::SimConfig config;
    config.discoveryText = c.discoveryText;
    config.faults.telnetBadPassword = true;
    StartSim(config);
    EXPECT_TRUE(Check());
    EXPECT_EQ(m_Check.router.text, c.discoveryText);  // reported as received, version or not
    for (ModuleType m : {MODULE_BOOT, MODULE_APP, MODULE_CUSTOMIZATION}) {
      EXPECT_EQ(m_Check.plan[m].currentVersion, c.expected) << m;
    }
    EXPECT_EQ(m_List.Row(1).text[COL_CURRENT], c.expected);
    EXPECT_EQ(m_List.Row(0).text[COL_CURRENT], "");  // no image: nothing shown
  }
}

TEST_F(CheckRun, AFailedVersionCommandIsLoggedAndTheRowGetsTheFallback) {
  AddRouterImage(MODULE_BOOT, "1.0.5.0");
  AddRouterImage(MODULE_APP, kAppImage);
  qorsim::SimConfig config;
  config.faults.cfeFail = true;
  StartSim(config);
  EXPECT_TRUE(Check());
  EXPECT_TRUE(Logged("获取cfe_version失败"));
  EXPECT_FALSE(Logged("获取app_version失败"));
  EXPECT_EQ(m_List.Row(0).text[COL_CURRENT], "1.0.0.0");
  EXPECT_EQ(m_List.Row(1).text[COL_CURRENT], "2.1.10.6");
}

TEST_F(CheckRun, AModuleInItsDownloaderReadsAsForceLoadAndMayBeUpgraded) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x2000, 100}});
  qorsim::SimConfig config;
  config.startInDownloader = true;
  StartSim(config);

  EXPECT_TRUE(Check());
  EXPECT_EQ(m_List.Row(4).text[COL_CURRENT], "Can't read in force-load mode");
  EXPECT_EQ(m_List.Row(5).text[COL_CURRENT], "Can't read in force-load mode");
  EXPECT_EQ(m_List.Row(4).colour, kColourBlue);
  EXPECT_EQ(m_Check.wireless.inDownloader, 1);
}

TEST_F(CheckRun, AnUnansweredHandshakeIsLoggedAndLeavesTheWirelessVersionsEmpty) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
  qorsim::SimConfig config;
  config.faults.handshakeFail = 5;
  StartSim(config);

  EXPECT_TRUE(Check());
  EXPECT_TRUE(Logged("初次和无线模块握手失败"));
  EXPECT_EQ(m_List.Row(4).text[COL_CURRENT], "");
  EXPECT_EQ(m_List.Row(4).text[COL_STATUS], "Waiting for the upgrade");
  // a failed hand-shake leaves both flags set
  EXPECT_EQ(m_Check.wireless.inDownloader, 1);
  EXPECT_EQ(m_Check.wireless.offline, 1);
}

TEST_F(CheckRun, ALinkThatCannotBeOpenedWarnsAndTheCheckGoesOn) {
  AddRouterImage(MODULE_APP, kAppImage);
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
  StartSim();
  Endpoints endpoints = m_Sim->GetEndpoints();
  endpoints.linkPort = UnusedTcpPort();
  m_Engine->SetEndpoints(endpoints);

  EXPECT_TRUE(Check());
  EXPECT_EQ(m_Warnings.Texts(), Strings{"Creating the TCP connection failed"});
  EXPECT_EQ(m_List.Row(3).text[COL_CURRENT], "");
  EXPECT_EQ(m_List.Row(1).text[COL_CURRENT], "2.1.10.6");
}

TEST_F(CheckRun, AStopRequestLeavesTheWindowAlone) {
  AddRouterImage(MODULE_APP, kAppImage);
  StartSim();
  m_Stop = true;
  CheckThread();
  EXPECT_EQ(m_Host.Events(), Strings{"Update"});
  EXPECT_EQ(m_List.GetItemCount(), 0);
  EXPECT_EQ(Sim().CountEvents("udp.discover"), 0u);
}

// The front end is told each step as it begins, so a technician sees where a slow Check is: the
// scan, every discovery try, the console only when a router image needs it, the wireless queries
// only when a wireless image does.
TEST_F(CheckRun, TellsItsStepsAsTheyBegin) {
  struct Case {
    const char* name;
    bool router;
    bool wireless;
  };
  // the image files stay in the folder: the case with fewer images comes first
  const Case cases[] = {{"wireless only", false, true}, {"router and wireless", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetModuleTable();
    const size_t from = m_Host.Steps().size();
    if (c.router) AddRouterImage(MODULE_APP, kAppImage);
    if (c.wireless) AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
    StartSim();
    ASSERT_TRUE(Check());
    const Endpoints e = m_Sim->GetEndpoints();
    Strings expected = {"Reading the images in " + m_Images.Path(),
                        "Looking for the router: discovery to " + e.discoveryAddresses[0] + ", UDP port " +
                            std::to_string(e.udpPort) + " (try 1 of 3)"};
    if (c.router)
      expected.push_back("Reading the router's versions on its console (127.0.0.1, Telnet port " +
                         std::to_string(e.telnetPort) + ")");
    if (c.wireless)
      expected.push_back("Asking the wireless module for its versions (127.0.0.1, link port " +
                         std::to_string(e.linkPort) + ")");
    const Strings steps = m_Host.Steps();
    EXPECT_EQ(Strings(steps.begin() + static_cast<std::ptrdiff_t>(from), steps.end()), expected);
    m_Sim.reset();
  }
}

}  // namespace
}  // namespace upgrade_test
