// The byte-order helpers every record of the tool goes through, against bytes written out by hand.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "platform/ByteOrder.h"

namespace {
using Bytes = std::vector<uint8_t>;
const Bytes kData = {0x12, 0x34, 0x56, 0x78, 0x9A};
}  // namespace

TEST(ByteOrder, ReadsTakeTheirByteOrderAndStayInside) {
  struct Case {
    const char* name;
    std::function<bool(uint64_t, uint32_t&)> read;
    uint64_t offset;
    bool ok;
    uint32_t value;
  };
  auto u8 = [](uint64_t o, uint32_t& v) {
    uint8_t x = 0xEE;
    const bool ok = bytes::ReadU8(kData, o, x);
    v = x;
    return ok;
  };
  auto u16le = [](uint64_t o, uint32_t& v) {
    uint16_t x = 0xEEEE;
    const bool ok = bytes::ReadU16LE(kData, o, x);
    v = x;
    return ok;
  };
  auto u16be = [](uint64_t o, uint32_t& v) {
    uint16_t x = 0xEEEE;
    const bool ok = bytes::ReadU16BE(kData, o, x);
    v = x;
    return ok;
  };
  auto u32le = [](uint64_t o, uint32_t& v) {
    v = 0xEEEEEEEE;
    return bytes::ReadU32LE(kData, o, v);
  };
  auto u32be = [](uint64_t o, uint32_t& v) {
    v = 0xEEEEEEEE;
    return bytes::ReadU32BE(kData, o, v);
  };
  const uint64_t huge = std::numeric_limits<uint64_t>::max() - 1;
  const Case cases[] = {
      {"u8 first", u8, 0, true, 0x12},
      {"u8 last", u8, 4, true, 0x9A},
      {"u8 past the end", u8, 5, false, 0xEE},
      {"u16 LE", u16le, 0, true, 0x3412},
      {"u16 BE", u16be, 0, true, 0x1234},
      {"u16 LE at the end", u16le, 3, true, 0x9A78},
      {"u16 BE at the end", u16be, 3, true, 0x789A},
      {"u16 LE one past", u16le, 4, false, 0xEEEE},
      {"u16 BE one past", u16be, 4, false, 0xEEEE},
      {"u32 LE", u32le, 1, true, 0x9A785634},
      {"u32 BE", u32be, 1, true, 0x3456789A},
      {"u32 LE one past", u32le, 2, false, 0xEEEEEEEE},
      {"u32 BE one past", u32be, 2, false, 0xEEEEEEEE},
      {"an offset that would wrap", u32le, huge, false, 0xEEEEEEEE},
      {"an offset that would wrap, BE", u16be, huge, false, 0xEEEE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t value = 0;
    EXPECT_EQ(c.read(c.offset, value), c.ok);
    EXPECT_EQ(value, c.value) << "a failed read leaves its output alone";
  }
}

TEST(ByteOrder, RangesSlicesAndComparisons) {
  EXPECT_TRUE(bytes::InRange(kData, 5, 0));
  EXPECT_FALSE(bytes::InRange(kData, 6, 0));
  EXPECT_FALSE(bytes::InRange(kData, 1, std::numeric_limits<uint64_t>::max()));
  EXPECT_EQ(Bytes(bytes::Slice(kData, 1, 3).begin(), bytes::Slice(kData, 1, 3).end()),
            (Bytes{0x34, 0x56, 0x78}));
  EXPECT_TRUE(bytes::Slice(kData, 3, 3).empty());
  const Bytes tail = {0x78, 0x9A};
  EXPECT_TRUE(bytes::EqualAt(kData, 3, tail));
  EXPECT_FALSE(bytes::EqualAt(kData, 2, tail));
  EXPECT_FALSE(bytes::EqualAt(kData, 4, tail)) << "runs past the end";
  uint8_t out[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_FALSE(bytes::ReadBytes(kData, 3, 3, out));
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_TRUE(bytes::ReadBytes(kData, 2, 3, out));
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x56, 0x78, 0x9A}));
}

TEST(ByteOrder, StoresWriteTheirBytesAndNothingElse) {
  struct Case {
    const char* name;
    std::function<void(uint8_t*)> store;
    Bytes expected;  // the guarded buffer afterwards
  };
  const Case cases[] = {
      {"u16 LE", [](uint8_t* d) { bytes::PutU16LE(d, 0x1234); }, {0xAA, 0x34, 0x12, 0xAA, 0xAA, 0xAA}},
      {"u16 BE", [](uint8_t* d) { bytes::PutU16BE(d, 0x1234); }, {0xAA, 0x12, 0x34, 0xAA, 0xAA, 0xAA}},
      {"u16 BE high byte",
       [](uint8_t* d) { bytes::PutU16BE(d, 0xFF00); },
       {0xAA, 0xFF, 0x00, 0xAA, 0xAA, 0xAA}},
      {"u32 LE", [](uint8_t* d) { bytes::PutU32LE(d, 0x12345678); }, {0xAA, 0x78, 0x56, 0x34, 0x12, 0xAA}},
      {"u32 BE", [](uint8_t* d) { bytes::PutU32BE(d, 0x12345678); }, {0xAA, 0x12, 0x34, 0x56, 0x78, 0xAA}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes buffer(6, 0xAA);
    c.store(buffer.data() + 1);
    EXPECT_EQ(buffer, c.expected);
  }
}
