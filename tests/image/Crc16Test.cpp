#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "image/Crc16.h"
#include "tools/ImageBuilder.h"

namespace {

// Straight from the definition: reflected polynomial 0x8408, one bit at a time.
uint16_t BitwiseRun(uint16_t reg, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int b = 0; b < 8; ++b)
      reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : static_cast<uint16_t>(reg >> 1);
  }
  return reg;
}

TEST(Crc16, StandardCheckValuesAndTableMatchTheBitwiseDefinition) {
  EXPECT_EQ(Crc16Compute("123456789", 9), 0x906E);
  EXPECT_EQ(Crc16Compute("", 0), 0x0000);  // ~0xFFFF
  EXPECT_EQ(kCrc16Table[0], 0x0000);
  EXPECT_EQ(kCrc16Table[1], 0x1189);
  EXPECT_EQ(kCrc16Table[128], 0x8408);
  EXPECT_EQ(kCrc16Table[255], 0x0F78);
  for (unsigned v = 0; v < 256; ++v) {
    const uint8_t byte = static_cast<uint8_t>(v);
    EXPECT_EQ(kCrc16Table[v], BitwiseRun(0, &byte, 1)) << "entry " << v;
    for (uint16_t start : {uint16_t{0xFFFF}, uint16_t{0x0000}, uint16_t{0xA5C3}}) {
      uint16_t reg = start;
      Crc16Update(reg, byte);
      ASSERT_EQ(reg, BitwiseRun(start, &byte, 1)) << "byte " << v << " start " << start;
    }
  }
}

// Every method on every length up to a few rounds of the widest fold (256 bytes a round, so the
// ends of the 512-bit, 128-bit and byte loops all meet every remainder), long runs, odd alignments and
// several start values must give what the one-byte step gives. A method this CPU lacks is still
// called (it falls back) and must agree too; the available ones are named in the output.
TEST(Crc16, AllMethodsAgreeWithTheOneByteStep) {
  const std::vector<uint8_t> data = GeneratePayload(70000 + 64, 7);  // the longest run at the largest offset
  const std::vector<size_t> lengths = [] {
    std::vector<size_t> v;
    for (size_t n = 0; n <= 600; ++n) v.push_back(n);
    for (size_t n :
         {767u, 768u, 769u, 1023u, 1024u, 1025u, 4095u, 4096u, 4097u, 4111u, 7300u, 12345u, 65536u, 69980u})
      v.push_back(n);
    return v;
  }();
  const struct {
    Crc16Method method;
    const char* name;
  } methods[] = {{Crc16Method::Bytewise, "bytewise"},
                 {Crc16Method::Slice16, "slice16"},
                 {Crc16Method::Clmul, "clmul"},
                 {Crc16Method::Vpclmul512, "vpclmul512"}};
  for (const auto& m : methods)
    std::printf("%s: %s\n", m.name,
                Crc16MethodAvailable(m.method) ? "available" : "not on this CPU (falls back)");
  for (size_t align : {0u, 1u, 3u, 7u, 13u, 63u}) {
    for (size_t n : lengths) {
      for (uint16_t start : {uint16_t{0xFFFF}, uint16_t{0}, uint16_t{0x1D0F}, uint16_t{0x8000}}) {
        uint16_t expected = start;
        for (size_t i = 0; i < n; ++i) Crc16Update(expected, data[align + i]);
        for (const auto& m : methods)
          ASSERT_EQ(Crc16RunWith(m.method, start, data.data() + align, n), expected)
              << m.name << " length " << n << " align " << align << " start " << start;
        ASSERT_EQ(Crc16Run(start, data.data() + align, n), expected);
      }
    }
  }
}

// The CPU check picks the widest fold this machine has, and a wider method is only ever reported
// where the narrower one it falls back to is there too.
TEST(Crc16, TheFastestAvailableMethodIsChosen) {
  const bool wide = Crc16MethodAvailable(Crc16Method::Vpclmul512);
  const bool clmul = Crc16MethodAvailable(Crc16Method::Clmul);
  EXPECT_TRUE(Crc16MethodAvailable(Crc16Method::Slice16));
  EXPECT_TRUE(!wide || clmul);
  const Crc16Method expected = wide    ? Crc16Method::Vpclmul512
                               : clmul ? Crc16Method::Clmul
                                       : Crc16Method::Slice16;
  EXPECT_EQ(Crc16FastestMethod(), expected);
}

TEST(Crc16, RunsCanBeChainedAndSeeEveryBitFlip) {
  const std::vector<uint8_t> data = GeneratePayload(5000, 11);
  const uint16_t whole = Crc16Run(0xFFFF, data.data(), data.size());
  for (size_t cut : {0u, 1u, 15u, 16u, 63u, 64u, 65u, 2500u, 4999u, 5000u})
    EXPECT_EQ(Crc16Run(Crc16Run(0xFFFF, data.data(), cut), data.data() + cut, data.size() - cut), whole)
        << cut;

  // a CRC-16 catches every single-bit error; check it through the fast path over a long run
  std::vector<uint8_t> flipped = data;
  for (size_t bit = 0; bit < data.size() * 8; bit += 97) {
    flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    ASSERT_NE(Crc16Compute(flipped.data(), flipped.size()), Crc16Compute(data.data(), data.size())) << bit;
    flipped[bit / 8] = data[bit / 8];
  }
}

}  // namespace
