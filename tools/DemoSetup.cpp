#include "tools/DemoSetup.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "tools/ImageBuilder.h"

namespace {

// the emulator's unlock code: the wireless images carry it as their hardware id
constexpr std::array<uint8_t, 8> kUnlockCode = {'Q', 'O', 'R', 'D', 'E', 'M', 'O', '1'};

bool WriteOne(const std::string& folder, const char* name, const std::vector<uint8_t>& bytes,
              std::string* error) {
  if (bytes.empty() || !WriteImageFile(folder + "/" + name, bytes)) {
    if (error) *error = std::string("cannot write the sample image ") + name;
    return false;
  }
  return true;
}

}  // namespace

DemoSetup::DemoSetup() = default;
DemoSetup::DemoSetup(DemoConfig config) : m_Config(std::move(config)) {}

DemoSetup::~DemoSetup() { Stop(); }

bool DemoSetup::Start(std::string* error) {
  Stop();
  if (!BuildImages(error)) {
    RemoveFolder();
    return false;
  }
  qorsim::SimConfig sim;
  sim.address = "127.0.0.1";
  sim.udpPort = 0;
  sim.linkPort = 0;
  sim.telnetPort = 0;
  sim.cfeVersion = kDeviceCfeVersion;
  sim.appVersion = kDeviceAppVersion;
  sim.firmwareVersion = kDeviceFirmwareVersion;
  sim.dashboardVersion = kDeviceDashboardVersion;
  sim.unlockCode = kUnlockCode;
  sim.faults = m_Config.faults;
  if (m_Config.tuneEmulator) m_Config.tuneEmulator(sim);
  sim.address = "127.0.0.1";
  sim.broadcastAddress.clear();
  sim.udpPort = 0;
  sim.linkPort = 0;
  sim.telnetPort = 0;
  m_Sim = std::make_unique<qorsim::RouterSim>(sim);
  std::string reason;
  if (!m_Sim->Start(&reason)) {
    if (error) *error = "cannot start the router emulator: " + reason;
    m_Sim.reset();
    RemoveFolder();
    return false;
  }
  return true;
}

void DemoSetup::Stop() {
  if (m_Sim) {
    m_Sim->Stop();
    m_Sim.reset();
  }
  RemoveFolder();
}

Endpoints DemoSetup::GetEndpoints() const {
  Endpoints endpoints;
  if (!m_Sim) return endpoints;
  endpoints.discoveryAddresses = {m_Sim->BroadcastAddress(), m_Sim->Address()};
  endpoints.udpPort = m_Sim->UdpPort();
  endpoints.linkPort = m_Sim->LinkPort();
  endpoints.telnetPort = m_Sim->TelnetPort();
  return endpoints;
}

bool DemoSetup::BuildImages(std::string* error) {
  std::error_code ec;
  std::filesystem::path parent = m_Config.parentFolder.empty()
                                     ? std::filesystem::temp_directory_path(ec)
                                     : std::filesystem::path(m_Config.parentFolder);
  if (ec) parent = "/tmp";
  std::string pattern = (parent / "qor-demo-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    if (error) *error = "cannot create a folder for the sample images in " + parent.string();
    return false;
  }
  m_Folder = buffer.data();

  RouterImageSpec boot;
  boot.module = MODULE_BOOT;
  boot.version = kBootImageVersion;
  boot.payload = GeneratePayload(m_Config.routerPayloadBytes, 1);
  RouterImageSpec app = boot;
  app.module = MODULE_APP;
  app.version = kAppImageVersion;
  app.payload = GeneratePayload(m_Config.routerPayloadBytes, 2);
  RouterImageSpec custom = app;
  custom.module = MODULE_CUSTOMIZATION;
  custom.payload = GeneratePayload(m_Config.routerPayloadBytes / 2 + 1, 3);

  // two firmware units: the second starts at its own load address, not where the first ended
  WirelessImageSpec firmware;
  firmware.kind = MODULE_FIRMWARE;
  firmware.fileType = image_layout::kFileTypeFirmware;
  firmware.version = kFirmwareImageVersion;
  firmware.hardwareId = kUnlockCode;
  size_t firstPart = m_Config.firmwareBytes / 3 * 2 + 123;
  if (firstPart > m_Config.firmwareBytes) firstPart = m_Config.firmwareBytes;
  firmware.units.push_back({0x00100000, GeneratePayload(firstPart, 4)});
  if (m_Config.firmwareBytes > firstPart)
    firmware.units.push_back({0x00800000, GeneratePayload(m_Config.firmwareBytes - firstPart, 5)});

  WirelessImageSpec dashboard;
  dashboard.kind = MODULE_DASHBOARD;
  dashboard.fileType = image_layout::kFileTypeDashboard;
  dashboard.version = kDashboardImageVersion;
  dashboard.hardwareId = kUnlockCode;
  dashboard.units.push_back({0x02000000, GeneratePayload(m_Config.dashboardBytes, 6)});

  return WriteOne(m_Folder, "boot.bin", BuildRouterImage(boot), error) &&
         WriteOne(m_Folder, "app.bin", BuildRouterImage(app), error) &&
         WriteOne(m_Folder, "customization.bin", BuildRouterImage(custom), error) &&
         WriteOne(m_Folder, "firmware.bin", BuildWirelessImage(firmware), error) &&
         WriteOne(m_Folder, "dashboard.bin", BuildWirelessImage(dashboard), error);
}

void DemoSetup::RemoveFolder() {
  if (m_Folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(m_Folder, ec);
  m_Folder.clear();
}
