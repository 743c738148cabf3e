// Router datagram and upgrade control packet layouts, and which discovery answers qualify.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ScriptedPeers.h"
#include "protocol/RouterDatagram.h"

TEST(RouterAddresses, TextForms) {
  const IpAddress ip{{192, 168, 1, 1}};
  const MacAddress mac{{0x00, 0x1E, 0x10, 0xAB, 0x0C, 0xFF}};
  EXPECT_EQ(ip.ToString(), "192.168.1.1");
  EXPECT_EQ(IpAddress{}.ToString(), "0.0.0.0");
  EXPECT_EQ(IpAddress({{255, 255, 255, 255}}).ToString(), "255.255.255.255");
  EXPECT_EQ(mac.ToString(), "00-1E-10-AB-0C-FF");
  EXPECT_TRUE(MacAddress{}.IsZero());
  EXPECT_FALSE(MacAddress({{0, 0, 0, 0, 0, 1}}).IsZero());
}

TEST(RouterDatagramLayout, FieldsAtTheirOffsets) {
  RouterDatagram d;
  d.bytes.fill(0xEE);
  d.Set(RDG_ENTER_FORCE_LOAD, IpAddress{{10, 1, 2, 3}}, MacAddress{{1, 2, 3, 4, 5, 6}});
  EXPECT_EQ(
      Hex(Bytes(d.bytes.begin(), d.bytes.end())),
      "07 0A 01 02 03 01 02 03 04 05 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(d.Type(), 7);
  EXPECT_EQ(d.Ip().ToString(), "10.1.2.3");
  EXPECT_EQ(d.Mac().ToString(), "01-02-03-04-05-06");
  EXPECT_EQ(d.Text(), "");
  std::memcpy(d.bytes.data() + 11, "abcdefghijklmnopqrstu", 21);
  EXPECT_EQ(d.Text(), "abcdefghijklmnopqrstu") << "21 text bytes without terminator";
}

TEST(UpgradeControlPacket, Layouts) {
  struct Case {
    int kind;
    uint32_t value;
    const char* text;  // 29 bytes, or nullptr for zeros
  };
  const Case cases[] = {
      {0, 4096, "Tavrix RUT Begin Download Pkt"},
      {1, 0, "Tavrix FWT Begin Download Pkt"},
      {2, 0, "Tavrix FWT Force Download Pkt"},
      {3, 0x11223344, nullptr},
      {-1, 7, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    uint8_t packet[kUpgradeControlPacketSize];
    std::memset(packet, 0xAA, sizeof packet);
    BuildUpgradeControlPacket(packet, c.kind, c.value);
    Bytes expected = {0xFF};
    const std::string text = c.text ? c.text : std::string(29, '\0');
    ASSERT_EQ(text.size(), 29u);
    expected.insert(expected.end(), text.begin(), text.end());
    for (int i = 0; i < 4; ++i) expected.push_back(static_cast<uint8_t>(c.value >> (8 * i)));
    expected.resize(40, 0);
    EXPECT_EQ(Hex(Bytes(packet, packet + 40)), Hex(expected));
  }
  uint8_t packet[kUpgradeControlPacketSize];
  BuildUpgradeControlPacket(packet, 0, 4096);
  EXPECT_EQ(Hex(Bytes(packet + 30, packet + 34)), "00 10 00 00");
}

TEST(DiscoveryAnswer, QualificationAndShortAnswers) {
  struct Case {
    const char* name;
    Bytes payload;
    bool qualifies;
    const char* mac;
    const char* ip;
    const char* text;
  };
  auto full = [](uint8_t type, Bytes mac, std::string text) {
    Bytes b(32, 0);
    b[0] = type;
    b[1] = 192;
    b[2] = 168;
    b[3] = 1;
    b[4] = 1;
    std::copy(mac.begin(), mac.end(), b.begin() + 5);
    std::copy(text.begin(), text.end(), b.begin() + 11);
    return b;
  };
  Bytes longer = full(1, {0, 0x1E, 0x10, 1, 2, 3}, "1.0.0.0");
  longer.push_back(0x55);
  Bytes probe(32, 0);
  probe[0] = 1;
  Bytes shorter = full(1, {1, 1, 1, 1, 1, 1}, std::string(20, 'x') + "y");
  shorter.resize(31);
  const Case cases[] = {
      {"full answer", full(1, {0, 0x1E, 0x10, 1, 2, 3}, "1.0.0.0"), true, "00-1E-10-01-02-03", "192.168.1.1",
       "1.0.0.0"},
      {"21 text bytes", full(1, {0, 0, 0, 0, 0, 1}, "abcdefghijklmnopqrstu"), true, "00-00-00-00-00-01",
       "192.168.1.1", "abcdefghijklmnopqrstu"},
      {"zero MAC", full(1, {0, 0, 0, 0, 0, 0}, "1.0.0.0"), false, "", "", ""},
      {"foreign type", full(6, {0, 0x1E, 0x10, 1, 2, 3}, ""), false, "", "", ""},
      {"the probe itself", probe, false, "", "", ""},
      {"33 bytes: the first 32 count", longer, true, "00-1E-10-01-02-03", "192.168.1.1", "1.0.0.0"},
      // fields beyond the answer's end read as zero, not as frame check or fill bytes
      {"ends after the IP", {1, 10, 0, 0, 1}, false, "", "", ""},
      {"ends inside the IP", {1, 10, 0}, false, "", "", ""},
      {"ends inside the MAC", {1, 10, 0, 0, 1, 0xAA, 0xBB}, true, "AA-BB-00-00-00-00", "10.0.0.1", ""},
      {"ends inside the text",
       {1, 10, 0, 0, 1, 0, 0, 0, 0, 0, 9, 'h', 'i'},
       true,
       "00-00-00-00-00-09",
       "10.0.0.1",
       "hi"},
      {"31 bytes", shorter, true, "01-01-01-01-01-01", "192.168.1.1", "xxxxxxxxxxxxxxxxxxxx"},
      {"one byte", {1}, false, "", "", ""},
      {"empty", {}, false, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MacAddress mac{{9, 9, 9, 9, 9, 9}};
    IpAddress ip{{9, 9, 9, 9}};
    std::string text = "before";
    EXPECT_EQ(ParseDiscoveryAnswer(c.payload, mac, ip, text), c.qualifies);
    if (c.qualifies) {
      EXPECT_EQ(mac.ToString(), c.mac);
      EXPECT_EQ(ip.ToString(), c.ip);
      EXPECT_EQ(text, c.text);
    } else {
      EXPECT_EQ(mac.ToString(), "09-09-09-09-09-09");
      EXPECT_EQ(ip.ToString(), "9.9.9.9");
      EXPECT_EQ(text, "before");
    }
  }
}

// Only a whole record that starts with FF is a result: anything else the router sends meanwhile
// (a shorter or longer message, a record whose first byte differs) must not end the wait as a
// success or as a failure with a code read from unrelated bytes.
TEST(RouterResultRecord, OnlyWholeRecordsCarryACode) {
  auto record = [](size_t size, uint8_t first, uint32_t code) {
    std::vector<uint8_t> bytes(size, 0x00);
    if (size > 0) bytes[0] = first;
    for (size_t i = 0; i < 4 && kRouterResultCodeOffset + i < size; ++i) {
      bytes[kRouterResultCodeOffset + i] = static_cast<uint8_t>(code >> (8 * i));
    }
    return bytes;
  };
  struct Case {
    std::vector<uint8_t> bytes;
    std::optional<uint32_t> expected;
  } cases[] = {
      {record(40, 0xFF, 4), 4u},
      {record(40, 0xFF, 7), 7u},
      {record(40, 0xFF, 0x04030201), 0x04030201u},
      {record(40, 0xFE, 4), std::nullopt},
      {record(39, 0xFF, 4), std::nullopt},
      {record(41, 0xFF, 4), std::nullopt},
      {record(33, 0xFF, 4), std::nullopt},
      {record(0, 0xFF, 4), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseRouterResultRecord(c.bytes), c.expected) << "size " << c.bytes.size();
  }
}
