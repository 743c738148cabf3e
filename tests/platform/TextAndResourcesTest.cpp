#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/TextCodec.h"
#include "platform/Warnings.h"

namespace {

TEST(TextFrom8Bit, KeepsUtf8AndConvertsOtherBytesAsLatin1) {
  EXPECT_EQ(TextFrom8Bit(std::string_view("1.2.3.4")), "1.2.3.4");
  EXPECT_EQ(TextFrom8Bit(std::string_view("\xE8\xB7\xAF")), "\xE8\xB7\xAF");  // valid UTF-8 stays
  EXPECT_EQ(TextFrom8Bit(std::string_view("A\xE9")), "A\xC3\xA9");            // Latin-1 e-acute
  EXPECT_EQ(TextFrom8Bit(std::string_view("\xFF")), "\xC3\xBF");
  // an overlong encoding and a lone continuation byte are not UTF-8
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\x80"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_TRUE(IsValidUtf8(""));
}

TEST(StringTable, HoldsTheToolsTextsAndRefusesUnknownIds) {
  EXPECT_EQ(LoadStringById(103), "Download successfully");
  EXPECT_EQ(LoadStringById(140), "The upgrade is in process. Please wait!");
  EXPECT_EQ(LoadStringById(146), "%");
  EXPECT_EQ(LoadStringById(148), "APP of router module");
  std::string text = "stale";
  EXPECT_FALSE(LoadStringById(104, text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(LoadStringById(162, text));
}

TEST(LoadRawResource, ServesTheTitleAndTreatsTinyBlobsAsMissing) {
  size_t size = 0;
  const unsigned char* title = LoadRawResource(150, "STRING", &size);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(title), size), "Q650 Upgrade");

  static const unsigned char one[1] = {0x42};
  static const unsigned char two[2] = {0x42, 0x43};
  static const EmbeddedResourceEntry table[] = {
      {"BINARY", 144, "", one, one + 1},
      {"BINARY", 145, "", two, two + 2},
      {"BINARY", 146, "", two, two},
      {"HELP", 0, "guide", two, two + 2},
      {nullptr, 0, nullptr, nullptr, nullptr},
  };
  SetResourceTableOverride(table);
  size = 99;
  EXPECT_EQ(LoadRawResource(144, "BINARY", &size), nullptr);
  EXPECT_EQ(size, 99u);  // a missing resource leaves the size alone
  EXPECT_EQ(LoadRawResource(146, "BINARY", &size), nullptr);
  EXPECT_EQ(LoadRawResource(145, "STRING", &size), nullptr);  // the type must match too
  EXPECT_EQ(LoadRawResource(145, "BINARY", &size), two);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(LoadRawResource("guide", "HELP", nullptr), two);
  EXPECT_EQ(LoadRawResource("other", "HELP", nullptr), nullptr);
  SetResourceTableOverride(nullptr);
  EXPECT_NE(LoadRawResource(150, "STRING"), nullptr);
}

class RecordingSink : public IWarningSink {
 public:
  int ShowWarning(const std::string& text) override {
    texts.push_back(text);
    return 1;
  }
  std::vector<std::string> texts;
};

TEST(Warnings, GoToTheInstalledSinkAndShowMessageLoadsTheText) {
  RecordingSink sink;
  {
    ScopedWarningSink use(sink);
    ShowMessage(137);
    ShowWarningText("m_UdpPort.Open() failed");
  }
  ShowWarningText("after the sink is gone");  // goes to stderr, not to the sink
  ASSERT_EQ(sink.texts.size(), 2u);
  EXPECT_EQ(sink.texts[0], "No router is detected");
  EXPECT_EQ(sink.texts[1], "m_UdpPort.Open() failed");
}

}  // namespace
