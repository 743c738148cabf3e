// Every failure status of a module, each driven by an emulator fault: the row's final text and
// colour, its percentage, the log lines, and the rows after it left as the Check left them.

#include <gtest/gtest.h>

#include <ostream>
#include <thread>

#include "ProcedureFixture.h"
#include "platform/StringTable.h"

namespace upgrade_test {
namespace {

enum class Images { RouterAppAndFirmware, BootOnly, FirmwareAndDashboard, FirmwareOnly, DashboardOnly };

// Not a fault of the emulator: the emulator is stopped, as if the router were switched off.
constexpr const char* kStopRouter = "(stop)";

struct FailureCase {
  const char* name;
  Images images;
  // Applied after the Check; when trigger is not empty, only once the emulator recorded those
  // events in that order (so the fault hits a later step, not the first one).
  const char* fault;
  std::vector<std::string> trigger;
  ModuleType failing;
  int statusId;
  std::vector<std::string> logged;       // exact log messages
  std::vector<std::string> logPrefixes;  // messages starting so
  const char* percent;                   // the failing row's percent column, nullptr: not checked
  std::vector<ModuleType> untouched;     // later rows that keep "Waiting for the upgrade"
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailureStatus : public ProcedureTest, public ::testing::WithParamInterface<FailureCase> {
 protected:
  void AddImages(Images images) {
    switch (images) {
      case Images::RouterAppAndFirmware:
        AddRouterImage(MODULE_APP, kAppImage, 7300 * 3 + 1);
        AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 600}});
        break;
      case Images::BootOnly:
        AddRouterImage(MODULE_BOOT, kBootImage, 100);
        break;
      case Images::FirmwareAndDashboard:
        AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 600}});
        AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 300}});
        break;
      case Images::FirmwareOnly:
        AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 600}});
        break;
      case Images::DashboardOnly:
        AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 300}});
        break;
    }
  }

  // Waits for the trigger events recorded after event number after, then applies the fault;
  // bounded by the clock. after is taken before the run starts, so an event the run records before
  // this thread gets going is not missed.
  void ApplyAfter(const std::vector<std::string>& trigger, const std::string& fault, uint64_t after) {
    for (const std::string& kind : trigger) {
      qorsim::SimEvent found;
      if (!Sim().WaitForEvent(kind, 600000, after, &found)) {
        return;  // the run ended earlier; the expectations below tell
      }
      after = found.seq;
    }
    if (fault == kStopRouter) {
      Sim().Stop();
      return;
    }
    std::string error;
    Sim().ApplyFault(fault, &error);
  }
};

TEST_P(FailureStatus, ShowsItsTextInRedAndEndsTheRun) {
  const FailureCase& c = GetParam();
  AddImages(c.images);
  StartSim();
  ASSERT_TRUE(Check());

  // The last percentage shown is shared by every item and every run of the process, so a test that
  // ran before this one may have left 0 there, and this run's first 0 would not be written. Move it
  // off 0 on no item, as an earlier run ending elsewhere would.
  m_Engine->Reporter().SetCurrentRow(CRowReporter::kNoRow);
  m_Engine->Reporter().ShowPercent(-1);

  std::thread trigger;
  if (c.trigger.empty()) {
    ApplyFault(c.fault);
  } else {
    uint64_t after = Sim().LastSeq();
    trigger = std::thread([this, &c, after] { ApplyAfter(c.trigger, c.fault, after); });
  }
  Upgrade();
  if (trigger.joinable()) {
    trigger.join();
  }

  ExpectFinal(c.failing, LoadStringById(c.statusId), kColourRed);
  EXPECT_EQ(m_Engine->GetModuleOutcome(c.failing), c.statusId);
  if (c.percent != nullptr) {
    EXPECT_EQ(RowOf(c.failing).text[COL_PERCENT], c.percent);
  }
  for (ModuleType later : c.untouched) {
    EXPECT_EQ(RowOf(later).text[COL_STATUS], "Waiting for the upgrade") << later;
    EXPECT_EQ(RowOf(later).colour, kColourBlue) << later;
    EXPECT_EQ(m_Engine->GetModuleOutcome(later), 0) << later;
  }

  const std::vector<std::string> log = LogMessages(ReadText(LogPath()));
  for (const std::string& message : c.logged) {
    EXPECT_GE(FindMessage(log, message), 0) << "missing log line: " << message;
  }
  for (const std::string& prefix : c.logPrefixes) {
    EXPECT_FALSE(MessagesStartingWith(log, prefix).empty()) << "missing log line: " << prefix << "...";
  }
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), std::string(50, '+'));
  EXPECT_FALSE(UpgradeRunSucceeded(*m_Engine));
  EXPECT_EQ(m_Host.Events().back(), "Notify0");
  EXPECT_FALSE(m_Engine->GetRouterLink().IsOpen());
}

const FailureCase kFailureCases[] = {
    // the router goes away once the run's link is up: nothing answers, the link cannot be made again
    {"BeginPacket120",
     Images::FirmwareAndDashboard,
     kStopRouter,
     {"link.connect"},
     MODULE_FIRMWARE,
     120,
     {"Have Enter Downloader Mode", "Sending FWT Force Pkt"},
     {},
     nullptr,
     {MODULE_DASHBOARD}},
    // the router closes every link connection: the begin packet still goes out, the data cannot
    {"RouterData121",
     Images::RouterAppAndFirmware,
     "link-drop",
     {},
     MODULE_APP,
     121,
     {"Sending RUT Begin Pkt"},
     {"Router Block1 Transfer Fail: "},
     "0%",
     {MODULE_FIRMWARE}},
    {"RouterResult122",
     Images::RouterAppAndFirmware,
     "router-result=3",
     {},
     MODULE_APP,
     122,
     {},
     {"TCP_GetRouterResult's ElapsedTime = "},
     "100%",
     {MODULE_FIRMWARE}},
    {"RouterResultTimeout123",
     Images::BootOnly,
     "router-no-result",
     {},
     MODULE_BOOT,
     123,
     {"Waiting for the upgrade of the router module"},
     {},
     nullptr,
     {}},
    {"Handshake124",
     Images::FirmwareOnly,
     "handshake-fail=10",
     {},
     MODULE_FIRMWARE,
     124,
     {"Enter Forcing Download Mode ...", "Have Enter Downloader Mode"},
     {},
     "100%",
     {}},
    {"NvBackup125",
     Images::FirmwareAndDashboard,
     "nv-backup-reason=1",
     {},
     MODULE_FIRMWARE,
     125,
     {"Backing up the NV", "Backup NV: 单板状态不正确"},
     {},
     nullptr,
     {MODULE_DASHBOARD}},
    {"FirmwareVersion126",
     Images::FirmwareAndDashboard,
     "board-version-fail",
     {},
     MODULE_FIRMWARE,
     126,
     {"DIAG_QueryBoardVersion: Write or Read Fail"},
     {},
     nullptr,
     {MODULE_DASHBOARD}},
    {"DashboardVersion126",
     Images::DashboardOnly,
     "iso-version-fail",
     {},
     MODULE_DASHBOARD,
     126,
     {"DIAG_QueryISOVersion: Write or Read Fail"},
     {},
     "100%",
     {}},
    {"Switch127",
     Images::FirmwareAndDashboard,
     "switch-refuse",
     {},
     MODULE_FIRMWARE,
     127,
     {"Switching to the downloading mode", "DIAG_SwitchToDownloader: Write or Read Fail"},
     {},
     nullptr,
     {MODULE_DASHBOARD}},
    {"Unlock128",
     Images::FirmwareAndDashboard,
     "unlock-refuse",
     {},
     MODULE_FIRMWARE,
     128,
     {"Unlocking the wireless module", "DIAG_Unlock: Write or Read Fail", "Enter Forcing Download Mode ..."},
     {},
     nullptr,
     {MODULE_DASHBOARD}},
    {"Block129",
     Images::FirmwareAndDashboard,
     "write-nak=5",
     {},
     MODULE_FIRMWARE,
     129,
     {"Unit1 Block1: Download Fail", "DIAG_Write#5> Exec Fail"},
     {},
     nullptr,
     {MODULE_DASHBOARD}},
    {"Reset130",
     Images::FirmwareAndDashboard,
     "reset-refuse",
     {},
     MODULE_FIRMWARE,
     130,
     {"Restarting the wireless module", "DIAG_Reset: Write or Read Fail"},
     {},
     "100%",
     {MODULE_DASHBOARD}},
    {"RestartFirstCheck131",
     Images::FirmwareAndDashboard,
     "never-back",
     {},
     MODULE_FIRMWARE,
     131,
     {"Waiting: First Check Fail"},
     {},
     "0%",
     {MODULE_DASHBOARD}},
    {"RestartSecondCheck131",
     Images::FirmwareOnly,
     "no-presence",
     {"diag.switch", "udp.presence"},
     MODULE_FIRMWARE,
     131,
     {"Waiting: Second Check Fail"},
     {},
     "50%",
     {}},
    {"RestartHandshake131",
     Images::FirmwareOnly,
     "handshake-fail=15",
     {"diag.switch"},
     MODULE_FIRMWARE,
     131,
     {"Waiting: Handshake failed"},
     {},
     "70%",
     {}},
    {"StillInDownloader132",
     Images::FirmwareAndDashboard,
     "back-in-downloader",
     {},
     MODULE_FIRMWARE,
     132,
     {"Still in downloader after reboot"},
     {},
     "100%",
     {MODULE_DASHBOARD}},
    {"NvRestore132",
     Images::FirmwareAndDashboard,
     "nv-restore-fail",
     {},
     MODULE_FIRMWARE,
     132,
     {"Check the status of automatically restoring the NV", "  Try2: Reading restored status ..."},
     {},
     "100%",
     {MODULE_DASHBOARD}},
};

std::string CaseName(const ::testing::TestParamInfo<FailureCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(EveryStatus, FailureStatus, ::testing::ValuesIn(kFailureCases), CaseName);

}  // namespace
}  // namespace upgrade_test
