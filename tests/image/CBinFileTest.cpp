#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/CBinFile.h"
#include "image/ImageFormat.h"
#include "platform/Resources.h"
#include "support/TempDir.h"
#include "tools/ImageBuilder.h"

namespace {

std::vector<uint8_t> Router(int t, const std::string& version, size_t payload = 5000) {
  RouterImageSpec s;
  s.module = ModuleFromNumber(t);
  s.version = version;
  s.payload = GeneratePayload(payload, static_cast<uint32_t>(t));
  return BuildRouterImage(s);
}

TEST(CBinFileOpen, ClassifiesVersionsAndUnitsOfBuiltFiles) {
  TempDir dir;
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
    int type;
    std::string version;
    uint32_t units;
  };
  WirelessImageSpec fw;
  fw.version = "FW_2.1.0";
  fw.units = {{0x1000, GeneratePayload(9000, 1)},
              {0x8000, GeneratePayload(3, 2)},
              {0x9000, GeneratePayload(4096, 3)}};
  WirelessImageSpec db = fw;
  db.kind = MODULE_DASHBOARD;
  db.fileType = 3;
  db.version = "";
  db.units.resize(1);
  std::vector<Case> cases = {
      {"boot.bin", Router(0, "BOOT 1.0"), 0, "BOOT 1.0", 1},
      {"cfg.bin", Router(6, "cfg"), 6, "cfg", 1},
      {"fw.bin", BuildWirelessImage(fw), 7, "FW_2.1.0", 3},
      {"db.bin", BuildWirelessImage(db), 8, "No version", 1},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteImageFile(dir.File(c.name), c.bytes));
    CBinFile f;
    f.SetFilePath(dir.File(c.name));
    EXPECT_TRUE(f.OpenFile(MODULE_NONE)) << c.name << ": " << f.GetRejectReason();
    EXPECT_EQ(f.GetModuleType(), c.type) << c.name;
    EXPECT_EQ(f.GetVersionText(), c.version) << c.name;
    EXPECT_EQ(f.GetUnitCount(), c.units) << c.name;
    EXPECT_EQ(f.GetImageSize(), c.bytes.size());
    EXPECT_EQ(f.GetResourceId(), 0);
    uint32_t total = 0;
    for (uint32_t i = 0; i < f.GetUnitCount(); ++i) total += f.GetUnitExtent(i).length;
    EXPECT_EQ(f.GetTotalDataLength(), total);
    // the mapping holds the file's bytes
    EXPECT_EQ(0, std::memcmp(f.GetImageData(), c.bytes.data(), c.bytes.size())) << c.name;
  }
}

TEST(CBinFileOpen, RefusedFilesSayWhy) {
  TempDir dir;
  WirelessImageSpec fw;
  fw.units = {{0, GeneratePayload(10000, 4)}};
  fw.damage.blockCrcUnit = 0;
  fw.damage.blockCrcBlock = 1;
  std::vector<uint8_t> longVersion = Router(1, std::string(200, 'v'));
  ImageSpec odd;
  odd.units.push_back(UnitSpec{});
  odd.units[0].magic = {'X', 'X', 'X', 'X'};
  odd.units[0].data = GeneratePayload(30, 1);

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"short.bin", std::vector<uint8_t>(189, 0), "too short"},
      {"empty.bin", {}, "too short"},
      {"block.bin", BuildWirelessImage(fw), "unit 0: block 1 CRC"},
      {"odd.bin", BuildImage(odd), "unknown type"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteImageFile(dir.File(c.name), c.bytes));
    CBinFile f;
    f.SetFilePath(dir.File(c.name));
    EXPECT_FALSE(f.OpenFile(MODULE_NONE)) << c.name;
    EXPECT_FALSE(f.IsValid());
    EXPECT_EQ(f.GetModuleType(), MODULE_NONE) << c.name;
    EXPECT_EQ(f.GetRejectReason(), c.reason) << c.name;
    EXPECT_EQ(f.GetVersionText(), "") << c.name;
  }

  // the builder keeps a zero in the 84-byte field; a field filled to its end is read to its end only
  ASSERT_TRUE(WriteImageFile(dir.File("long.bin"), longVersion));
  CBinFile f;
  f.SetFilePath(dir.File("long.bin"));
  ASSERT_TRUE(f.OpenFile(MODULE_NONE));
  EXPECT_EQ(f.GetVersionText(), std::string(83, 'v'));
  longVersion[image_layout::kVersionTextOffset + 83] = 'w';
  ASSERT_TRUE(WriteImageFile(dir.File("full.bin"), longVersion));
  CBinFile full;
  full.SetFilePath(dir.File("full.bin"));
  ASSERT_TRUE(full.OpenFile(MODULE_NONE));
  EXPECT_EQ(full.GetVersionText(), std::string(83, 'v') + "w");
}

TEST(CBinFileOpen, PathsThatAreRefusedBeforeOpening) {
  TempDir dir;
  for (const std::string& path : {std::string("/a.bin1"), std::string("\\\\server\\share\\a.bin"),
                                  std::string(""), dir.File("missing.bin"), dir.Path()}) {
    CBinFile f;
    f.SetFilePath(path);
    EXPECT_FALSE(f.OpenFile(MODULE_NONE)) << path;
  }
  // a FIFO named like an image must not block the open
  const std::string fifo = dir.File("pipe.bin");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  CBinFile f;
  f.SetFilePath(fifo);
  EXPECT_FALSE(f.OpenFile(MODULE_NONE));
  EXPECT_EQ(f.GetRejectReason(), "not a regular file");
}

TEST(CBinFileOpen, AValidObjectIgnoresAnotherOpenUntilItGetsAPath) {
  TempDir dir;
  const std::string path = dir.File("app.bin");
  ASSERT_TRUE(WriteImageFile(path, Router(1, "one")));
  CBinFile f;
  f.SetFilePath(path);
  ASSERT_TRUE(f.OpenFile(MODULE_NONE));
  // a new file under the same name is not read by a second open
  ASSERT_TRUE(WriteImageFile(dir.File("new.bin"), Router(2, "two")));
  ASSERT_EQ(std::rename(dir.File("new.bin").c_str(), path.c_str()), 0);
  EXPECT_TRUE(f.OpenFile(MODULE_NONE));
  EXPECT_EQ(f.GetModuleType(), 1);
  EXPECT_EQ(f.GetVersionText(), "one");
  // after SetFilePath it is invalid and the next open reads the file
  f.SetFilePath(path);
  EXPECT_FALSE(f.IsValid());
  EXPECT_TRUE(f.OpenFile(MODULE_NONE));
  EXPECT_EQ(f.GetModuleType(), 2);
  EXPECT_EQ(f.GetVersionText(), "two");
}

TEST(CBinFileOpen, ExpectedTypeSelectsTheGroupOfAnswers) {
  TempDir dir;
  const std::string path = dir.File("html.bin");
  ASSERT_TRUE(WriteImageFile(path, Router(MODULE_COMMON_HTML, "h")));
  for (const auto& [expected, result] :
       std::vector<std::pair<int, int>>{{9, 3}, {3, 3}, {6, 3}, {0, 9}, {2, 9}, {7, 9}}) {
    CBinFile f;
    f.SetFilePath(path);
    EXPECT_EQ(f.OpenFile(ModuleFromNumber(expected)), result != 9) << expected;
    EXPECT_EQ(f.GetModuleType(), result) << expected;
  }
}

// Embedded images come from a replaced resource table.
class CBinFileResource : public ::testing::Test {
 protected:
  void TearDown() override { SetResourceTableOverride(nullptr); }
  void Install(std::vector<EmbeddedResourceEntry> entries) {
    m_Table = std::move(entries);
    m_Table.push_back({nullptr, 0, nullptr, nullptr, nullptr});
    SetResourceTableOverride(m_Table.data());
  }
  static EmbeddedResourceEntry Entry(int id, const std::vector<uint8_t>& bytes) {
    return {"BINARY", id, "", bytes.data(), bytes.data() + bytes.size()};
  }
  std::vector<EmbeddedResourceEntry> m_Table;
};

TEST_F(CBinFileResource, TypeComesFromTheIdAndCrcsAreNotChecked) {
  RouterImageSpec damaged;
  damaged.module = MODULE_BOOT;  // header says boot; resource 144 says APP
  damaged.version = "R1";
  damaged.payload = GeneratePayload(9000, 5);
  damaged.damage.headerCrcUnit = 0;
  damaged.damage.blockCrcUnit = 0;
  const std::vector<uint8_t> image = BuildRouterImage(damaged);
  ImageSpec zeroSpec;
  zeroSpec.units.push_back(UnitSpec{});
  zeroSpec.damage.omitLastFill = true;
  const std::vector<uint8_t> zero = BuildImage(zeroSpec);  // 190 bytes, zero data length
  const std::vector<uint8_t> oneByte = {0x42};
  const std::vector<uint8_t> truncated(image.begin(), image.end() - 100);
  Install(
      {Entry(144, image), Entry(163, zero), Entry(145, oneByte), Entry(146, truncated), Entry(150, image)});

  struct Case {
    int id;
    bool valid;
    int type;
  };
  for (const Case c : {Case{144, true, 1}, Case{163, true, 6}, Case{145, false, 9}, Case{146, false, 9},
                       Case{147, false, 9}, Case{150, false, 9}}) {
    CBinFile f;
    EXPECT_EQ(f.LoadFromResource(c.id), c.valid) << c.id << " " << f.GetRejectReason();
    EXPECT_EQ(f.GetModuleType(), c.type) << c.id;
    EXPECT_EQ(f.GetResourceId(), c.id);
    EXPECT_TRUE(f.GetFilePath().empty());
  }
  CBinFile app;
  ASSERT_TRUE(app.LoadFromResource(144));
  EXPECT_EQ(app.GetImageData(), image.data()) << "embedded images are used in place";
  EXPECT_EQ(app.GetVersionText(), "R1");
}

// Page-aligned bytes of their own mapping, so that a wrong unmap of them would really unmap them.
class PageBytes {
 public:
  explicit PageBytes(const std::vector<uint8_t>& bytes) : m_Size(bytes.size()) {
    m_Data = mmap(nullptr, m_Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m_Data != MAP_FAILED) std::memcpy(m_Data, bytes.data(), m_Size);
  }
  ~PageBytes() {
    if (m_Data != MAP_FAILED) munmap(m_Data, m_Size);
  }
  PageBytes(const PageBytes&) = delete;
  PageBytes& operator=(const PageBytes&) = delete;
  const uint8_t* begin() const { return static_cast<const uint8_t*>(m_Data); }
  const uint8_t* end() const { return begin() + m_Size; }

 private:
  void* m_Data;
  size_t m_Size;
};

// A slot that held an embedded image and is then given a file must release only what it mapped
// itself: the program's own bytes are never unmapped.
TEST_F(CBinFileResource, AFileAfterAnEmbeddedImageLeavesTheResourceAlone) {
  TempDir dir;
  RouterImageSpec spec;
  spec.module = MODULE_APP;
  spec.payload = GeneratePayload(3000, 6);
  const std::vector<uint8_t> built = BuildRouterImage(spec);
  const PageBytes image(built);
  const PageBytes broken(
      std::vector<uint8_t>(built.begin(), built.begin() + 150));  // refused after taking the pointer
  ASSERT_NE(image.begin(), MAP_FAILED);
  ASSERT_NE(broken.begin(), MAP_FAILED);
  Install(
      {{"BINARY", 144, "", image.begin(), image.end()}, {"BINARY", 148, "", broken.begin(), broken.end()}});
  const std::vector<uint8_t>& bytes = built;
  ASSERT_TRUE(WriteImageFile(dir.File("app.bin"), bytes));

  for (int id : {144, 148}) {
    CBinFile slot;
    slot.LoadFromResource(id);
    slot.SetFilePath(dir.File("app.bin"));
    EXPECT_TRUE(slot.OpenFile(MODULE_NONE));
    EXPECT_NE(slot.GetImageData(), image.begin());
    slot.SetFilePath("");
    EXPECT_FALSE(slot.OpenFile(MODULE_NONE));
  }
  // the resource bytes are still readable
  CBinFile again;
  EXPECT_TRUE(again.LoadFromResource(144));
  EXPECT_EQ(again.GetVersionText(), "No version");
  EXPECT_EQ(0, std::memcmp(image.begin(), bytes.data(), bytes.size()));
  EXPECT_EQ(0, std::memcmp(broken.begin(), bytes.data(), 150));
}

}  // namespace
