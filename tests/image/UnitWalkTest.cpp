#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/Crc16.h"
#include "image/ImageFormat.h"
#include "image/UnitWalk.h"
#include "tools/ImageBuilder.h"

namespace L = image_layout;

namespace {

void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

struct Walked {
  bool ok = false;
  std::vector<UnitHeader> units;
  std::vector<UnitExtent> extents;
  std::string reason;
};

Walked Walk(const std::vector<uint8_t>& image, bool verify) {
  Walked w;
  w.ok = WalkUnits(std::span<const uint8_t>(image), verify, w.units, w.extents, &w.reason);
  return w;
}

WirelessImageSpec ThreeUnits() {
  WirelessImageSpec s;
  s.version = "FW 1.0";
  s.blockSize = 64;
  s.units = {
      {0x1000, GeneratePayload(131, 1)}, {0x2000, GeneratePayload(64, 2)}, {0x3000, GeneratePayload(5, 3)}};
  return s;
}

TEST(UnitWalk, BuiltImagesWalkBackToWhatWasBuilt) {
  struct Case {
    const char* name;
    std::vector<uint8_t> image;
    std::vector<UnitPlacement> placements;
  };
  std::vector<Case> cases;
  for (int blockSize : {1, 3, 64, 4096}) {
    for (size_t payload : {0u, 1u, 2u, 3u, 4095u, 4096u, 10000u}) {
      RouterImageSpec r;
      r.module = MODULE_APP;
      r.blockSize = static_cast<uint32_t>(blockSize);
      r.payload = GeneratePayload(payload, static_cast<uint32_t>(payload));
      Case c{"router", {}, {}};
      c.image = BuildRouterImage(r, &c.placements);
      cases.push_back(std::move(c));
    }
  }
  Case w{"wireless", {}, {}};
  w.image = BuildWirelessImage(ThreeUnits(), &w.placements);
  cases.push_back(std::move(w));

  for (const Case& c : cases) {
    for (bool verify : {true, false}) {
      const Walked got = Walk(c.image, verify);
      ASSERT_TRUE(got.ok) << c.name << ": " << got.reason;
      ASSERT_EQ(got.extents.size(), c.placements.size());
      for (size_t i = 0; i < c.placements.size(); ++i) {
        EXPECT_EQ(got.extents[i].offset, c.placements[i].dataOffset);
        EXPECT_EQ(got.extents[i].length, c.placements[i].dataLength);
        EXPECT_EQ(got.units[i].headerLength, 98 + 2 * c.placements[i].blockCount);
        EXPECT_EQ(c.placements[i].headerOffset % 4, 0u) << "units start on a multiple of 4";
      }
    }
  }
}

TEST(UnitWalk, HeaderFieldsAreReadAtTheirOffsets) {
  ImageSpec spec;
  UnitSpec u;
  u.magic = L::kWirelessMagic;
  u.hardwareId = {'U', 'N', 'L', 'O', 'C', 'K', '0', '1'};
  u.loadAddress = 0x80201000;
  u.blockSize = 512;
  u.unitFormat = 1;
  u.date = "2026.12.09";
  u.time = "07.45.00";
  u.name = "amss";
  u.data = GeneratePayload(1500, 9);
  spec.units = {u};
  const std::vector<uint8_t> image = BuildImage(spec);
  const Walked w = Walk(image, true);
  ASSERT_TRUE(w.ok) << w.reason;
  const UnitHeader& h = w.units[0];
  EXPECT_EQ(0, std::memcmp(h.magic, L::kWirelessMagic.data(), 4));
  EXPECT_EQ(0, std::memcmp(h.hardwareId, "UNLOCK01", 8));
  EXPECT_EQ(h.loadAddress, 0x80201000u);
  EXPECT_EQ(h.dataLength, 1500u);
  EXPECT_EQ(h.blockSize, 512u);
  EXPECT_EQ(h.unitFormat, 1u);
  EXPECT_STREQ(h.date, "2026.12.09");
  EXPECT_STREQ(h.time, "07.45.00");
  EXPECT_STREQ(h.name, "amss");
  EXPECT_EQ(h.headerLength, 98u + 2 * 3);
}

// A cut inside a unit is refused. A cut right after a unit's data (with or without its fill) leaves
// a shorter image whose last unit simply lacks the fill, which is valid.
TEST(UnitWalk, CutsInsideAUnitAreRefusedCutsAtAUnitEndAreNot) {
  std::vector<UnitPlacement> placements;
  const std::vector<uint8_t> image = BuildWirelessImage(ThreeUnits(), &placements);
  ASSERT_GT(placements.back().fillLength, 0u) << "the case needs a last unit with fill";
  for (size_t n = 0; n < image.size(); ++n) {
    size_t unitsBefore = 0;
    bool atUnitEnd = false;
    for (const UnitPlacement& p : placements) {
      const size_t end = p.dataOffset + p.dataLength;
      if (n >= end) ++unitsBefore;
      if (n >= end && n <= end + p.fillLength) atUnitEnd = true;
    }
    const std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<long>(n));
    for (bool verify : {true, false}) {
      const Walked w = Walk(cut, verify);
      if (atUnitEnd) {
        EXPECT_TRUE(w.ok) << "length " << n << ": " << w.reason;
        EXPECT_EQ(w.units.size(), unitsBefore) << "length " << n;
      } else {
        EXPECT_FALSE(w.ok) << "length " << n << " verify " << verify;
      }
    }
  }
  ImageSpec noFill;
  noFill.damage.omitLastFill = true;
  UnitSpec u;
  u.data = GeneratePayload(7, 1);
  noFill.units = {u};
  const std::vector<uint8_t> built = BuildImage(noFill);
  EXPECT_EQ(built.size(), 92u + 98 + 2 + 7);
  EXPECT_TRUE(Walk(built, true).ok);
}

TEST(UnitWalk, DamageIsFoundWhenVerifyingAndOverlookedOtherwise) {
  struct Case {
    const char* name;
    ImageDamage damage;
    const char* reason;
    bool walksUnverified;
  };
  auto damage = [](auto set) {
    ImageDamage d;
    set(d);
    return d;
  };
  const Case cases[] = {
      {"header CRC of the second unit", damage([](ImageDamage& d) { d.headerCrcUnit = 1; }),
       "unit 1: header CRC", true},
      {"first block", damage([](ImageDamage& d) {
         d.blockCrcUnit = 0;
         d.blockCrcBlock = 0;
       }),
       "unit 0: block 0 CRC", true},
      {"short last block", damage([](ImageDamage& d) {
         d.blockCrcUnit = 0;
         d.blockCrcBlock = 2;
       }),
       "unit 0: block 2 CRC", true},
      {"only block of the last unit", damage([](ImageDamage& d) {
         d.blockCrcUnit = 2;
         d.blockCrcBlock = 0;
       }),
       "unit 2: block 0 CRC", true},
      {"header length", damage([](ImageDamage& d) { d.headerLengthUnit = 1; }), "unit 1: length mismatch",
       false},
  };
  for (const Case& c : cases) {
    WirelessImageSpec spec = ThreeUnits();
    spec.damage = c.damage;
    const std::vector<uint8_t> image = BuildWirelessImage(spec);
    const Walked verified = Walk(image, true);
    EXPECT_FALSE(verified.ok) << c.name;
    EXPECT_EQ(verified.reason, c.reason) << c.name;
    EXPECT_EQ(Walk(image, false).ok, c.walksUnverified) << c.name;
  }
}

// The last block is checked over its real length: a CRC computed over a full block (data plus the
// fill and whatever follows) must not match.
TEST(UnitWalk, ShortLastBlockIsVerifiedOverItsRealLength) {
  WirelessImageSpec spec = ThreeUnits();
  spec.versionTag = false;
  std::vector<UnitPlacement> pl;
  std::vector<uint8_t> image = BuildWirelessImage(spec, &pl);
  const UnitPlacement& u0 = pl[0];  // 131 bytes in blocks of 64: 64, 64, 3
  ASSERT_EQ(u0.blockCount, 3u);
  const size_t lastBlock = u0.dataOffset + 128;
  const uint16_t overFull = Crc16Compute(&image[lastBlock], 64);
  image[u0.crcListOffset + 4] = static_cast<uint8_t>(overFull);
  image[u0.crcListOffset + 5] = static_cast<uint8_t>(overFull >> 8);
  EXPECT_EQ(Walk(image, true).reason, "unit 0: block 2 CRC");
}

// Lengths a hostile header can claim. The header CRC is recomputed so verification reaches the
// arithmetic; nothing may be read outside the buffer (the sanitizer build checks that).
TEST(UnitWalk, HostileLengthsAreRefusedWithoutReadingOutside) {
  struct Case {
    const char* name;
    uint32_t dataLength;
    uint32_t blockSize;
    int64_t headerLengthDelta;  // added to the honest header length for the claimed values
    const char* reason;
  };
  const Case cases[] = {
      {"block size 0", 10, 0, 0, "unit 0: block size 0"},
      {"data length near 4 GiB, 1-byte blocks", 0xFFFFFFFFu, 1, 0, "unit 0: length mismatch"},
      {"data length near 4 GiB, huge blocks", 0xFFFFFFFFu, 0xFFFFFFFFu, 0, "unit 0: truncated"},
      {"data length 4 GiB - 2, blocks 4 GiB - 1", 0xFFFFFFFEu, 0xFFFFFFFFu, 0, "unit 0: truncated"},
      {"block list past the end", 100000, 1, 0, "unit 0: truncated"},
      {"header length off by one entry", 5000, 4096, 2, "unit 0: length mismatch"},
      {"data past the end", 5000, 4096, 0, "unit 0: truncated"},
  };
  for (const Case& c : cases) {
    ImageSpec spec;
    UnitSpec u;
    u.data = GeneratePayload(16, 1);
    spec.units = {u};
    std::vector<uint8_t> image = BuildImage(spec);
    const size_t h = L::kFileHeaderSize;
    const uint64_t n = c.blockSize ? (uint64_t{c.dataLength} + c.blockSize - 1) / c.blockSize : 0;
    PutU32(image, h + L::kDataLengthOffset, c.dataLength);
    PutU32(image, h + L::kBlockSizeOffset, c.blockSize);
    PutU32(image, h + L::kHeaderLengthOffset, static_cast<uint32_t>(98 + 2 * n + c.headerLengthDelta));
    image[h + L::kHeaderCrcOffset] = image[h + L::kHeaderCrcOffset + 1] = 0;
    const uint16_t crc = Crc16Compute(&image[h], 98);
    image[h + L::kHeaderCrcOffset] = static_cast<uint8_t>(crc);
    image[h + L::kHeaderCrcOffset + 1] = static_cast<uint8_t>(crc >> 8);
    // exact-size copy so any overread is outside the allocation
    const std::vector<uint8_t> exact(image.begin(), image.end());
    for (bool verify : {true, false}) {
      const Walked w = Walk(exact, verify);
      EXPECT_FALSE(w.ok) << c.name;
      EXPECT_EQ(w.reason, c.reason) << c.name << " verify " << verify;
    }
  }
}

TEST(UnitWalk, SizeLimitsAndZeroLengthUnits) {
  ImageSpec spec;
  UnitSpec u;  // zero data length, no fill: exactly 92 + 98 bytes
  spec.units = {u};
  spec.damage.omitLastFill = true;
  const std::vector<uint8_t> zero = BuildImage(spec);
  ASSERT_EQ(zero.size(), 190u);
  EXPECT_FALSE(Walk(zero, true).ok);
  EXPECT_EQ(Walk(zero, true).reason, "unit 0: data length 0");
  const Walked unverified = Walk(zero, false);
  ASSERT_TRUE(unverified.ok) << unverified.reason;
  EXPECT_EQ(unverified.extents[0].length, 0u);

  const std::vector<uint8_t> short189(zero.begin(), zero.end() - 1);
  EXPECT_EQ(Walk(short189, false).reason, "too short");
  EXPECT_EQ(Walk({}, false).reason, "too short");
}

struct TypeCase {
  uint32_t a, b;
  int expected;
  int result;
};

TEST(TypeRule, RouterFlagWordSelectsWithinTheExpectedGroup) {
  const TypeCase cases[] = {
      // any type: A alone, or B when A is 3
      {1, 0, 9, 0},
      {0, 0, 9, 1},
      {2, 3, 9, 2},
      {3, 2, 9, 3},
      {3, 3, 9, 4},
      {3, 0, 9, 5},
      {3, 1, 9, 6},
      // first family expected: A decides; A = 3 is none
      {1, 0, 0, 0},
      {0, 1, 0, 1},
      {2, 0, 1, 2},
      {3, 0, 0, 9},
      {3, 2, 2, 9},
      {1, 3, 2, 0},
      // second family expected: A must be 3
      {3, 2, 3, 3},
      {3, 3, 6, 4},
      {3, 0, 4, 5},
      {3, 1, 5, 6},
      {1, 2, 3, 9},
      {0, 0, 5, 9},
      {2, 1, 6, 9},
      // a wireless type expected never fits a router image
      {1, 0, 7, 9},
      {3, 2, 8, 9},
  };
  for (const TypeCase& c : cases) {
    ImageSpec spec;
    spec.fileType = 2;
    UnitSpec u;
    u.magic = L::kRouterMagic;
    u.data = std::vector<uint8_t>(40, 0);
    PutU32(u.data, 12, (c.a << 1) | (c.b << 3) | 0xFFFF0001u);  // other bits do not matter
    spec.units = {u};
    const std::vector<uint8_t> image = BuildImage(spec);
    const Walked w = Walk(image, true);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(ClassifyImage(image, w.units, w.extents, ModuleFromNumber(c.expected), "/images/x.bin"),
              c.result)
        << "A=" << c.a << " B=" << c.b << " expected " << c.expected;
  }
}

TEST(TypeRule, BuilderModuleTypesClassifyBackAndShortRouterDataIsNone) {
  for (ModuleType t : kAllModules) {
    if (!IsRouterModule(t)) continue;
    RouterImageSpec r;
    r.module = t;
    r.payload = GeneratePayload(100, 1);
    const std::vector<uint8_t> image = BuildRouterImage(r);
    const Walked w = Walk(image, true);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(ClassifyImage(image, w.units, w.extents, MODULE_NONE, "/a/b.bin"), t);
    EXPECT_EQ(ClassifyImage(image, w.units, w.extents, t, "/a/b.bin"), t);
  }
  ImageSpec spec;
  UnitSpec u;
  u.magic = L::kRouterMagic;
  u.data = std::vector<uint8_t>(15, 0);  // one byte short of the TRX header
  spec.units = {u};
  const std::vector<uint8_t> image = BuildImage(spec);
  const Walked w = Walk(image, true);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(ClassifyImage(image, w.units, w.extents, MODULE_NONE, "/a/b.bin"), MODULE_NONE);
}

TEST(TypeRule, WirelessFileTypeUnitCountAndPath) {
  struct Case {
    uint32_t fileType;
    size_t units;
    const char* path;
    int expected;
    int result;
  };
  const Case cases[] = {
      {1, 1, "/x/fw.bin", 9, 7},     {3, 1, "/x/db.bin", 9, 8},     {1, 2, "/x/ZRMP/a.bin", 0, 7},
      {3, 3, "/x/a.bin", 7, 8},  // expected type not used
      {0, 2, "/x/ZRMP/a.bin", 9, 8}, {0, 3, "/x/ZRMP/a.bin", 9, 7}, {0, 2, "/x/zrmp/a.bin", 9, 7},
      {0, 2, "/x/a_ZRMP.bin", 9, 8},  // case-sensitive, anywhere
      {0, 1, "/x/ZRMP/a.bin", 9, 7}, {2, 1, "/x/a.bin", 9, 9},      {4, 1, "/x/a.bin", 9, 9},
  };
  for (const Case& c : cases) {
    WirelessImageSpec s;
    s.fileType = c.fileType;
    for (size_t i = 0; i < c.units; ++i)
      s.units.push_back({0x100u * static_cast<uint32_t>(i), GeneratePayload(10, 1)});
    const std::vector<uint8_t> image = BuildWirelessImage(s);
    const Walked w = Walk(image, true);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(ClassifyImage(image, w.units, w.extents, ModuleFromNumber(c.expected), c.path), c.result)
        << "file type " << c.fileType << " units " << c.units << " " << c.path;
  }
  // an unknown magic is no module at all
  ImageSpec other;
  UnitSpec u;
  u.magic = {'A', 'B', 'C', 'D'};
  u.data = GeneratePayload(20, 1);
  other.units = {u};
  const std::vector<uint8_t> image = BuildImage(other);
  const Walked w = Walk(image, true);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(ClassifyImage(image, w.units, w.extents, MODULE_NONE, "/x/a.bin"), MODULE_NONE);
}

}  // namespace
