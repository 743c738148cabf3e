#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/JsonWriter.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/TextCodec.h"
#include "platform/Warnings.h"
#include "support/RecordingSink.h"

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
      {"BINARY", 144, "", one, one + 1},       {"BINARY", 145, "", two, two + 2},
      {"BINARY", 146, "", two, two},           {"HELP", 0, "guide", two, two + 2},
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

TEST(Warnings, GoToTheInstalledSinkAndShowMessageLoadsTheText) {
  RecordingSink sink;
  {
    ScopedWarningSink use(sink);
    ShowMessage(137);
    ShowWarningText("m_UdpPort.Open() failed");
  }
  ShowWarningText("after the sink is gone");  // goes to stderr, not to the sink
  ASSERT_EQ(sink.Texts().size(), 2u);
  EXPECT_EQ(sink.Texts()[0], "No router is detected");
  EXPECT_EQ(sink.Texts()[1], "m_UdpPort.Open() failed");
}

}  // namespace

namespace {

// Text from a router or a file is shown with its controls made visible: C0, DEL and C1 (also when
// they arrive as Latin-1 bytes) become "\xNN"; printable text, UTF-8 and backslashes stay.
TEST(PrintableText, ReplacesEveryControlCharacterAndKeepsTheRest) {
  struct Case {
    std::string in;
    bool keepLineBreaks;
    std::string out;
  };
  const Case cases[] = {
      {"2.1.10.7", false, "2.1.10.7"},
      {"\x1b]0;title\x07\x1b[2J\x1b[32mDownload successfully", false,
       "\\x1b]0;title\\x07\\x1b[2J\\x1b[32mDownload successfully"},
      {std::string("a\0b", 3), false, "a\\x00b"},
      {"del\x7f", false, "del\\x7f"},
      {"csi\xc2\x9b"
       "31m",
       false, "csi\\x9b31m"},  // C1 control as UTF-8
      {"csi\x9b"
       "31m",
       false, "csi\\x9b31m"},                       // the same as a Latin-1 byte
      {"nbsp\xc2\xa0ok", false, "nbsp\xc2\xa0ok"},  // U+00A0 is not a control
      {"\xe8\xb7\xaf\xe7\x94\xb1", false, "\xe8\xb7\xaf\xe7\x94\xb1"},
      {"a\\x1b", false, "a\\x1b"},
      {"line\r\n\tnext", false, "line\\x0d\\x0a\\x09next"},
      {"line\r\n\tnext\x1b", true, "line\r\n\tnext\\x1b"},
      {"", false, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PrintableText(c.in, c.keepLineBreaks), c.out) << c.in;
  // whatever the input, no control byte survives
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string shown = PrintableText(all);
  EXPECT_TRUE(IsValidUtf8(shown));
  for (size_t i = 0; i < shown.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(shown[i]);
    EXPECT_FALSE(c < 0x20 || c == 0x7F) << i;
    if (c == 0xC2 && i + 1 < shown.size()) {
      const unsigned char next = static_cast<unsigned char>(shown[i + 1]);
      EXPECT_FALSE(next >= 0x80 && next <= 0x9F) << i;
    }
  }
}

TEST(JsonWriter, DocumentsAreValidUtf8WithEveryControlEscaped) {
  JsonValue doc = JsonValue::object();
  doc["plain"] = JsonText("1.2.3");
  doc["latin1"] = JsonText("caf\xe9");
  doc["controls"] = JsonText("\x1b[2J\x07\x7f\xc2\x9b");
  doc["raw"] = std::string("bad\xff");  // set without JsonText: replaced, never invalid
  doc["list"] = JsonValue::array({1, nullptr, true});
  const std::string text = JsonDump(doc);
  EXPECT_EQ(
      text,
      "{\"plain\":\"1.2.3\",\"latin1\":\"caf\xc3\xa9\",\"controls\":\"\\u001b[2J\\u0007\\u007f\\u009b\","
      "\"raw\":\"bad\xef\xbf\xbd\",\"list\":[1,null,true]}");
  EXPECT_TRUE(IsValidUtf8(text));
  const JsonValue back = JsonValue::parse(text);
  EXPECT_EQ(back["controls"], "\x1b[2J\x07\x7f\xc2\x9b");
  EXPECT_EQ(back["latin1"], "caf\xc3\xa9");
  // indented output parses to the same document
  EXPECT_EQ(JsonValue::parse(JsonDump(doc, 2)), back);
}

}  // namespace
