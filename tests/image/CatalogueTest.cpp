#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "image/Catalogue.h"
#include "image/ImageSet.h"
#include "log/CDownloadLog.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/Warnings.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"
#include "tools/ImageBuilder.h"

namespace {

std::vector<uint8_t> Router(int t, const std::string& version) {
  RouterImageSpec s;
  s.module = ModuleFromNumber(t);
  s.version = version;
  s.payload = GeneratePayload(700, static_cast<uint32_t>(t));
  return BuildRouterImage(s);
}

std::vector<uint8_t> Wireless(uint32_t fileType, size_t units) {
  WirelessImageSpec s;
  s.fileType = fileType;
  s.kind = fileType == 3 ? MODULE_DASHBOARD : MODULE_FIRMWARE;
  for (size_t i = 0; i < units; ++i)
    s.units.push_back({0x1000u * static_cast<uint32_t>(i), GeneratePayload(300, 1)});
  return BuildWirelessImage(s);
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override {
    Clear();
    SetResourceTableOverride(nullptr);
  }
  void Clear() { m_Images.Clear(); }
  void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(WriteImageFile(m_Dir.File(name), bytes)) << name;
  }
  std::vector<int> ValidSlots() const {
    std::vector<int> v;
    for (ModuleType t : kAllModules)
      if (m_Images[t].IsValid()) v.push_back(t);
    return v;
  }

  CImageSet m_Images;
  TempDir m_Dir;
  RecordingSink m_Sink;
  ScopedWarningSink m_UseSink{m_Sink};
  CDownloadLog m_Log{""};  // collects entries, never writes
};

TEST_F(Catalogue, ScanFillsOneSlotPerTypeAndIgnoresWhatIsNotAnImage) {
  Put("boot.bin", Router(0, "B1"));
  Put("app.bin", Router(1, "A1"));
  Put("html.bin", Router(3, "H1"));
  Put("CFG.BIN", Router(6, "C1"));  // the suffix counts in any letter case
  Put("firmware.bin", Wireless(1, 3));
  Put("dash.bin", Wireless(3, 2));
  Put("notes.txt", Router(2, "not an image name"));
  Put("app.bin.old", Router(1, "old"));
  Put("short.bin", std::vector<uint8_t>(100, 1));
  RouterImageSpec damaged;
  damaged.module = MODULE_CUSTOMIZATION;
  damaged.payload = GeneratePayload(5000, 2);
  damaged.damage.blockCrcUnit = 0;
  Put("damaged.bin", BuildRouterImage(damaged));
  ASSERT_EQ(mkdir(m_Dir.File("folder.bin").c_str(), 0700), 0);

  ImageScanReport report;
  EXPECT_TRUE(ScanImageFiles(m_Images, m_Dir.Path(), m_Log, &report));
  EXPECT_TRUE(m_Sink.Texts().empty());
  EXPECT_EQ(ValidSlots(), (std::vector<int>{0, 1, 3, 6, 7, 8}));
  // what was passed over is named with its reason, in the report and in the log
  EXPECT_EQ(report.folder, m_Dir.Path());
  EXPECT_EQ(report.folderError, "");
  std::vector<std::pair<std::string, std::string>> skipped;
  for (const SkippedImage& s : report.skipped) skipped.push_back({s.path, s.reason});
  std::sort(skipped.begin(), skipped.end());
  EXPECT_EQ(skipped, (std::vector<std::pair<std::string, std::string>>{
                         {m_Dir.File("damaged.bin"), "unit 0: block 0 CRC"},
                         {m_Dir.File("folder.bin"), "not a regular file"},
                         {m_Dir.File("short.bin"), "too short"}}));
  for (const auto& [path, reason] : skipped)
    EXPECT_NE(m_Log.GetPending().find("Skipped " + path + ": " + reason + "\r\n"), std::string::npos) << path;
  EXPECT_EQ(m_Images[ModuleFromNumber(1)].GetVersionText(), "A1");
  EXPECT_EQ(m_Images[ModuleFromNumber(6)].GetFilePath(), m_Dir.File("CFG.BIN"));
  EXPECT_EQ(m_Images[ModuleFromNumber(7)].GetUnitCount(), 3u);
}

TEST_F(Catalogue, TwoFilesOfOneTypeStopTheScanWithWarning134) {
  Put("a.bin", Router(1, "first"));
  Put("b.bin", Router(1, "second"));
  EXPECT_FALSE(ScanImageFiles(m_Images, m_Dir.Path(), m_Log));
  ASSERT_EQ(m_Sink.Texts().size(), 1u);
  EXPECT_EQ(m_Sink.Texts()[0], "Two or more .bin files with the same type exist");
  // whichever came first stays in its slot
  EXPECT_EQ(ValidSlots(), std::vector<int>{1});
  const std::string v = m_Images[ModuleFromNumber(1)].GetVersionText();
  EXPECT_TRUE(v == "first" || v == "second") << v;
}

TEST_F(Catalogue, NoValidFileGivesWarning135AndTheLogLine) {
  Put("junk.bin", std::vector<uint8_t>(300, 0xAB));
  Put("image.dat", Router(1, "wrong suffix"));
  EXPECT_FALSE(ScanImageFiles(m_Images, m_Dir.Path(), m_Log));
  EXPECT_EQ(m_Sink.Texts(), std::vector<std::string>{"No valid .bin file is found in the current directory"});
  const std::string pending = m_Log.GetPending();
  EXPECT_NE(pending.find("没有找到至少一个有效的BIN文件\r\n"), std::string::npos) << pending;

  m_Sink.Clear();
  EXPECT_FALSE(ScanImageFiles(m_Images, m_Dir.File("no-such-folder"), m_Log));
  EXPECT_EQ(m_Sink.Texts().size(), 1u);
}

TEST_F(Catalogue, EachScanStartsFromEmptySlots) {
  Put("boot.bin", Router(0, "B"));
  ASSERT_TRUE(ScanImageFiles(m_Images, m_Dir.Path(), m_Log));
  EXPECT_EQ(ValidSlots(), std::vector<int>{0});
  TempDir other;
  ASSERT_TRUE(WriteImageFile(other.File("fw.bin"), Wireless(0, 3)));
  ASSERT_TRUE(ScanImageFiles(m_Images, other.Path(), m_Log));
  EXPECT_EQ(ValidSlots(), std::vector<int>{7});
}

TEST_F(Catalogue, AnEmptyFolderMeansTheExecutablesFolder) {
  const std::string exeDir = GetExecutableFolder();
  ASSERT_FALSE(exeDir.empty());
  EXPECT_TRUE(
      std::filesystem::equivalent(exeDir, std::filesystem::read_symlink("/proc/self/exe").parent_path()));
  if (access(exeDir.c_str(), W_OK) != 0) GTEST_SKIP() << "the test's own folder is read-only here";
  const std::string path = exeDir + "/qor-catalogue-test-dashboard.bin";
  ASSERT_TRUE(WriteImageFile(path, Wireless(3, 1)));
  const bool ok = ScanImageFiles(m_Images, "", m_Log);
  std::filesystem::remove(path);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(m_Images[ModuleFromNumber(8)].IsValid());
  EXPECT_EQ(m_Images[ModuleFromNumber(8)].GetFilePath(), path);
}

TEST_F(Catalogue, EmbeddedImagesFillTheirSlotsAndTinyOnesStandForNone) {
  const std::vector<uint8_t> boot = Router(0, "EB");
  const std::vector<uint8_t> dash = Wireless(3, 2);
  const std::vector<uint8_t> tiny = {0};
  std::vector<EmbeddedResourceEntry> table;
  for (int t = 0; t < kModuleCount; ++t) {
    const std::vector<uint8_t>& bytes = t == 0 ? boot : (t == 8 ? dash : tiny);
    table.push_back({"BINARY", kModuleResourceIds[t], "", bytes.data(), bytes.data() + bytes.size()});
  }
  table.push_back({nullptr, 0, nullptr, nullptr, nullptr});
  SetResourceTableOverride(table.data());
  EXPECT_TRUE(LoadEmbeddedImages(m_Images));
  EXPECT_EQ(ValidSlots(), (std::vector<int>{0, 8}));
  EXPECT_EQ(m_Images[ModuleFromNumber(0)].GetVersionText(), "EB");
  EXPECT_EQ(m_Images[ModuleFromNumber(8)].GetResourceId(), 145);

  // all nine of one byte: none loaded, so the Check scans files
  for (EmbeddedResourceEntry& e : table)
    if (e.type != nullptr) e = {"BINARY", e.id, "", tiny.data(), tiny.data() + 1};
  EXPECT_FALSE(LoadEmbeddedImages(m_Images));
  EXPECT_TRUE(ValidSlots().empty());
}

TEST(ModuleTable, DisplayNamesComeFromTheStringTable) {
  EXPECT_EQ(ModuleDisplayName(MODULE_BOOT), "BOOT of router module");
  EXPECT_EQ(ModuleDisplayName(MODULE_APP), ModuleDisplayName(MODULE_APP2));
  EXPECT_EQ(ModuleDisplayName(MODULE_COMMON_HTML), "Common Html Resource of router module");
  EXPECT_EQ(ModuleDisplayName(MODULE_CONFIG_FILE), "Configuration File of router module");
  EXPECT_EQ(ModuleDisplayName(MODULE_DASHBOARD), "Dashboard of wireless module");
  EXPECT_EQ(ModuleDisplayName(MODULE_NONE), "");
}

}  // namespace
