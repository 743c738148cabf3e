#include "UpgradeFixtures.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "image/Catalogue.h"
#include "log/CDownloadLog.h"
#include "tools/ImageBuilder.h"

namespace upgrade_test {

const std::array<std::string, 5> FakeModuleList::kHeadings = {"Type", "Current Version", "Upgrade Version",
                                                              "%", "Status"};

void FakeModuleList::DeleteAllItems() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Rows.clear();
  m_Calls.push_back("DeleteAllItems");
}

void FakeModuleList::SetItemToolTip(int item, const std::string& text) {
  std::lock_guard<std::mutex> lock(m_Lock);
  if (item >= 0 && static_cast<size_t>(item) < m_Rows.size())
    m_Rows[static_cast<size_t>(item)].toolTip = text;
}

int FakeModuleList::InsertItem(int index, const std::string& text) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Calls.push_back("InsertItem(" + std::to_string(index) + ")");
  if (index < 0) {
    return -1;
  }
  const size_t at = std::min(static_cast<size_t>(index), m_Rows.size());
  FakeRow row;
  row.text[0] = text;
  m_Rows.insert(m_Rows.begin() + static_cast<std::ptrdiff_t>(at), row);
  return static_cast<int>(at);
}

bool FakeModuleList::DeleteItem(int index) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Calls.push_back("DeleteItem(" + std::to_string(index) + ")");
  if (index < 0 || static_cast<size_t>(index) >= m_Rows.size()) {
    return false;
  }
  m_Rows.erase(m_Rows.begin() + index);
  return true;
}

int FakeModuleList::GetItemCount() {
  std::lock_guard<std::mutex> lock(m_Lock);
  return static_cast<int>(m_Rows.size());
}

bool FakeModuleList::SetItemText(int item, int column, const std::string& text) {
  std::lock_guard<std::mutex> lock(m_Lock);
  if (column == COL_PERCENT) {
    m_Percent.emplace_back(item, text);
  }
  if (column == COL_STATUS) {
    m_Status.emplace_back(item, text);
  }
  if (item < 0 || static_cast<size_t>(item) >= m_Rows.size() || column < 0 || column > 4) {
    return false;
  }
  m_Rows[static_cast<size_t>(item)].text[static_cast<size_t>(column)] = text;
  return true;
}

bool FakeModuleList::SetItemData(int item, uint32_t colour) {
  std::lock_guard<std::mutex> lock(m_Lock);
  if (item < 0 || static_cast<size_t>(item) >= m_Rows.size()) {
    return false;
  }
  m_Rows[static_cast<size_t>(item)].colour = colour;
  return true;
}

int FakeModuleList::GetStringWidth(const std::string& text) {
  return static_cast<int>(text.size()) * kCharWidth;
}

int FakeModuleList::GetColumnWidth(int column) {
  std::lock_guard<std::mutex> lock(m_Lock);
  return column >= 0 && column < 5 ? m_Widths[static_cast<size_t>(column)] : 0;
}

int FakeModuleList::ContentWidth(int column) const {
  int widest = 0;
  for (const FakeRow& row : m_Rows) {
    widest = std::max(widest, static_cast<int>(row.text[static_cast<size_t>(column)].size()) * kCharWidth);
  }
  return widest + 12;
}

bool FakeModuleList::SetColumnWidth(int column, int width) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Calls.push_back("SetColumnWidth(" + std::to_string(column) + "," + std::to_string(width) + ")");
  if (column < 0 || column > 4) {
    return false;
  }
  int resolved = width;
  if (width == -1) {
    resolved = ContentWidth(column);
  } else if (width == -2) {
    resolved = std::max(ContentWidth(column),
                        static_cast<int>(kHeadings[static_cast<size_t>(column)].size()) * kCharWidth + 12);
  }
  m_Widths[static_cast<size_t>(column)] = resolved;
  return true;
}

void FakeModuleList::SetRedraw(bool redraw) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Calls.push_back(redraw ? "SetRedraw(1)" : "SetRedraw(0)");
}

std::vector<FakeRow> FakeModuleList::Rows() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Rows;
}

FakeRow FakeModuleList::Row(int item) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  if (item < 0 || static_cast<size_t>(item) >= m_Rows.size()) {
    return {};
  }
  return m_Rows[static_cast<size_t>(item)];
}

std::vector<std::pair<int, std::string>> FakeModuleList::PercentWrites() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Percent;
}

std::vector<std::pair<int, std::string>> FakeModuleList::StatusWrites() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Status;
}

std::vector<std::string> FakeModuleList::Calls() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Calls;
}

void FakeModuleList::SetWidth(int column, int width) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Widths[static_cast<size_t>(column)] = width;
}

std::vector<std::string> FakeDialogHost::Events() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Events;
}

void FakeDialogHost::Record(const std::string& what) {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Events.push_back(what);
}

std::array<uint8_t, 8> SimUnlockCode() { return qorsim::SimConfig{}.unlockCode; }

std::vector<uint8_t> WriteRouterImage(const std::string& folder, ModuleType module,
                                      const std::string& version, size_t payloadSize, uint32_t seed) {
  RouterImageSpec spec;
  spec.module = module;
  spec.version = version;
  spec.payload = GeneratePayload(payloadSize, seed);
  std::vector<UnitPlacement> placements;
  const std::vector<uint8_t> bytes = BuildRouterImage(spec, &placements);
  if (bytes.empty() || placements.empty() ||
      !WriteImageFile(folder + "/router-" + std::to_string(module) + ".bin", bytes)) {
    return {};
  }
  const UnitPlacement& unit = placements[0];
  return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(unit.dataOffset),
                              bytes.begin() + static_cast<std::ptrdiff_t>(unit.dataOffset + unit.dataLength));
}

std::vector<WirelessUnitData> WriteWirelessImage(const std::string& folder, ModuleType kind,
                                                 const std::string& version,
                                                 const std::vector<std::pair<uint32_t, size_t>>& units,
                                                 uint32_t seed) {
  WirelessImageSpec spec;
  spec.kind = kind;
  spec.fileType =
      kind == MODULE_DASHBOARD ? image_layout::kFileTypeDashboard : image_layout::kFileTypeFirmware;
  spec.version = version;
  spec.hardwareId = SimUnlockCode();
  uint32_t unitSeed = seed;
  for (const auto& [address, size] : units) {
    spec.units.push_back(WirelessUnitSpec{address, GeneratePayload(size, unitSeed++)});
  }
  std::vector<UnitPlacement> placements;
  const std::vector<uint8_t> bytes = BuildWirelessImage(spec, &placements);
  if (bytes.empty() || !WriteImageFile(folder + "/wireless-" + std::to_string(kind) + ".bin", bytes)) {
    return {};
  }
  std::vector<WirelessUnitData> result;
  for (size_t i = 0; i < placements.size(); ++i) {
    const UnitPlacement& p = placements[i];
    result.push_back(WirelessUnitData{
        units[i].first,
        std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(p.dataOffset),
                             bytes.begin() + static_cast<std::ptrdiff_t>(p.dataOffset + p.dataLength))});
  }
  return result;
}

bool FillImageSet(const std::string& folder, CImageSet& images, const std::vector<ModuleType>& modules) {
  for (ModuleType m : modules) {
    const bool written = IsRouterModule(m)
                             ? !WriteRouterImage(folder, m, "1.0.0.0", 100, 1).empty()
                             : !WriteWirelessImage(folder, m, "1.0.0.0", {{0x1000, 100}}, 1).empty();
    if (!written) {
      return false;
    }
  }
  CDownloadLog log(folder + "/scan.txt");
  RecordingSink warnings;
  ScopedWarningSink sink(warnings);
  return ScanImageFiles(images, folder, log);
}

std::vector<ModuleType> Modules(std::initializer_list<int> numbers) {
  std::vector<ModuleType> modules;
  for (int n : numbers) {
    modules.push_back(ModuleFromNumber(n));
  }
  return modules;
}

SimHarness::SimHarness(qorsim::SimConfig config) : m_Config(std::move(config)) {
  m_Config.address = "127.0.0.1";
  m_Config.udpPort = 0;
  m_Config.linkPort = 0;
  m_Config.telnetPort = 0;
  m_Sim = std::make_unique<qorsim::RouterSim>(m_Config);
  m_Started = m_Sim->Start(&m_Error);
}

Endpoints SimHarness::GetEndpoints() const {
  Endpoints e;
  e.discoveryAddresses = {m_Sim->Address()};
  e.udpPort = m_Sim->UdpPort();
  e.linkPort = m_Sim->LinkPort();
  e.telnetPort = m_Sim->TelnetPort();
  return e;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> LogMessages(const std::string& logText) {
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < logText.size()) {
    size_t end = logText.find("\r\n", start);
    if (end == std::string::npos) {
      end = logText.size();
    }
    const std::string line = logText.substr(start, end - start);
    // "YYYY-MM-DD HH:MM:SS " is 20 characters
    messages.push_back(line.size() >= 20 ? line.substr(20) : line);
    start = end + 2;
  }
  return messages;
}

int FindMessage(const std::vector<std::string>& messages, const std::string& text, size_t from) {
  for (size_t i = from; i < messages.size(); ++i) {
    if (messages[i] == text) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::vector<std::string> MessagesStartingWith(const std::vector<std::string>& messages,
                                              const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& m : messages) {
    if (m.rfind(prefix, 0) == 0) {
      out.push_back(m);
    }
  }
  return out;
}

}  // namespace upgrade_test
