// One whole upgrade on the real clock: the waits of the procedures at their true length (restart
// waits of 10 s and more, 1 s between modules), against the emulator with its real restart time.

#include <gtest/gtest.h>

#include <chrono>

#include "CliTestSupport.h"
#include "image/ImageFormat.h"
#include "platform/StringTable.h"
#include "tools/ImageBuilder.h"

namespace {

TEST(CliRealSpeed, FullUpgradeOfEveryModule) {
  CliRun run(DemoConfig{}, 1);
  ASSERT_TRUE(run.Ready());
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--json"}));
  int code = run.Finish(600000);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string json = run.Out();
  ASSERT_EQ(code, 0) << run.Diagnostics();
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  for (const std::string& m : modules) {
    EXPECT_EQ(JsonField(m, "status").rfind(LoadStringById(IDS_DOWNLOAD_SUCCESSFULLY) + " (", 0), 0u) << m;
    EXPECT_EQ(JsonField(m, "colour"), "blue");
  }
  // two restart waits per wireless module of at least 10 s each: a run much shorter than that has
  // skipped a wait
  EXPECT_GT(seconds, 40.0);

  // the router images arrived byte for byte as the files carry them
  for (const auto& [file, type] :
       {std::pair{"boot.bin", 0}, std::pair{"app.bin", 1}, std::pair{"customization.bin", 2}}) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(run.Stage().ImageFolder() + "/" + file, bytes));
    std::vector<uint8_t> received = run.Sim().RouterImage(type);
    ASSERT_FALSE(received.empty()) << file;
    // the unit's data follows the file header, the unit header and the block CRC list
    size_t blocks = (received.size() + 4095) / 4096;
    size_t offset = image_layout::kFileHeaderSize + image_layout::kUnitHeaderSize + 2 * blocks;
    ASSERT_GE(bytes.size(), offset + received.size()) << file;
    EXPECT_TRUE(
        std::equal(received.begin(), received.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset)))
        << file;
  }
  EXPECT_EQ(run.Sim().Module().firmwareVersion, DemoSetup::kFirmwareImageVersion);
}

}  // namespace
