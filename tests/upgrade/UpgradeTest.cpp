// Upgrade runs against the emulator: whole runs for each router family with the wireless modules,
// what the devices received, the end-of-run steps, force-load paths and the NV restore check.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "ProcedureFixture.h"
#include "platform/Warnings.h"
#include "upgrade/Advice.h"

namespace upgrade_test {
namespace {

using Strings = std::vector<std::string>;

class UpgradeRun : public ProcedureTest {
 protected:
  explicit UpgradeRun(double scale = DefaultScale()) : ProcedureTest(scale) {}

  // The kinds of the emulator's events from a set, in order.
  Strings EventKinds(const Strings& kinds) {
    Strings out;
    for (const qorsim::SimEvent& e : Sim().Events()) {
      if (std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end()) {
        out.push_back(e.kind);
      }
    }
    return out;
  }

  void ExpectFlashHolds(ModuleType m) {
    for (const WirelessUnitData& unit : m_Sent.wireless[m - MODULE_FIRMWARE]) {
      std::vector<uint8_t> flash;
      ASSERT_TRUE(Sim().ReadFlash(unit.loadAddress, unit.data.size(), &flash)) << unit.loadAddress;
      EXPECT_TRUE(flash == unit.data) << "unit at " << unit.loadAddress;
    }
  }
};

TEST_F(UpgradeRun, FirstFamilyAndWirelessAllEndDownloadedWithTheImagesOnTheDevice) {
  AddFirstFamilyAndWireless();
  StartSim();
  CheckAndUpgrade();

  for (ModuleType m : Modules({0, 1, 2, 7, 8})) {
    ExpectFinal(m, "Download successfully", kColourBlue);
    EXPECT_EQ(RowOf(m).text[COL_PERCENT], "100%") << m;
    EXPECT_EQ(m_Engine->GetModuleOutcome(m), 103) << m;
  }
  EXPECT_TRUE(UpgradeRunSucceeded(*m_Engine));
  EXPECT_FALSE(m_Engine->IsUpgrading());
  EXPECT_FALSE(m_Engine->GetRouterLink().IsOpen());
  EXPECT_EQ(m_Host.Events().back(), "Notify0");

  // the router got each image's unit data, byte for byte, and the module's flash the units
  for (ModuleType m : Modules({0, 1, 2})) {
    EXPECT_TRUE(Sim().RouterImage(m) == m_Sent.router[m]) << m;
  }
  ExpectFlashHolds(MODULE_FIRMWARE);
  ExpectFlashHolds(MODULE_DASHBOARD);
  EXPECT_EQ(Sim().Module().firmwareVersion, kFirmwareImage);
  EXPECT_EQ(Sim().AppVersion(), kAppImage);

  // the erase comes once, after the router modules and before the wireless module
  EXPECT_EQ(EventKinds({"router.image", "udp.erase-nvram", "link.fwt-begin"}),
            (Strings{"router.image", "router.image", "router.image", "udp.erase-nvram", "link.fwt-begin",
                     "link.fwt-begin"}));

  // the log: the MAC first, each step, the separator last, all flushed to the file
  const Strings log = LogMessages(ReadText(LogPath()));
  EXPECT_TRUE(m_Engine->GetLog().GetPending().empty());
  const int mac = FindMessage(log, m_Check.router.mac.ToString());
  ASSERT_GE(mac, 0);
  EXPECT_EQ(MessagesStartingWith(log, "Sending RUT Begin Pkt").size(), 3u);
  EXPECT_EQ(MessagesStartingWith(log, "TCP_GetRouterResult's ElapsedTime = ").size(), 3u);
  EXPECT_GE(FindMessage(log, "Erasing the NVRAM of the router module"), mac);
  EXPECT_GE(FindMessage(log, "Backing up the NV"), 0);
  EXPECT_EQ(MessagesStartingWith(log, "  Try1: Reading restored status ...").size(), 1u);
  EXPECT_EQ(log.back(), std::string(50, '+'));
  EXPECT_EQ(FindMessage(log, kOtherFamilyLeftOutLog), -1);
}

TEST_F(UpgradeRun, FullBlocksGoToConsecutiveAddressesAndEachUnitStartsAtItsOwn) {
  // two full 4096-byte blocks and a short one, then a unit that starts elsewhere
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 4096 * 2 + 100}, {0x00300000, 4096}});
  StartSim();
  CheckAndUpgrade();
  ExpectFinal(MODULE_FIRMWARE, "Download successfully", kColourBlue);
  ExpectFlashHolds(MODULE_FIRMWARE);
  const std::vector<qorsim::SimEvent> writes = Sim().EventsOfKind("dl.write");
  const Strings addresses = {"0x00100000", "0x00101000", "0x00102000", "0x00300000"};
  ASSERT_EQ(writes.size(), addresses.size());
  for (size_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].detail.substr(0, 10), addresses[i]) << writes[i].detail;
  }
}

TEST_F(UpgradeRun, SecondFamilyAndWirelessOverTheCommandInterface) {
  AddRouterImage(MODULE_COMMON_HTML, kCommonHtmlImage);
  AddRouterImage(MODULE_SPECIAL_HTML, kSpecialHtmlImage);
  AddRouterImage(MODULE_APP2, kApp2Image, 7300 * 2);
  AddRouterImage(MODULE_CONFIG_FILE, kConfigImage, 3000);
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 4096 * 3}});
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 4097}, {0x00900000, 1}});
  qorsim::SimConfig config;
  config.console = qorsim::SimConfig::Console::Cli;
  StartSim(config);
  CheckAndUpgrade();

  EXPECT_EQ(NameColumn(), (Strings{Name(3), Name(4), Name(5), Name(6), Name(7), Name(8)}));
  for (ModuleType m : Modules({3, 4, 5, 6, 7, 8})) {
    ExpectFinal(m, "Download successfully", kColourBlue);
    EXPECT_EQ(RowOf(m).text[COL_PERCENT], "100%") << m;
  }
  for (ModuleType m : Modules({3, 4, 5, 6})) {
    EXPECT_TRUE(Sim().RouterImage(m) == m_Sent.router[m]) << m;
  }
  ExpectFlashHolds(MODULE_FIRMWARE);
  ExpectFlashHolds(MODULE_DASHBOARD);
  EXPECT_TRUE(UpgradeRunSucceeded(*m_Engine));
}

TEST_F(UpgradeRun, WithBothFamiliesOnlyTheShownFamilyIsSentAndTheOtherIsLoggedAsLeftOut) {
  AddRouterImage(MODULE_APP, kAppImage);
  AddRouterImage(MODULE_COMMON_HTML, kCommonHtmlImage);
  AddRouterImage(MODULE_APP2, kApp2Image);
  StartSim();
  CheckAndUpgrade();

  EXPECT_EQ(Sim().RouterImages().size(), 1u);
  EXPECT_TRUE(Sim().RouterImage(MODULE_APP) == m_Sent.router[MODULE_APP]);
  EXPECT_TRUE(Sim().RouterImage(MODULE_APP2).empty());
  EXPECT_TRUE(Logged(kOtherFamilyLeftOutLog));
  // the rows shown are the first family's and the wireless module's, untouched but for module 1
  EXPECT_EQ(StatusColumn()[0], "Not found");
  ExpectFinal(MODULE_APP, "Download successfully", kColourBlue);
  EXPECT_EQ(StatusColumn()[3], "Not found");
  EXPECT_EQ(StatusColumn()[4], "Not found");
  EXPECT_TRUE(UpgradeRunSucceeded(*m_Engine));
}

TEST_F(UpgradeRun, AFailingRouterModuleEndsTheRunAndLaterRowsKeepTheirCheckText) {
  AddFirstFamilyAndWireless();
  StartSim();
  ASSERT_TRUE(Check());
  ApplyFault("router-result=3");
  Upgrade();

  ExpectFinal(MODULE_BOOT, "Upgrading result of the router module is fail", kColourRed);
  EXPECT_EQ(RowOf(MODULE_BOOT).text[COL_PERCENT], "100%");
  for (ModuleType m : Modules({1, 2, 7, 8})) {
    EXPECT_EQ(RowOf(m).text[COL_STATUS], "Waiting for the upgrade") << m;
    EXPECT_EQ(RowOf(m).text[COL_PERCENT], "") << m;
    EXPECT_EQ(RowOf(m).colour, kColourBlue) << m;
    EXPECT_EQ(m_Engine->GetModuleOutcome(m), 0) << m;
  }
  EXPECT_EQ(Sim().CountEvents("udp.erase-nvram"), 0u);
  EXPECT_EQ(Sim().CountEvents("diag.nv-backup"), 0u);
  // a wireless module was chosen: force-load mode is left at the end even so
  EXPECT_EQ(Sim().CountEvents("udp.leave-force-load"), 1u);
  EXPECT_FALSE(UpgradeRunSucceeded(*m_Engine));
  EXPECT_EQ(m_Host.Events().back(), "Notify0");
  const Strings log = LogMessages(ReadText(LogPath()));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), std::string(50, '+'));
}

// The router modules are written, the NVRAM is not erased, the wireless modules are skipped: the
// log says so, the skipped rows say so, the front end's sink shows it once the run is over, and the
// run's reason names it.
TEST_F(UpgradeRun, AFailedNvramEraseIsLoggedWarnedAndMarksTheSkippedRows) {
  AddRouterImage(MODULE_BOOT, kBootImage, 100);
  AddRouterImage(MODULE_APP, kAppImage, 100);
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 600}});
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 300}});
  StartSim();
  ASSERT_TRUE(Check());
  ApplyFault("erase-refuse");
  // the warning comes when the end-of-run steps are done: the log is written by then
  struct LogAtWarning : IWarningSink {
    std::string logPath;
    std::vector<std::string> texts;
    std::string lastLogLine;
    int ShowWarning(const std::string& text) override {
      texts.push_back(text);
      const std::vector<std::string> log = LogMessages(ReadText(logPath));
      lastLogLine = log.empty() ? "" : log.back();
      return 1;
    }
  } sink;
  sink.logPath = LogPath();
  ScopedWarningSink install(sink);
  const uint64_t start = TickMs();
  Upgrade();
  const uint64_t took = TickMs() - start;

  // asked once, after both router modules, three times
  EXPECT_EQ(EventKinds({"router.image", "udp.ignored"}),
            (Strings{"router.image", "router.image", "udp.ignored", "udp.ignored", "udp.ignored"}));
  ExpectFinal(MODULE_BOOT, "Download successfully", kColourBlue);
  ExpectFinal(MODULE_APP, "Download successfully", kColourBlue);
  for (ModuleType m : {MODULE_FIRMWARE, MODULE_DASHBOARD}) {
    EXPECT_EQ(RowOf(m).text[COL_STATUS], kSkippedAfterNvramText) << m;
    EXPECT_EQ(RowOf(m).colour, kColourBlack) << m;
    EXPECT_EQ(RowOf(m).text[COL_PERCENT], "") << m;
    EXPECT_EQ(m_Engine->GetModuleOutcome(m), 0) << m;
  }
  EXPECT_EQ(Sim().CountEvents("diag.nv-backup"), 0u);
  const Strings log = Log();
  const int erasing = FindMessage(log, "Erasing the NVRAM of the router module");
  ASSERT_GE(erasing, 0);
  EXPECT_GT(FindMessage(log, kNvramEraseFailedLog, static_cast<size_t>(erasing)), erasing);
  EXPECT_EQ(sink.texts, Strings{std::string(kNvramEraseFailedWarning) + kWirelessSkippedWarning + "\n\n" +
                                AdviceText(ADVICE_NVRAM_ERASE_FAILED)});
  EXPECT_EQ(m_Engine->GetLastRunFailureId(), ADVICE_NVRAM_ERASE_FAILED);
  EXPECT_EQ(sink.lastLogLine, std::string(50, '+'));
  EXPECT_EQ(m_Engine->GetLastRunFailure(), kNvramEraseFailedReason);
  EXPECT_FALSE(UpgradeRunSucceeded(*m_Engine));
  EXPECT_EQ(m_Host.Events().back(), "Notify0");
  // three erase requests of 4 s with 1 s pauses, besides the router modules: no wait beyond them
  EXPECT_LT(took, 60000u) << took;
}

TEST_F(UpgradeRun, TheBootLoaderAloneIsNotFollowedByAnNvramErase) {
  AddRouterImage(MODULE_BOOT, kBootImage, 100);
  StartSim();
  CheckAndUpgrade();
  ExpectFinal(MODULE_BOOT, "Download successfully", kColourBlue);
  EXPECT_EQ(Sim().CountEvents("udp.erase-nvram"), 0u);
  // no wireless module chosen: no force-load request at the end
  EXPECT_EQ(Sim().CountEvents("udp.leave-force-load"), 0u);
}

TEST_F(UpgradeRun, TheDashboardAloneStillLeavesForceLoadModeAtTheEnd) {
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 100}});
  StartSim();
  CheckAndUpgrade();
  ExpectFinal(MODULE_DASHBOARD, "Download successfully", kColourBlue);
  EXPECT_EQ(Sim().CountEvents("udp.force-load"), 0u);
  EXPECT_EQ(Sim().CountEvents("udp.leave-force-load"), 1u);
  // no NV backup and no restore check for the dashboard
  EXPECT_EQ(Sim().CountEvents("diag.nv-backup"), 0u);
  EXPECT_EQ(Sim().CountEvents("diag.restore-status"), 0u);
  ExpectFlashHolds(MODULE_DASHBOARD);
}

TEST_F(UpgradeRun, AModuleAlreadyInItsDownloaderIsForcedWithoutBackupOrSwitch) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 900}});
  qorsim::SimConfig config;
  config.startInDownloader = true;
  StartSim(config);
  CheckAndUpgrade();

  ExpectFinal(MODULE_FIRMWARE, "Download successfully", kColourBlue);
  EXPECT_TRUE(Logged("Have Enter Downloader Mode"));
  EXPECT_FALSE(Logged("Backing up the NV"));
  EXPECT_TRUE(Logged("Sending FWT Force Pkt"));
  EXPECT_EQ(Sim().CountEvents("diag.nv-backup"), 0u);
  EXPECT_EQ(Sim().CountEvents("diag.switch"), 0u);
  EXPECT_EQ(Sim().CountEvents("link.fwt-force"), 1u);
  // the force packet set the force-load flag: left after the download and at the end of the run
  EXPECT_EQ(MessagesStartingWith(Log(), "Leave Forcing Download Mode ...").size(), 2u);
  ExpectFlashHolds(MODULE_FIRMWARE);
}

TEST_F(UpgradeRun, AHandshakeRecoveredThroughForceLoadModeEndsDownloaded) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 900}});
  StartSim();
  ASSERT_TRUE(Check());
  ApplyFault("handshake-fail=5");  // one hand-shake of five tries
  Upgrade();

  ExpectFinal(MODULE_FIRMWARE, "Download successfully", kColourBlue);
  EXPECT_TRUE(Logged("Enter Forcing Download Mode ..."));
  EXPECT_EQ(Sim().CountEvents("udp.force-load"), 1u);
  ExpectFlashHolds(MODULE_FIRMWARE);
}

TEST_F(UpgradeRun, AHandshakeThatNeverRecoversRecords124YetTheDownloadGoesOn) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 900}});
  StartSim();
  ASSERT_TRUE(Check());
  ApplyFault("handshake-fail=10");  // both hand-shakes of five tries
  Upgrade();

  // the module was written and restarted, but the recorded failure stays the row's text
  ExpectFinal(MODULE_FIRMWARE, "Handshake failed", kColourRed);
  EXPECT_EQ(RowOf(MODULE_FIRMWARE).text[COL_PERCENT], "100%");
  EXPECT_EQ(m_Engine->GetModuleOutcome(MODULE_FIRMWARE), 124);
  EXPECT_TRUE(Logged("Have Enter Downloader Mode"));
  EXPECT_EQ(Sim().CountEvents("link.fwt-force"), 1u);
  ExpectFlashHolds(MODULE_FIRMWARE);
  EXPECT_FALSE(UpgradeRunSucceeded(*m_Engine));
}

// The hand-shake that failed belongs to the firmware: its row keeps "Handshake failed", while the
// dashboard, whose own hand-shake succeeded, ends "Download successfully".
TEST_F(UpgradeRun, AFailedHandshakeColoursOnlyItsOwnModule) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 900}});
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 300}});
  StartSim();
  ASSERT_TRUE(Check());
  ApplyFault("handshake-fail=15");  // the firmware's first contact, before and in force-load mode
  Upgrade();

  ExpectFinal(MODULE_FIRMWARE, "Handshake failed", kColourRed);
  EXPECT_EQ(m_Engine->GetModuleOutcome(MODULE_FIRMWARE), 124);
  ExpectFinal(MODULE_DASHBOARD, "Download successfully", kColourBlue);
  EXPECT_EQ(m_Engine->GetModuleOutcome(MODULE_DASHBOARD), 103);
  ExpectFlashHolds(MODULE_FIRMWARE);
  ExpectFlashHolds(MODULE_DASHBOARD);
  // the run as a whole did not succeed: the firmware's row is red
  EXPECT_FALSE(UpgradeRunSucceeded(*m_Engine));
  EXPECT_EQ(m_Engine->GetLastRunFailure(), Name(MODULE_FIRMWARE) + ": Handshake failed");
}

TEST_F(UpgradeRun, TheNvRestoreCheckQueriesTwiceThenRestoresTwice) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 900}});
  StartSim();
  ASSERT_TRUE(Check());
  ApplyFault("nv-restore-fail");
  Upgrade();

  ExpectFinal(MODULE_FIRMWARE, "Failed to check the status of automatically restoring the NV", kColourRed);
  EXPECT_EQ(EventKinds({"diag.restore-status", "diag.nv-restore"}),
            (Strings{"diag.restore-status", "diag.restore-status", "diag.nv-restore", "diag.restore-status",
                     "diag.restore-status", "diag.nv-restore"}));
  const Strings log = Log();
  EXPECT_EQ(MessagesStartingWith(log, "  Try").size(), 4u);
  EXPECT_EQ(MessagesStartingWith(log, "  Try2: Reading restored status ...").size(), 2u);
}

TEST_F(UpgradeRun, TwoRunsInOneProcessResetTheRunStateAndShareTheLastPercent) {
  AddRouterImage(MODULE_APP, kAppImage, 100);
  StartSim();

  // the first run fails, the second must not inherit its failure
  ASSERT_TRUE(Check());
  ApplyFault("router-result=3");
  Upgrade();
  ExpectFinal(MODULE_APP, "Upgrading result of the router module is fail", kColourRed);
  EXPECT_EQ(CRowReporter::LastPercentShown(), 100);

  Sim().SetFaults(qorsim::Faults{});
  const size_t before = m_List.PercentWrites().size();
  CheckAndUpgrade();
  ExpectFinal(MODULE_APP, "Download successfully", kColourBlue);
  EXPECT_TRUE(UpgradeRunSucceeded(*m_Engine));

  // the second run starts from 0 (unlike the 100 that ended the first), never repeats a value and
  // ends at 100 again
  const std::vector<std::pair<int, std::string>> writes = m_List.PercentWrites();
  ASSERT_GT(writes.size(), before + 1);
  EXPECT_EQ(writes[before].second, "0%");
  EXPECT_EQ(writes.back().second, "100%");
  for (size_t i = before + 1; i < writes.size(); ++i) {
    EXPECT_NE(writes[i].second, writes[i - 1].second) << i;
  }
  // the log grows: two runs, two separators
  EXPECT_EQ(MessagesStartingWith(LogMessages(ReadText(LogPath())), std::string(50, '+')).size(), 2u);
}

// A link that cannot be opened at the start is no silent end: 119 stands in red on the row the
// run would have begun with, the log says why, and a router that never answers is given up on
// after the connect's 21 s.
TEST_F(UpgradeRun, ALinkThatCannotBeOpenedShows119OnTheFirstRowAndLogsWhy) {
  struct Case {
    const char* fault;
    const char* why;
    uint64_t atLeast;
    uint64_t below;
  };
  const Case cases[] = {
      {"link-closed", "Connection refused", 0, 5000},
      {"link-unanswered", "The connection attempt timed out: the other side did not answer.", 21000, 27000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ResetModuleTable();
    m_List.DeleteAllItems();
    AddRouterImage(MODULE_APP, kAppImage, 100);
    AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
    StartSim();
    ASSERT_TRUE(Check());
    const uint64_t seq = Sim().LastSeq();
    ApplyFault(c.fault);
    // the emulator's listener has changed before the run connects
    ASSERT_TRUE(Sim().WaitForEvent("link.listen", 10000, seq));
    const std::vector<FakeRow> rowsBefore = m_List.Rows();

    const uint64_t start = TickMs();
    Upgrade();
    const uint64_t took = TickMs() - start;
    std::printf("[clock] run with %s: %llu ms\n", c.fault, static_cast<unsigned long long>(took));

    ExpectFinal(MODULE_APP, "Creating the TCP connection failed", kColourRed);
    EXPECT_EQ(m_Engine->GetModuleOutcome(MODULE_APP), 119);
    // every other row as the Check left it
    const std::vector<FakeRow> rowsAfter = m_List.Rows();
    ASSERT_EQ(rowsAfter.size(), rowsBefore.size());
    for (size_t i = 0; i < rowsAfter.size(); ++i) {
      if (static_cast<int>(i) == m_Check.plan.RowOf(MODULE_APP)) continue;
      EXPECT_EQ(rowsAfter[i].text, rowsBefore[i].text) << i;
      EXPECT_EQ(rowsAfter[i].colour, rowsBefore[i].colour) << i;
    }
    EXPECT_EQ(m_Engine->GetStatusId(), 119);
    EXPECT_EQ(m_Engine->GetLastRunFailure(), "Creating the TCP connection failed");
    const Strings log = LogMessages(ReadText(LogPath()));
    EXPECT_GE(FindMessage(log, "Creating the TCP connection to 127.0.0.1:" +
                                   std::to_string(Sim().LinkPort()) + " failed: " + c.why),
              0);
    EXPECT_GE(FindMessage(log, RowOf(MODULE_APP).text[COL_STATUS]), 0) << "the row's text is logged";
    EXPECT_EQ(log.back(), std::string(50, '+'));
    EXPECT_EQ(m_Host.Events().back(), "Notify0");
    EXPECT_FALSE(UpgradeRunSucceeded(*m_Engine));
    EXPECT_FALSE(m_Engine->IsUpgrading());
    EXPECT_GE(took, c.atLeast);
    EXPECT_LT(took, c.below);
    EXPECT_EQ(Sim().CountEvents("link.rut-begin"), 0u);
  }
}

TEST_F(UpgradeRun, TheBusyMarkerIsSetWhileTheRunWorks) {
  AddRouterImage(MODULE_BOOT, kBootImage, 100);
  StartSim();
  ASSERT_TRUE(Check());
  std::atomic<bool> seenBusy{false};
  std::thread worker([&] { Upgrade(); });
  // the router takes 3000 clock ms to write the image: the marker must show meanwhile
  ASSERT_TRUE(Sim().WaitForEvent("link.rut-begin", 60000));
  seenBusy = m_Engine->IsUpgrading();
  worker.join();
  EXPECT_TRUE(seenBusy.load());
  EXPECT_FALSE(m_Engine->IsUpgrading());
}

// The same procedures on the real clock: every pause and time-out as in the field.
class UpgradeRunSlow : public UpgradeRun {
 protected:
  UpgradeRunSlow() : UpgradeRun(1) {}
};

TEST_F(UpgradeRunSlow, BootLoaderAndDashboardAtRealSpeed) {
  AddRouterImage(MODULE_BOOT, kBootImage, 7300 * 2 + 5);
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 4096 + 10}});
  StartSim();
  const uint64_t start = TickMs();
  CheckAndUpgrade();
  ExpectFinal(MODULE_BOOT, "Download successfully", kColourBlue);
  ExpectFinal(MODULE_DASHBOARD, "Download successfully", kColourBlue);
  EXPECT_TRUE(Sim().RouterImage(MODULE_BOOT) == m_Sent.router[MODULE_BOOT]);
  ExpectFlashHolds(MODULE_DASHBOARD);
  // two restart waits of at least 10 s each, the begin packets' 2.5 s pauses, 1 s between modules
  EXPECT_GE(TickMs() - start, 2 * 10000u + 2 * 2500u + 1000u);
}

}  // namespace
}  // namespace upgrade_test
