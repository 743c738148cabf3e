// What the Check verified is what the Upgrade sends: a file changed between the two stops the run
// before anything reaches the router, a file changed during the run changes nothing that is sent,
// and the log holds every finished step in the file, not only in memory.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "ProcedureFixture.h"
#include "tools/ImageBuilder.h"

namespace upgrade_test {
namespace {

struct FileChange {
  const char* name;
  ModuleType module;
  std::function<void(const std::string& path)> apply;
};

void OverwriteEightBytes(const std::string& path) {
  // in place, the length kept: in and out, never truncated
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(file.is_open());
  const char junk[8] = {'\xA5', '\xA5', '\xA5', '\xA5', '\xA5', '\xA5', '\xA5', '\xA5'};
  file.seekp(400);
  file.write(junk, sizeof junk);
  file.close();
  ASSERT_FALSE(file.fail());
}

bool Truncate(const std::string& path, uintmax_t size) {
  std::error_code error;
  std::filesystem::resize_file(path, size, error);
  return !error;
}

std::string Name(const ::testing::TestParamInfo<FileChange>& info) { return info.param.name; }

class ImageChangedSinceTheCheck : public ProcedureTest, public ::testing::WithParamInterface<FileChange> {};

TEST_P(ImageChangedSinceTheCheck, NothingIsSentAndTheUserIsToldToCheckAgain) {
  const FileChange& change = GetParam();
  AddFirstFamilyAndWireless();
  StartSim();
  ASSERT_TRUE(Check());
  const std::vector<std::string> rowsAfterCheck = StatusColumn();
  const std::string path = m_ImageSet[change.module].GetFilePath();
  ASSERT_FALSE(path.empty());
  change.apply(path);

  Upgrade();

  EXPECT_EQ(m_Warnings.Texts(), std::vector<std::string>{path + kImageChangedText});
  EXPECT_TRUE(m_Engine->GetLastRunRefused());
  EXPECT_FALSE(UpgradeRunSucceeded(*m_Engine));
  // the router never heard of an upgrade: the link was not even opened
  EXPECT_EQ(Sim().CountEvents("link.connect"), 1u) << "only the Check's connection";
  for (const char* kind : {"link.rut-begin", "link.fwt-begin", "router.image", "dl.write", "diag.switch"}) {
    EXPECT_EQ(Sim().CountEvents(kind), 0u) << kind;
  }
  EXPECT_TRUE(Sim().RouterImages().empty());
  // the rows stay as the Check left them; the window gets its "done" and only Check comes back
  EXPECT_EQ(StatusColumn(), rowsAfterCheck);
  EXPECT_EQ(m_Host.Events().back(), "Notify0");
  EXPECT_FALSE(m_Engine->IsUpgrading());
  for (ModuleType m : kAllModules) EXPECT_EQ(m_Engine->GetModuleOutcome(m), 0) << m;
  // the log file (not only the memory) ends with the reason and the separator
  EXPECT_TRUE(m_Engine->GetLog().GetPending().empty());
  const std::vector<std::string> log = LogMessages(ReadText(LogPath()));
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], path + kImageChangedText);
  EXPECT_EQ(log.back(), std::string(50, '+'));
}

INSTANTIATE_TEST_SUITE_P(
    EveryWayAFileChanges, ImageChangedSinceTheCheck,
    ::testing::Values(FileChange{"AppReplacedByAnotherImage", MODULE_APP,
                                 [](const std::string& path) {
                                   RouterImageSpec other;
                                   other.module = MODULE_APP;
                                   other.version = kAppImage;
                                   other.payload = GeneratePayload(7300 * 3 + 1, 999);
                                   ASSERT_TRUE(WriteImageFile(path, BuildRouterImage(other)));
                                 }},
                      FileChange{"FirmwareOverwrittenInPlace", MODULE_FIRMWARE, OverwriteEightBytes},
                      FileChange{"DashboardTruncated", MODULE_DASHBOARD,
                                 [](const std::string& path) { ASSERT_TRUE(Truncate(path, 1000)); }},
                      FileChange{"BootRemoved", MODULE_BOOT,
                                 [](const std::string& path) { ASSERT_EQ(std::remove(path.c_str()), 0); }}),
    Name);

class VerifiedBytes : public ProcedureTest {};

// Once the run has started, whatever happens to the files, the devices get the bytes the Check
// verified, byte for byte.
TEST_F(VerifiedBytes, AreWhatTheDevicesGetEvenWhenTheFilesChangeDuringTheRun) {
  AddFirstFamilyAndWireless();
  StartSim();
  ASSERT_TRUE(Check());
  std::vector<std::string> paths;
  for (ModuleType m : Modules({0, 1, 2, 7, 8})) paths.push_back(m_ImageSet[m].GetFilePath());

  std::thread vandal([this, &paths] {
    if (!Sim().WaitForEvent("link.rut-begin", 600000)) return;
    for (const std::string& path : paths) {
      if (!Truncate(path, 0)) ADD_FAILURE() << path;
    }
  });
  Upgrade();
  vandal.join();

  EXPECT_FALSE(m_Engine->GetLastRunRefused());
  EXPECT_TRUE(UpgradeRunSucceeded(*m_Engine));
  for (ModuleType m : Modules({0, 1, 2})) {
    EXPECT_TRUE(Sim().RouterImage(m) == m_Sent.router[m]) << m;
  }
  for (ModuleType m : {MODULE_FIRMWARE, MODULE_DASHBOARD}) {
    for (const WirelessUnitData& unit : m_Sent.wireless[m - MODULE_FIRMWARE]) {
      std::vector<uint8_t> flash;
      ASSERT_TRUE(Sim().ReadFlash(unit.loadAddress, unit.data.size(), &flash)) << unit.loadAddress;
      EXPECT_TRUE(flash == unit.data) << "unit at " << unit.loadAddress;
    }
  }
  EXPECT_TRUE(m_Warnings.Texts().empty());
}

// The Check's entries reach the file when the Check ends; versions the module answers with terminal
// controls in them are logged with the controls made visible.
TEST_F(VerifiedBytes, TheCheckIsInTheLogFileAndDeviceTextCannotDriveATerminal) {
  AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 5000}});
  AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 6000}});
  qorsim::SimConfig config;
  config.firmwareVersion = "11.1.20.\x1b]0;owned\x07";
  config.dashboardVersion = "4.2\x1b[2J\x1b[32m";
  StartSim(config);
  CheckThread();
  EXPECT_TRUE(m_Engine->GetLog().GetPending().empty());
  const std::string file = ReadText(LogPath());
  const std::vector<std::string> log = LogMessages(file);
  EXPECT_GE(FindMessage(log, "Firmware Version: 11.1.20.\\x1b]0;owned\\x07"), 0) << file;
  EXPECT_GE(FindMessage(log, "Dashboard Version: 4.2\\x1b[2J\\x1b[32m"), 0) << file;
  EXPECT_EQ(file.find('\x1b'), std::string::npos);
  EXPECT_EQ(file.find('\x07'), std::string::npos);
  // the row keeps the module's own text; only what is printed or logged is made visible
  EXPECT_EQ(RowOf(MODULE_FIRMWARE).text[COL_CURRENT], config.firmwareVersion);
}

}  // namespace
}  // namespace upgrade_test
