#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "protocol/Hdlc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bit-wise CRC-16/X.25 register step, independent of the table the codec uses.
uint16_t RefRun(uint16_t reg, const Bytes& data) {
  for (uint8_t b : data) {
    reg ^= b;
    for (int k = 0; k < 8; ++k)
      reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : static_cast<uint16_t>(reg >> 1);
  }
  return reg;
}

// Byte-at-a-time reference encoder.
Bytes RefEncode(const Bytes& payload, bool leadingFlag) {
  Bytes out;
  if (leadingFlag) out.push_back(0x7E);
  uint16_t fcs = static_cast<uint16_t>(~RefRun(0xFFFF, payload));
  Bytes body = payload;
  body.push_back(static_cast<uint8_t>(fcs & 0xFF));
  body.push_back(static_cast<uint8_t>(fcs >> 8));
  for (uint8_t b : body) {
    if (b == 0x7E || b == 0x7D) {
      out.push_back(0x7D);
      out.push_back(static_cast<uint8_t>(b ^ 0x20));
    } else {
      out.push_back(b);
    }
  }
  out.push_back(0x7E);
  return out;
}

Bytes Encode(const Bytes& payload, bool leadingFlag) {
  Bytes out(HdlcMaxEncodedSize(payload.size()) + 16, 0xCC);
  int n = HdlcEncodeFrame(payload.data(), payload.size(), out.data(), leadingFlag);
  // nothing written past the returned length
  for (size_t i = static_cast<size_t>(n); i < out.size(); ++i) EXPECT_EQ(out[i], 0xCC) << "byte " << i;
  out.resize(static_cast<size_t>(n));
  return out;
}

// Decodes into a separate buffer; returns the payload, or nullopt-like empty + ok=false.
bool Decode(const Bytes& frame, Bytes& payload) {
  Bytes out(frame.size() + 2, 0);
  unsigned n = HdlcDecodeFrame(frame.data(), frame.size(), out.data());
  if (n == 0) return false;
  payload.assign(out.begin(), out.begin() + n);
  return true;
}

struct Golden {
  const char* name;
  Bytes payload;
  bool leadingFlag;
  Bytes frame;
};

TEST(HdlcEncode, GoldenFrames) {
  const Golden cases[] = {
      {"check string",
       {'1', '2', '3', '4', '5', '6', '7', '8', '9'},
       true,
       {0x7E, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x6E, 0x90, 0x7E}},
      {"flag and escape with leading flag",
       {0x7E, 0x7D},
       true,
       {0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0xF1, 0xCD, 0x7E}},
      {"flag and escape without leading flag",
       {0x7E, 0x7D},
       false,
       {0x7D, 0x5E, 0x7D, 0x5D, 0xF1, 0xCD, 0x7E}},
      {"diag request", {0x4B, 0xC9, 0x03, 0xFF}, false, {0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x99, 0x7E}},
      {"fcs high byte is a flag", {0x00, 0x52}, true, {0x7E, 0x00, 0x52, 0xD0, 0x7D, 0x5E, 0x7E}},
      {"fcs low byte is an escape", {0x00, 0x57}, true, {0x7E, 0x00, 0x57, 0x7D, 0x5D, 0x29, 0x7E}},
      {"both fcs bytes are flags", {0x1B, 0x00}, true, {0x7E, 0x1B, 0x00, 0x7D, 0x5E, 0x7D, 0x5E, 0x7E}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Encode(c.payload, c.leadingFlag), c.frame);
    Bytes back;
    ASSERT_TRUE(Decode(c.frame, back));
    EXPECT_EQ(back, c.payload);
  }
}

TEST(HdlcEncode, AppendEscapedAdvancesPositionAndRegister) {
  // appending in two halves must give the bytes and register of one append
  const Bytes src = {0x01, 0x7E, 0x02, 0x7D, 0x7D, 0x03, 0x7E};
  uint8_t whole[32] = {};
  uint8_t parts[32] = {};
  int posWhole = 3;
  int posParts = 3;
  uint16_t regWhole = 0xFFFF;
  uint16_t regParts = 0xFFFF;
  HdlcAppendEscaped(whole, posWhole, src.data(), src.size(), regWhole);
  HdlcAppendEscaped(parts, posParts, src.data(), 4, regParts);
  HdlcAppendEscaped(parts, posParts, src.data() + 4, src.size() - 4, regParts);
  EXPECT_EQ(posWhole, 3 + 7 + 4);
  EXPECT_EQ(posParts, posWhole);
  EXPECT_EQ(regWhole, RefRun(0xFFFF, src));
  EXPECT_EQ(regParts, regWhole);
  const uint8_t expected[] = {0x01, 0x7D, 0x5E, 0x02, 0x7D, 0x5D, 0x7D, 0x5D, 0x03, 0x7D, 0x5E};
  EXPECT_EQ(0, memcmp(whole + 3, expected, sizeof expected));
  EXPECT_EQ(0, memcmp(parts + 3, expected, sizeof expected));
  EXPECT_EQ(whole[0], 0);  // bytes before the position are left alone

  int pos = 5;
  uint16_t reg = 0x1234;
  HdlcAppendEscaped(whole, pos, src.data(), 0, reg);
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(reg, 0x1234);
}

TEST(HdlcEncode, WorstCaseFitsTheWriteBuffer) {
  Bytes payload(kHdlcMaxPayload, 0x7E);
  EXPECT_EQ(HdlcMaxEncodedSize(kHdlcMaxPayload), kHdlcWriteBufferSize);
  Bytes frame = Encode(payload, true);
  EXPECT_LE(frame.size(), kHdlcWriteBufferSize);
  EXPECT_EQ(frame, RefEncode(payload, true));
}

TEST(HdlcFrameWriter, PartsMakeTheSameFrameAsTheirConcatenation) {
  struct Case {
    const char* name;
    std::vector<Bytes> parts;
    bool leadingFlag;
  };
  const Case cases[] = {
      {"header and block", {{0x0F, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04}, {1, 2, 3, 4}}, true},
      {"a flag on each side of the cut", {{0x01, 0x7E}, {0x7E, 0x02}}, true},
      {"an escape that ends a part", {{0x7D}, {0x5D}, {0x7D}}, false},
      {"an empty part between", {{0x4B}, {}, {0xC9, 0x03}}, true},
      {"one part", {{0x3A}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes whole;
    for (const Bytes& p : c.parts) whole.insert(whole.end(), p.begin(), p.end());
    Bytes out(HdlcMaxEncodedSize(whole.size()), 0x5A);
    HdlcFrameWriter writer(out, c.leadingFlag);
    for (const Bytes& p : c.parts) EXPECT_TRUE(writer.Append(p));
    const size_t length = writer.Finish();
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(length)), RefEncode(whole, c.leadingFlag));
    EXPECT_EQ(writer.Finish(), 0u) << "a frame is finished once";
  }
}

TEST(HdlcFrameWriter, RefusesWhatMightNotFitAndWritesNothingPastTheBuffer) {
  struct Case {
    const char* name;
    size_t room;
    Bytes payload;
    bool fits;
  };
  const Case cases[] = {
      {"nothing, not even the flag", 0, {0x01}, false},
      {"room for the worst case", HdlcMaxEncodedSize(3), {0x01, 0x02, 0x03}, true},
      {"one short of the worst case for the payload", 1 + 2 * 3 - 1, {0x01, 0x02, 0x03}, false},
      // the payload took 3 bytes: what is left must hold both FCS bytes escaped and the flag
      {"payload written, the FCS might not fit", 1 + 3 + 4, {0x01, 0x02, 0x03}, false},
      {"payload written and the worst FCS fits", 1 + 3 + 5, {0x01, 0x02, 0x03}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.room + 8, 0x5A);  // eight guard bytes past the room given
    HdlcFrameWriter writer(std::span<uint8_t>(out.data(), c.room), true);
    writer.Append(c.payload);
    const size_t length = writer.Finish();
    EXPECT_EQ(length != 0, c.fits);
    if (c.fits) {
      EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(length)), RefEncode(c.payload, true));
    }
    EXPECT_EQ(Bytes(out.end() - 8, out.end()), Bytes(8, 0x5A));
  }
}

TEST(HdlcDecode, AcceptsFramesWithAndWithoutFlags) {
  const Bytes payload = {0x4B, 0xC9, 0x03, 0xFF};
  const Bytes body = {0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x99};
  const struct {
    const char* name;
    Bytes frame;
  } cases[] = {
      {"both flags", {0x7E, 0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x99, 0x7E}},
      {"closing flag only", {0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x99, 0x7E}},
      {"opening flag only", {0x7E, 0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x99}},
      {"no flags", body},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.frame.size(), 0);
    unsigned n = HdlcDecodeFrame(c.frame.data(), c.frame.size(), out.data());
    ASSERT_EQ(n, payload.size());
    // the output holds the payload followed by its two FCS bytes
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), body);
  }
}

TEST(HdlcDecode, RejectsBadFrames) {
  const struct {
    const char* name;
    Bytes frame;
  } cases[] = {
      {"empty", {}},
      {"lone flag", {0x7E}},
      {"two flags", {0x7E, 0x7E}},
      {"wrong fcs", {0x7E, 0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x98, 0x7E}},
      {"payload bit flipped", {0x7E, 0x4A, 0xC9, 0x03, 0xFF, 0xE8, 0x99, 0x7E}},
      {"two bytes only", {0x7E, 0x00, 0x00, 0x7E}},
      {"one byte only", {0x7E, 0x12, 0x7E}},
      {"lone trailing escape", {0x7E, 0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x99, 0x7D, 0x7E}},
      {"lone escape without flags", {0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x99, 0x7D}},
      {"escape eats the fcs", {0x7E, 0x4B, 0xC9, 0x03, 0xFF, 0xE8, 0x7D, 0x99, 0x7E}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.frame.size() + 2, 0);
    EXPECT_EQ(HdlcDecodeFrame(c.frame.data(), c.frame.size(), out.data()), 0u);
  }
  uint8_t out[4];
  EXPECT_EQ(HdlcDecodeFrame(nullptr, 5, out), 0u);
}

TEST(HdlcDecode, ShortestGoodFrameHasOnePayloadByte) {
  Bytes frame = RefEncode({0x5A}, true);
  Bytes back;
  ASSERT_TRUE(Decode(frame, back));
  EXPECT_EQ(back, Bytes{0x5A});
}

TEST(HdlcRoundTrip, RandomPayloadsMatchTheReferenceAndDecodeInPlace) {
  std::mt19937 rng(12345);
  // sizes around the scanner's 8-byte steps, escape densities from none to all
  const size_t sizes[] = {1, 2, 7, 8, 9, 15, 16, 17, 63, 64, 65, 1000, 4096, kHdlcMaxPayload};
  const int densities[] = {0, 1, 30, 100};  // percent of bytes that are 7E or 7D
  for (size_t size : sizes) {
    for (int density : densities) {
      for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(testing::Message() << "size " << size << " density " << density << " round " << round);
        Bytes payload(size);
        for (auto& b : payload) {
          if (static_cast<int>(rng() % 100) < density) {
            b = (rng() & 1) ? 0x7E : 0x7D;
          } else {
            b = static_cast<uint8_t>(rng());
            if (density == 0 && (b == 0x7E || b == 0x7D)) b = 0x00;
          }
        }
        bool lead = (round & 1) != 0;
        Bytes frame = Encode(payload, lead);
        ASSERT_EQ(frame, RefEncode(payload, lead));
        // decoding in place, as the receiver does in its assembly buffer
        Bytes inPlace = frame;
        unsigned n = HdlcDecodeFrame(inPlace.data(), inPlace.size(), inPlace.data());
        ASSERT_EQ(n, size);
        ASSERT_TRUE(std::equal(payload.begin(), payload.end(), inPlace.begin()));
        // any single corrupted byte between the flags is caught
        Bytes broken = frame;
        size_t at = (lead ? 1 : 0) + rng() % (broken.size() - (lead ? 2 : 1));
        broken[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        if (broken[at] == 0x7E) broken[at] ^= 0x01;
        Bytes ignored;
        EXPECT_FALSE(Decode(broken, ignored)) << "corrupted at " << at;
      }
    }
  }
}

}  // namespace
