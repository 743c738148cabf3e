#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/NonCopyable.h"
#include "sim/RouterSim.h"
#include "upgrade/Endpoints.h"

// A self-contained stage for the demo of both front ends: a folder of sample upgrade images and the
// router emulator running in this process on 127.0.0.1 with free ports. Nothing here prints or
// draws; the front end shows what it likes.
//
// The images are the first router family (boot, application, customisation) and the wireless
// firmware and dashboard. The emulator reports device versions whose third number is 0 (1.2.0.x,
// 11.1.0.x), which the version rule lets any image of the same first two numbers replace, so a
// Check offers the upgrade.
//
// Owns the folder (created 0700 by mkdtemp, removed with its files on destruction) and the emulator
// (stopped and joined on destruction). Install the clock the demo runs on before Start(): the
// emulator's threads read it.
struct DemoConfig {
  size_t routerPayloadBytes = 192 * 1024;  // per router image
  size_t firmwareBytes = 384 * 1024;       // split into two units at different load addresses
  size_t dashboardBytes = 96 * 1024;
  std::string parentFolder;  // "" = the system's temporary directory
  qorsim::Faults faults;     // none by default
  // Last say over the emulator's configuration (tests: other device versions, a console flavour).
  // Addresses and ports stay the demo's: loopback, free ports.
  std::function<void(qorsim::SimConfig&)> tuneEmulator;
};

class DemoSetup : public NonCopyable {
 public:
  DemoSetup();
  explicit DemoSetup(DemoConfig config);
  ~DemoSetup() override;

  // Builds the images and starts the emulator. False with a reason when either fails; whatever was
  // made is removed again.
  bool Start(std::string* error);
  void Stop();

  // The folder holding the images ("" before Start).
  const std::string& ImageFolder() const { return m_Folder; }
  // Where the tool finds the emulator: its loopback broadcast address and its three ports.
  Endpoints GetEndpoints() const;
  // The emulator (nullptr before Start), for tests and for a front end that shows its events.
  qorsim::RouterSim* Sim() { return m_Sim.get(); }

  // Writes the sample images into an existing folder (boot.bin, app.bin, customization.bin,
  // firmware.bin, dashboard.bin). False with a reason when one cannot be built or written.
  static bool WriteSampleImages(const std::string& folder, const DemoConfig& config, std::string* error);
  // The emulator's configuration that fits the sample images (versions, unlock code, faults and
  // tuneEmulator of config), on 127.0.0.1 with free ports.
  static qorsim::SimConfig EmulatorConfig(const DemoConfig& config);

  // The unlock code of the sample wireless images (their hardware id) and of the demo's module.
  static constexpr std::array<uint8_t, 8> kUnlockCode = {'Q', 'O', 'R', 'D', 'E', 'M', 'O', '1'};
  // The versions written into the images and the ones the emulator reports.
  static constexpr const char* kBootImageVersion = "1.2.3.1";
  static constexpr const char* kAppImageVersion = "1.2.7.1";
  static constexpr const char* kFirmwareImageVersion = "11.1.20.7";
  static constexpr const char* kDashboardImageVersion = "4.2.1.0";
  static constexpr const char* kDeviceCfeVersion = "1.2.0.1";
  static constexpr const char* kDeviceAppVersion = "1.2.0.5";
  static constexpr const char* kDeviceFirmwareVersion = "11.1.0.6";
  static constexpr const char* kDeviceDashboardVersion = "4.2.0.1";

 private:
  bool MakeFolder(std::string* error);
  void RemoveFolder();

  DemoConfig m_Config;
  std::string m_Folder;
  std::unique_ptr<qorsim::RouterSim> m_Sim;
};
