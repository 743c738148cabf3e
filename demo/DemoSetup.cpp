#include "demo/DemoSetup.h"

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "tools/ImageBuilder.h"

namespace {

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
  if (!MakeFolder(error) || !WriteSampleImages(m_Folder, m_Config, error)) {
    RemoveFolder();
    return false;
  }
  m_Sim = std::make_unique<qorsim::RouterSim>(EmulatorConfig(m_Config));
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

qorsim::SimConfig DemoSetup::EmulatorConfig(const DemoConfig& config) {
  qorsim::SimConfig sim;
  sim.cfeVersion = kDeviceCfeVersion;
  sim.appVersion = kDeviceAppVersion;
  sim.firmwareVersion = kDeviceFirmwareVersion;
  sim.dashboardVersion = kDeviceDashboardVersion;
  sim.unlockCode = kUnlockCode;
  sim.faults = config.faults;
  if (config.tuneEmulator) config.tuneEmulator(sim);
  sim.address = "127.0.0.1";
  sim.broadcastAddress.clear();
  sim.udpPort = 0;
  sim.linkPort = 0;
  sim.telnetPort = 0;
  return sim;
}

bool DemoSetup::MakeFolder(std::string* error) {
  std::error_code ec;
  std::filesystem::path parent = m_Config.parentFolder.empty() ? std::filesystem::temp_directory_path(ec)
                                                               : std::filesystem::path(m_Config.parentFolder);
  if (ec) parent = "/tmp";
#ifdef _WIN32
  // a new folder of a name nobody used, under the user's own temporary folder
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path folder = parent / ("qor-demo-" + std::to_string(random()));
    if (std::filesystem::create_directory(folder, ec)) {
      m_Folder = folder.string();
      return true;
    }
  }
  if (error) *error = "cannot create a folder for the sample images in " + parent.string();
  return false;
#else
  std::string pattern = (parent / "qor-demo-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    if (error) *error = "cannot create a folder for the sample images in " + parent.string();
    return false;
  }
  m_Folder = buffer.data();
  return true;
#endif
}

bool DemoSetup::WriteSampleImages(const std::string& folder, const DemoConfig& config, std::string* error) {
  RouterImageSpec boot;
  boot.module = MODULE_BOOT;
  boot.version = kBootImageVersion;
  boot.payload = GeneratePayload(config.routerPayloadBytes, 1);
  RouterImageSpec app = boot;
  app.module = MODULE_APP;
  app.version = kAppImageVersion;
  app.payload = GeneratePayload(config.routerPayloadBytes, 2);
  RouterImageSpec custom = app;
  custom.module = MODULE_CUSTOMIZATION;
  custom.payload = GeneratePayload(config.routerPayloadBytes / 2 + 1, 3);

  // two firmware units: the second starts at its own load address, not where the first ended
  WirelessImageSpec firmware;
  firmware.kind = MODULE_FIRMWARE;
  firmware.fileType = image_layout::kFileTypeFirmware;
  firmware.version = kFirmwareImageVersion;
  firmware.hardwareId = kUnlockCode;
  size_t firstPart = config.firmwareBytes / 3 * 2 + 123;
  if (firstPart > config.firmwareBytes) firstPart = config.firmwareBytes;
  firmware.units.push_back({0x00100000, GeneratePayload(firstPart, 4)});
  if (config.firmwareBytes > firstPart)
    firmware.units.push_back({0x00800000, GeneratePayload(config.firmwareBytes - firstPart, 5)});

  WirelessImageSpec dashboard;
  dashboard.kind = MODULE_DASHBOARD;
  dashboard.fileType = image_layout::kFileTypeDashboard;
  dashboard.version = kDashboardImageVersion;
  dashboard.hardwareId = kUnlockCode;
  dashboard.units.push_back({0x02000000, GeneratePayload(config.dashboardBytes, 6)});

  return WriteOne(folder, "boot.bin", BuildRouterImage(boot), error) &&
         WriteOne(folder, "app.bin", BuildRouterImage(app), error) &&
         WriteOne(folder, "customization.bin", BuildRouterImage(custom), error) &&
         WriteOne(folder, "firmware.bin", BuildWirelessImage(firmware), error) &&
         WriteOne(folder, "dashboard.bin", BuildWirelessImage(dashboard), error);
}

void DemoSetup::RemoveFolder() {
  if (m_Folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(m_Folder, ec);
  m_Folder.clear();
}
