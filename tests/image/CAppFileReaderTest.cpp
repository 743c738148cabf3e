#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/CAppFileReader.h"
#include "image/CBinFile.h"
#include "platform/Resources.h"
#include "support/TempDir.h"
#include "tools/ImageBuilder.h"

namespace {

// An image with units of the given data lengths, opened from a file.
class ReaderFixture : public ::testing::Test {
 protected:
  void Open(const std::vector<size_t>& lengths) {
    WirelessImageSpec s;
    s.versionTag = false;
    for (size_t i = 0; i < lengths.size(); ++i)
      s.units.push_back({0, GeneratePayload(lengths[i], static_cast<uint32_t>(i + 1))});
    m_Spec = s;
    ASSERT_TRUE(WriteImageFile(m_Dir.File("img.bin"), BuildWirelessImage(s)));
    m_Image.SetFilePath(m_Dir.File("img.bin"));
    ASSERT_TRUE(m_Image.OpenFile(MODULE_NONE)) << m_Image.GetRejectReason();
  }
  TempDir m_Dir;
  WirelessImageSpec m_Spec;
  CBinFile m_Image;
};

TEST_F(ReaderFixture, BlockCountsAndLengthsForTheTransferSizes) {
  Open({21 * 4096, 12345, 1});
  struct Case {
    uint32_t unit;
    uint32_t blockSize;
    uint32_t blocks;
    uint32_t lastLength;
  };
  const Case cases[] = {
      {0, 4096, 21, 4096},
      {0, 7300, 12, 21 * 4096 - 11 * 7300},
      {1, 4096, 4, 12345 - 3 * 4096},
      {1, 7300, 2, 12345 - 7300},
      {2, 4096, 1, 1},
      {0, 1, 21 * 4096, 1},
      {1, 12345, 1, 12345},
  };
  for (const Case& c : cases) {
    CAppFileReader reader(m_Image, c.blockSize);
    EXPECT_EQ(reader.GetBlockCount(c.unit), c.blocks);
    reader.SelectUnit(c.unit);
    std::vector<uint8_t> got;
    uint32_t length = 0;
    for (uint32_t b = 0; b < c.blocks; ++b) {
      const uint8_t* p = reader.NextBlock(length);
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(length, b + 1 < c.blocks ? c.blockSize : c.lastLength) << "unit " << c.unit << " block " << b;
      got.insert(got.end(), p, p + length);
    }
    EXPECT_EQ(got, m_Spec.units[c.unit].data) << "unit " << c.unit << " in blocks of " << c.blockSize;
    // used up: length 0 and no move
    const uint8_t* end1 = reader.NextBlock(length);
    EXPECT_EQ(length, 0u);
    const uint8_t* end2 = reader.NextBlock(length);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(end1, end2);
    EXPECT_EQ(reader.GetUnitHeader(c.unit).dataLength, m_Spec.units[c.unit].data.size());
  }
}

TEST_F(ReaderFixture, SelectingAnotherUnitRestartsAtItsData) {
  Open({10000, 5000});
  CAppFileReader reader(m_Image, 4096);
  reader.SelectUnit(0);
  uint32_t length = 0;
  reader.NextBlock(length);
  reader.SelectUnit(1);
  const uint8_t* p = reader.NextBlock(length);
  ASSERT_EQ(length, 4096u);
  EXPECT_EQ(0, std::memcmp(p, m_Spec.units[1].data.data(), 4096));
  reader.SelectUnit(0);
  p = reader.NextBlock(length);
  EXPECT_EQ(0, std::memcmp(p, m_Spec.units[0].data.data(), 4096));
  // indexes past the unit count select nothing
  reader.SelectUnit(2);
  reader.NextBlock(length);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(reader.GetBlockCount(2), 0u);
}

TEST(CAppFileReaderEmpty, AZeroLengthUnitHasNoBlocks) {
  ImageSpec spec;
  spec.units.push_back(UnitSpec{});
  const std::vector<uint8_t> bytes = BuildImage(spec);
  // only an embedded image may hold such a unit; walk it through a resource table
  const EmbeddedResourceEntry table[] = {{"BINARY", 146, "", bytes.data(), bytes.data() + bytes.size()},
                                         {nullptr, 0, nullptr, nullptr, nullptr}};
  SetResourceTableOverride(table);
  CBinFile image;
  const bool loaded = image.LoadFromResource(146);
  SetResourceTableOverride(nullptr);
  ASSERT_TRUE(loaded);
  CAppFileReader reader(image, 4096);
  EXPECT_EQ(reader.GetBlockCount(0), 0u);
  reader.SelectUnit(0);
  uint32_t length = 99;
  reader.NextBlock(length);
  EXPECT_EQ(length, 0u);
}

}  // namespace
