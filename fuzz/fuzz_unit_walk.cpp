// Fuzzes the image unit walk and the type rule over arbitrary bytes, with and without CRC checks.
// Whatever the bytes claim, nothing outside the buffer may be read, every extent of a walk that
// succeeds must lie inside the buffer, no unit of a wireless image may reach past the top of the
// module's 32-bit address space, and no more units can come out than the bytes can hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "image/Crc16.h"
#include "image/ImageFormat.h"
#include "image/UnitWalk.h"

namespace L = image_layout;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // an exact-size copy, so any over-read leaves the allocation
  const std::vector<uint8_t> image(data, data + size);
  const std::span<const uint8_t> bytes(image);
  for (bool verify : {false, true}) {
    std::vector<UnitHeader> units;
    std::vector<UnitExtent> extents;
    if (!WalkUnits(bytes, verify, units, extents)) continue;
    if (units.size() != extents.size()) std::abort();
    if (units.size() > (size - L::kFileHeaderSize) / L::kUnitHeaderSize) std::abort();
    const bool router = std::equal(L::kRouterMagic.begin(), L::kRouterMagic.end(), units.front().magic);
    for (size_t i = 0; i < units.size(); ++i) {
      if (uint64_t{extents[i].offset} + extents[i].length > size) std::abort();
      if (!router && uint64_t{units[i].loadAddress} + units[i].dataLength > (uint64_t{1} << 32)) std::abort();
    }
    for (ModuleType expected = 0; expected <= MODULE_NONE; ++expected) {
      const ModuleType t = ClassifyImage(bytes, units, extents, expected, "/fuzz/ZRMP/image.bin");
      if (t < 0 || t > MODULE_NONE) std::abort();
    }
  }
  return 0;
}

namespace {
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// One wireless unit with valid CRCs: header, CRC list, data, fill.
void AppendUnit(std::vector<uint8_t>& image, uint32_t loadAddress, const std::vector<uint8_t>& data,
                uint32_t blockSize) {
  const uint32_t blocks = static_cast<uint32_t>((data.size() + blockSize - 1) / blockSize);
  std::vector<uint8_t> h(L::kUnitHeaderSize, 0);
  std::copy(L::kWirelessMagic.begin(), L::kWirelessMagic.end(), h.begin());
  Put32(h, L::kHeaderLengthOffset, static_cast<uint32_t>(L::kUnitHeaderSize + 2 * blocks));
  Put32(h, L::kLoadAddressOffset, loadAddress);
  Put32(h, L::kDataLengthOffset, static_cast<uint32_t>(data.size()));
  Put32(h, L::kBlockSizeOffset, blockSize);
  const uint16_t crc = Crc16Compute(h.data(), h.size());
  h[L::kHeaderCrcOffset] = static_cast<uint8_t>(crc);
  h[L::kHeaderCrcOffset + 1] = static_cast<uint8_t>(crc >> 8);
  image.insert(image.end(), h.begin(), h.end());
  for (uint32_t b = 0; b < blocks; ++b) {
    const size_t from = size_t{b} * blockSize;
    const size_t length = std::min<size_t>(blockSize, data.size() - from);
    const uint16_t c = Crc16Compute(data.data() + from, length);
    image.push_back(static_cast<uint8_t>(c));
    image.push_back(static_cast<uint8_t>(c >> 8));
  }
  image.insert(image.end(), data.begin(), data.end());
  while (image.size() % 4 != 0) image.push_back(0);
}
}  // namespace

// Inputs the replay runs besides its generated ones: units whose address range ends exactly at, or
// passes, the top of the address space, and images of a great many tiny units.
std::vector<std::vector<uint8_t>> FuzzSeedInputs() {
  std::vector<std::vector<uint8_t>> seeds;
  const std::vector<uint8_t> header(L::kFileHeaderSize, 0);
  for (const auto& [address, length] : std::vector<std::pair<uint32_t, size_t>>{{0xFFFFF000u, 0x1000},
                                                                                {0xFFFFF000u, 0x1001},
                                                                                {0xFFFFFFFFu, 1},
                                                                                {0xFFFFFFFFu, 2},
                                                                                {0x80000000u, 100}}) {
    std::vector<uint8_t> image = header;
    Put32(image, L::kFileTypeOffset, L::kFileTypeFirmware);
    AppendUnit(image, 0x1000, std::vector<uint8_t>(300, 0x11), 64);
    AppendUnit(image, address, std::vector<uint8_t>(length, 0x22), 4096);
    seeds.push_back(image);
  }
  for (size_t count : {1000u, 20000u}) {
    std::vector<uint8_t> image = header;
    for (size_t i = 0; i < count; ++i)
      AppendUnit(image, static_cast<uint32_t>(i), {static_cast<uint8_t>(i)}, 1);
    seeds.push_back(image);
    image.resize(image.size() - 5);  // the last unit cut short
    seeds.push_back(image);
  }
  return seeds;
}
