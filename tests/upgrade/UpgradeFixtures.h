#pragma once

// Recording fakes of the window, image sets and an emulator harness for the procedures' tests.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/ImageSet.h"
#include "image/ModuleType.h"
#include "platform/Warnings.h"
#include "sim/RouterSim.h"
#include "support/FreePort.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"
#include "upgrade/Endpoints.h"
#include "upgrade/WindowInterfaces.h"

namespace upgrade_test {

// One row of the fake list: the five column texts and the colour.
struct FakeRow {
  std::array<std::string, 5> text;
  uint32_t colour = 0;
  std::string toolTip;
};

// Pixel widths are 7 per character, so tests can predict them.
class FakeModuleList : public IModuleList {
 public:
  static constexpr int kCharWidth = 7;

  void DeleteAllItems() override;
  int InsertItem(int index, const std::string& text) override;
  bool DeleteItem(int index) override;
  int GetItemCount() override;
  bool SetItemText(int item, int column, const std::string& text) override;
  bool SetItemData(int item, uint32_t colour) override;
  int GetStringWidth(const std::string& text) override;
  int GetColumnWidth(int column) override;
  bool SetColumnWidth(int column, int width) override;
  void SetRedraw(bool redraw) override;
  uint32_t GrayTextColour() override { return kGray; }
  void SetItemToolTip(int item, const std::string& text) override;

  static constexpr uint32_t kGray = 0x00808080;

  std::vector<FakeRow> Rows() const;
  FakeRow Row(int item) const;
  // Every text written to column 3, in order, with the item it went to.
  std::vector<std::pair<int, std::string>> PercentWrites() const;
  // Every status text written (column 4), in order, with the item.
  std::vector<std::pair<int, std::string>> StatusWrites() const;
  // The calls in order, as short texts ("SetRedraw(0)", "SetColumnWidth(4,140)", ...).
  std::vector<std::string> Calls() const;
  void SetWidth(int column, int width);
  // Column widths -1 and -2 resolve from the contents (and the heading for -2).
  static const std::array<std::string, 5> kHeadings;

 private:
  int ContentWidth(int column) const;  // lock held

  mutable std::mutex m_Lock;
  std::vector<FakeRow> m_Rows;
  std::array<int, 5> m_Widths{{50, 50, 50, 50, 50}};
  std::vector<std::pair<int, std::string>> m_Percent;
  std::vector<std::pair<int, std::string>> m_Status;
  std::vector<std::string> m_Calls;
};

class FakeDialogHost : public IDialogHost {
 public:
  void EnableCheckButton(bool enable) override { Record(enable ? "Check+" : "Check-"); }
  void EnableUpgradeButton(bool enable) override { Record(enable ? "Upgrade+" : "Upgrade-"); }
  void PostNotify(int code) override { Record("Notify" + std::to_string(code)); }
  void BringToForeground() override { Record("Foreground"); }
  void UpdateWindow() override { Record("Update"); }
  void LayoutControls() override { Record("Layout"); }
  bool IsLoopTest() override { return loopTest; }
  void StartLoopTimer(int argument) override { Record("LoopTimer" + std::to_string(argument)); }
  // kept apart from the events, whose order the tests compare whole
  void ShowCheckStep(const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Steps.push_back(text);
  }

  std::vector<std::string> Events() const;
  std::vector<std::string> Steps() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Steps;
  }
  bool loopTest = false;

 private:
  void Record(const std::string& what);
  mutable std::mutex m_Lock;
  std::vector<std::string> m_Events;
  std::vector<std::string> m_Steps;
};

// The warning sink, private folders and free ports are the shared ones of tests/support.

// The unlock code the emulator expects by default.
std::array<uint8_t, 8> SimUnlockCode();

// Builds images into a folder; each call returns the data of every unit, in order, as the device
// should receive it.
std::vector<uint8_t> WriteRouterImage(const std::string& folder, ModuleType module,
                                      const std::string& version, size_t payloadSize, uint32_t seed);
struct WirelessUnitData {
  uint32_t loadAddress = 0;
  std::vector<uint8_t> data;
};
std::vector<WirelessUnitData> WriteWirelessImage(const std::string& folder, ModuleType kind,
                                                 const std::string& version,
                                                 const std::vector<std::pair<uint32_t, size_t>>& units,
                                                 uint32_t seed);

// The modules numbered in a list, for the tests' tables.
std::vector<ModuleType> Modules(std::initializer_list<int> numbers);

// Writes an image of each module (version "1.0.0.0") into the folder and scans it into images, as
// a Check would. false when an image could not be built or the scan refused the folder.
bool FillImageSet(const std::string& folder, CImageSet& images, const std::vector<ModuleType>& modules);

// The emulator on 127.0.0.1 at free ports. Install the clock before constructing it.
class SimHarness {
 public:
  explicit SimHarness(qorsim::SimConfig config = {});
  bool Started() const { return m_Started; }
  const std::string& Error() const { return m_Error; }
  qorsim::RouterSim& Sim() { return *m_Sim; }
  Endpoints GetEndpoints() const;
  qorsim::SimConfig Config() const { return m_Config; }

 private:
  qorsim::SimConfig m_Config;
  std::unique_ptr<qorsim::RouterSim> m_Sim;
  bool m_Started = false;
  std::string m_Error;
};

// A loopback TCP port on which nothing listens.
inline uint16_t UnusedTcpPort() { return FreeLoopbackPort(); }

// Text of a file ("" when it cannot be read).
std::string ReadText(const std::string& path);
// Lines of the log text without their time stamps ("%Y-%m-%d %H:%M:%S ").
std::vector<std::string> LogMessages(const std::string& logText);
// Index of the first message equal to text at or after from, or -1.
int FindMessage(const std::vector<std::string>& messages, const std::string& text, size_t from = 0);
// Messages starting with prefix.
std::vector<std::string> MessagesStartingWith(const std::vector<std::string>& messages,
                                              const std::string& prefix);

}  // namespace upgrade_test
