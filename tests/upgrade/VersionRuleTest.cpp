// The version rule of the Check, at unit level: parsing of version texts and the upgrade decision.

#include <gtest/gtest.h>

#include <string>

#include "UpgradeFixtures.h"
#include "image/CBinFile.h"
#include "upgrade/CheckProcedure.h"

namespace upgrade_test {
namespace {

struct ParseCase {
  const char* text;
  VersionTriple expected;
};

TEST(VersionRule, ParseVersionReadsTheFirstThreeNumbersOnly) {
  const ParseCase cases[] = {
      {"11.22.33.44", {11, 22, 33}},
      {"1.2.3.4.5.6", {1, 2, 3}},
      {"1.2.3", {1, 2, 0}},  // digits after the last separator are not stored
      {"1.2", {1, 0, 0}},
      {"7", {0, 0, 0}},
      {"", {0, 0, 0}},
      {"a.b.c.d", {0, 0, 0}},
      {"V1.2.3.4", {0, 1, 2}},  // the leading letter ends an empty first number
      {"1..3.4", {1, 0, 3}},
      {"10-20 30.40", {10, 20, 30}},  // any non-digit separates
      {"2147483647.1.1.1", {2147483647, 1, 1}},
      // long digit runs wrap at 32 bits instead of overflowing
      {"4294967297.1.1.0", {1, 1, 1}},
      {"2147483648.0.0.0", {-2147483647 - 1, 0, 0}},
      {"99999999999999999999.5.6.7", {static_cast<int32_t>(1661992959u), 5, 6}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseVersion(c.text), c.expected);
  }
}

struct DecisionCase {
  const char* current;
  const char* image;
  int expected;
};

class VersionRuleDecision : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(m_Dir.Path().empty()); }

  // An image that carries the version text, as the catalogue would hold it.
  bool MakeImage(CBinFile& image, const std::string& imageVersion) {
    const std::string folder = m_Dir.Path();
    if (WriteRouterImage(folder, MODULE_APP, imageVersion, 64, 7).empty()) {
      return false;
    }
    image.SetFilePath(folder + "/router-1.bin");
    return image.OpenFile(MODULE_NONE) && image.GetVersionText() == imageVersion;
  }

  TempDir m_Dir;
};

TEST_F(VersionRuleDecision, DecidesPerTheFirstTwoNumbersAndTheAcceptingThirdNumbers) {
  const DecisionCase cases[] = {
      {"1.2.0.5", "1.2.7.1", 1},    // third number 0 accepts any image
      {"1.2.994.0", "1.2.3.4", 1},  // so does 994
      {"1.2.3.4", "1.2.3.9", 1},    // the same third number
      {"1.2.3.4", "1.2.5.0", 0},
      {"1.2.5.4", "1.2.0.4", 0},  // the direction plays no part
      {"1.2.3.4", "1.3.3.4", 0},
      {"2.0.0.1", "1.9.9.9", 0},
      {"1.9.0.0", "2.9.0.0", 0},
      {"11.22.33.44", "11.22.33.99", 1},  // the fourth number is never compared
      {"1.2.3.4", "1.2.3.4", 1},
      {"1.2.3", "9.9.9.9", 1},  // two dots only: not a version text
      {"", "1.2.3.4", 1},
      {"Failed to read", "1.2.3.4", 1},
      {"No version", "1.2.3.4", 1},
      {"Can't read in force-load mode", "3.4.5.6", 1},
      {"1.2.3.4", "abc", 1},  // an image text that is not a version text
      {"abc", "abc", 1},
      {"4294967297.1.1.0", "1.1.7.0", 0},  // wrapped numbers compare like any other
  };
  for (const DecisionCase& c : cases) {
    SCOPED_TRACE(std::string(c.current) + " against " + c.image);
    CBinFile image;
    ASSERT_TRUE(MakeImage(image, c.image));
    const UpgradeDecision decision = DecideUpgrade(c.current, image.GetVersionText());
    EXPECT_EQ(decision == UpgradeDecision::Upgrade ? 1 : 0, c.expected);
  }
}

}  // namespace
}  // namespace upgrade_test
