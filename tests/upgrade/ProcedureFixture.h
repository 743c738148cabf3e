#pragma once

// A Check and Upgrade bench: the emulator on loopback at free ports, a scaled clock, an image folder,
// the recording window fakes and an engine whose log lies in a private folder.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "UpgradeFixtures.h"
#include "image/Catalogue.h"
#include "image/ImageSet.h"
#include "platform/Clock.h"
#include "protocol/CTelnetClient.h"
#include "upgrade/CUpgradeEngine.h"
#include "upgrade/CheckProcedure.h"
#include "upgrade/UpgradeRun.h"

namespace upgrade_test {

// Versions the emulator's defaults accept (same first two numbers and the same third number).
inline constexpr const char* kBootImage = "1.0.2.9";
inline constexpr const char* kAppImage = "2.1.10.7";
inline constexpr const char* kCustomImage = "2.1.10.8";
inline constexpr const char* kCommonHtmlImage = "3.0.4.2";
inline constexpr const char* kSpecialHtmlImage = "3.0.4.3";
inline constexpr const char* kApp2Image = "2.1.10.9";
inline constexpr const char* kConfigImage = "3.0.4.5";
inline constexpr const char* kFirmwareImage = "11.1.20.9";
inline constexpr const char* kDashboardImage = "4.3.0.0";

// What the devices should have received: router unit data per module, wireless units per module.
struct SentImages {
  std::vector<uint8_t> router[7];
  std::vector<WirelessUnitData> wireless[2];
};

class ProcedureTest : public ::testing::Test {
 protected:
  // One real millisecond is this many clock milliseconds. Telnet replies get 500 clock ms, which
  // leaves the emulator 25 real ms at this scale.
  static constexpr double kScale = 20;

  explicit ProcedureTest(double scale = DefaultScale()) : m_Clock(scale) {}

  // kScale; on Windows a lower one when QOR_TEST_CLOCK_SCALE names it: under Wine each socket call
  // takes longer, and 25 real ms are too few for the emulator's Telnet replies.
  static double DefaultScale() {
#ifdef _WIN32
    if (const char* text = std::getenv("QOR_TEST_CLOCK_SCALE")) {
      const double scale = std::atof(text);
      if (scale >= 1 && scale < kScale) return scale;
    }
#endif
    return kScale;
  }

  void SetUp() override {
    ResetModuleTable();
    ASSERT_FALSE(m_Images.Path().empty());
    ASSERT_FALSE(m_State.Path().empty());
    m_Engine = std::make_unique<CUpgradeEngine>(LogPath());
    m_Engine->Reporter().SetList(&m_List);
    // the PC that runs the tests is never asked to stay awake; SleepLockTest gives its runs a
    // stand-in login manager on a private bus
    m_Engine->SetSleepInhibitor(nullptr);
  }

  void TearDown() override {
    if (HasFailure()) {
      DumpDiagnostics();
    }
    m_Sim.reset();
    m_Engine.reset();
    ResetModuleTable();
  }

  // On failure: the tail of the log and of the emulator's events, to see what went wrong.
  void DumpDiagnostics() {
    const std::vector<std::string> log = Log();
    std::fprintf(stderr, "--- log (last 60 entries)\n");
    for (size_t i = log.size() > 60 ? log.size() - 60 : 0; i < log.size(); ++i) {
      std::fprintf(stderr, "  %s\n", log[i].c_str());
    }
    if (m_Sim && m_Sim->Started()) {
      const std::vector<qorsim::SimEvent> events = Sim().Events();
      std::fprintf(stderr, "--- emulator events (last 60)\n");
      for (size_t i = events.size() > 60 ? events.size() - 60 : 0; i < events.size(); ++i) {
        std::fprintf(stderr, "  %llu %s %s\n", static_cast<unsigned long long>(events[i].tickMs),
                     events[i].kind.c_str(), events[i].detail.c_str());
      }
    }
  }

  std::string LogPath() const { return m_State.File("QorUpgradeLog.txt"); }

  void StartSim(qorsim::SimConfig config = {}) {
    m_Sim = std::make_unique<SimHarness>(std::move(config));
    ASSERT_TRUE(m_Sim->Started()) << m_Sim->Error();
    m_Engine->SetEndpoints(m_Sim->GetEndpoints());
  }
  qorsim::RouterSim& Sim() { return m_Sim->Sim(); }

  void AddRouterImage(ModuleType m, const std::string& version, size_t payload = 20000) {
    m_Sent.router[m] =
        WriteRouterImage(m_Images.Path(), m, version, payload, 100u + static_cast<uint32_t>(m));
    ASSERT_FALSE(m_Sent.router[m].empty());
  }
  void AddWirelessImage(ModuleType m, const std::string& version,
                        const std::vector<std::pair<uint32_t, size_t>>& units) {
    m_Sent.wireless[m - MODULE_FIRMWARE] =
        WriteWirelessImage(m_Images.Path(), m, version, units, 200u + static_cast<uint32_t>(m));
    ASSERT_FALSE(m_Sent.wireless[m - MODULE_FIRMWARE].empty());
  }
  // Images of the first family and of both wireless parts, versions the emulator accepts.
  void AddFirstFamilyAndWireless() {
    AddRouterImage(MODULE_BOOT, kBootImage, 9000);
    AddRouterImage(MODULE_APP, kAppImage, 7300 * 3 + 1);
    AddRouterImage(MODULE_CUSTOMIZATION, kCustomImage, 5000);
    AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x00100000, 4096 * 2 + 100}, {0x00200000, 5000}});
    AddWirelessImage(MODULE_DASHBOARD, kDashboardImage, {{0x00800000, 6000}});
  }

  // Empties the image slots, as a front end starts.
  void ResetModuleTable() { m_ImageSet.Clear(); }

  CheckContext Context() {
    return CheckContext{m_Host, m_Telnet, *m_Engine, m_ImageSet, false, m_Images.Path(), &m_Stop};
  }
  // A Check; true when it offers the Upgrade. What it found is kept in m_Check.
  bool Check() {
    m_Check = RunCheck(Context());
    return m_Check.offered;
  }
  void CheckThread() { m_Check = CheckThreadProc(Context()); }
  // The Upgrade of what the last Check found.
  void Upgrade() { RunUpgrade(*m_Engine, m_Check, m_Host); }

  // A Check that must offer the Upgrade, then one Upgrade run.
  void CheckAndUpgrade() {
    ASSERT_TRUE(Check());
    Upgrade();
  }
  // The row of module m as the last Check laid the rows out.
  FakeRow RowOf(ModuleType m) { return m_List.Row(m_Check.plan.RowOf(m)); }
  // A final status: the text, then the elapsed time " (MM:SS)", in the colour.
  void ExpectFinal(ModuleType m, const std::string& text, uint32_t colour) {
    SCOPED_TRACE("module " + std::to_string(m));
    const FakeRow row = RowOf(m);
    const std::string& shown = row.text[COL_STATUS];
    EXPECT_EQ(shown.substr(0, text.size() + 2), text + " (") << shown;
    EXPECT_EQ(shown.size(), text.size() + 8) << shown;
    EXPECT_EQ(shown.back(), ')') << shown;
    EXPECT_EQ(row.colour, colour);
  }
  void ApplyFault(const std::string& fault) {
    std::string error;
    ASSERT_TRUE(Sim().ApplyFault(fault, &error)) << fault << ": " << error;
  }

  // The log as written so far, flushed or not.
  std::vector<std::string> Log() {
    return LogMessages(ReadText(LogPath()) + m_Engine->GetLog().GetPending());
  }
  bool Logged(const std::string& message) {
    const std::vector<std::string> messages = Log();
    return FindMessage(messages, message) >= 0;
  }

  std::vector<std::string> StatusColumn() {
    std::vector<std::string> texts;
    for (const FakeRow& row : m_List.Rows()) {
      texts.push_back(row.text[COL_STATUS]);
    }
    return texts;
  }
  std::vector<std::string> NameColumn() {
    std::vector<std::string> texts;
    for (const FakeRow& row : m_List.Rows()) {
      texts.push_back(row.text[COL_TYPE]);
    }
    return texts;
  }
  static std::string Name(int m) { return ModuleDisplayName(ModuleFromNumber(m)); }

  // Installed first, removed last: the emulator and the engine run on it.
  ScaledClock m_Clock;
  ScopedClock m_UseClock{m_Clock};
  RecordingSink m_Warnings;
  ScopedWarningSink m_Sink{m_Warnings};
  TempDir m_Images;
  TempDir m_State;
  FakeModuleList m_List;
  FakeDialogHost m_Host;
  CTelnetClient m_Telnet;
  std::atomic<bool> m_Stop{false};
  CImageSet m_ImageSet;
  std::unique_ptr<CUpgradeEngine> m_Engine;
  std::unique_ptr<SimHarness> m_Sim;
  CheckResult m_Check;
  SentImages m_Sent;
};

}  // namespace upgrade_test
