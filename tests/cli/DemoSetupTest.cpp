#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "demo/DemoSetup.h"
#include "image/CBinFile.h"
#include "platform/Clock.h"

namespace {

TEST(DemoSetup, SampleImagesAreValidAndCarryTheDemoVersions) {
  ScaledClock clock(10);
  ScopedClock use(clock);
  DemoSetup demo;
  std::string error;
  ASSERT_TRUE(demo.Start(&error)) << error;
  struct Expected {
    const char* file;
    ModuleType type;
    const char* version;
  };
  const Expected images[] = {
      {"boot.bin", MODULE_BOOT, DemoSetup::kBootImageVersion},
      {"app.bin", MODULE_APP, DemoSetup::kAppImageVersion},
      {"customization.bin", MODULE_CUSTOMIZATION, DemoSetup::kAppImageVersion},
      {"firmware.bin", MODULE_FIRMWARE, DemoSetup::kFirmwareImageVersion},
      {"dashboard.bin", MODULE_DASHBOARD, DemoSetup::kDashboardImageVersion},
  };
  for (const Expected& e : images) {
    SCOPED_TRACE(e.file);
    CBinFile image;
    image.SetFilePath(demo.ImageFolder() + "/" + e.file);
    ASSERT_TRUE(image.OpenFile(MODULE_NONE)) << image.GetRejectReason();
    EXPECT_EQ(image.GetModuleType(), e.type);
    EXPECT_EQ(image.GetVersionText(), e.version);
    if (e.type == MODULE_FIRMWARE) {
      // two units, the second at its own load address: the unlock code is the emulator's
      ASSERT_EQ(image.GetUnitCount(), 2u);
      EXPECT_EQ(std::memcmp(image.GetUnitHeader(0).hardwareId, DemoSetup::kUnlockCode.data(), 8), 0);
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(demo.ImageFolder()), {}), 5);
}

TEST(DemoSetup, PointsAtLoopbackAndCleansUp) {
  ScaledClock clock(10);
  ScopedClock use(clock);
  std::string folder;
  {
    DemoSetup demo;
    EXPECT_EQ(demo.Sim(), nullptr);
    EXPECT_EQ(demo.ImageFolder(), "");
    std::string error;
    ASSERT_TRUE(demo.Start(&error)) << error;
    folder = demo.ImageFolder();
    Endpoints e = demo.GetEndpoints();
    ASSERT_EQ(e.discoveryAddresses.size(), 2u);
    EXPECT_EQ(e.discoveryAddresses[0], "127.255.255.255");
    EXPECT_EQ(e.discoveryAddresses[1], "127.0.0.1");
    // free ports, never the router's own
    for (uint16_t port : {e.udpPort, e.linkPort, e.telnetPort}) {
      EXPECT_NE(port, 0);
      EXPECT_NE(port, 1280);
      EXPECT_NE(port, 23);
    }
    EXPECT_TRUE(demo.Sim()->Running());
    // the folder is private to the user
    auto perms = std::filesystem::status(folder).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
    // a second start replaces the first stage
    ASSERT_TRUE(demo.Start(&error)) << error;
    EXPECT_FALSE(std::filesystem::exists(folder));
    folder = demo.ImageFolder();
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(DemoSetup, RefusesAFolderItCannotUse) {
  DemoConfig config;
  config.parentFolder = "/nonexistent/qor-demo-parent";
  DemoSetup demo(config);
  std::string error;
  EXPECT_FALSE(demo.Start(&error));
  EXPECT_NE(error.find("/nonexistent/qor-demo-parent"), std::string::npos) << error;
  EXPECT_EQ(demo.Sim(), nullptr);
}

}  // namespace
