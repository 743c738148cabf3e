#include "image/UnitWalk.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "image/Crc16.h"
#include "image/ImageFormat.h"
#include "platform/ByteOrder.h"

namespace L = image_layout;

namespace {
std::string UnitReason(size_t unit, const std::string& what) {
  return "unit " + std::to_string(unit) + ": " + what;
}

bool Fail(std::string* reason, std::string text) {
  if (reason) *reason = std::move(text);
  return false;
}

ModuleType RouterTypeFromB(uint32_t b) {
  switch (b) {
    case 2:
      return MODULE_COMMON_HTML;
    case 3:
      return MODULE_SPECIAL_HTML;
    case 0:
      return MODULE_APP2;
    default:
      return MODULE_CONFIG_FILE;  // b == 1
  }
}

ModuleType RouterTypeFromA(uint32_t a) {
  switch (a) {
    case 1:
      return MODULE_BOOT;
    case 0:
      return MODULE_APP;
    case 2:
      return MODULE_CUSTOMIZATION;
    default:
      return MODULE_NONE;  // a == 3: the second family, decided by b
  }
}
}  // namespace

UnitHeader ParseUnitHeader(std::span<const uint8_t> h) {
  UnitHeader u;
  if (h.size() < L::kUnitHeaderSize) return u;
  bytes::ReadBytes(h, L::kMagicOffset, 4, u.magic);
  bytes::ReadU32LE(h, L::kHeaderLengthOffset, u.headerLength);
  bytes::ReadU32LE(h, L::kUnitFormatOffset, u.unitFormat);
  bytes::ReadBytes(h, L::kHardwareIdOffset, L::kHardwareIdSize, u.hardwareId);
  bytes::ReadU32LE(h, L::kLoadAddressOffset, u.loadAddress);
  bytes::ReadU32LE(h, L::kDataLengthOffset, u.dataLength);
  bytes::ReadBytes(h, L::kDateOffset, L::kDateSize, reinterpret_cast<uint8_t*>(u.date));
  bytes::ReadBytes(h, L::kTimeOffset, L::kTimeSize, reinterpret_cast<uint8_t*>(u.time));
  bytes::ReadBytes(h, L::kNameOffset, L::kNameSize, reinterpret_cast<uint8_t*>(u.name));
  bytes::ReadU16LE(h, L::kHeaderCrcOffset, u.headerCrc);
  bytes::ReadU32LE(h, L::kBlockSizeOffset, u.blockSize);
  return u;
}

namespace {
// The units whose header, CRC list and data lie inside the image, counted without reading any CRC:
// what the lists can ever need, so they are allocated once, exactly, before the real walk.
uint64_t CountWholeUnits(std::span<const uint8_t> image) {
  uint64_t count = 0;
  uint64_t p = L::kFileHeaderSize;
  while (p < image.size()) {
    uint32_t blockSize = 0;
    uint32_t dataLength = 0;
    uint32_t headerLength = 0;
    if (!bytes::InRange(image, p, L::kUnitHeaderSize)) break;
    bytes::ReadU32LE(image, p + L::kBlockSizeOffset, blockSize);
    bytes::ReadU32LE(image, p + L::kDataLengthOffset, dataLength);
    bytes::ReadU32LE(image, p + L::kHeaderLengthOffset, headerLength);
    if (blockSize == 0) break;
    const uint64_t n = (uint64_t{dataLength} + blockSize - 1) / blockSize;
    if (uint64_t{headerLength} != L::kUnitHeaderSize + 2 * n) break;
    p += L::kUnitHeaderSize;
    if (!bytes::InRange(image, p, 2 * n + dataLength)) break;
    p += 2 * n + dataLength;
    const uint64_t r = (dataLength + 2 * n + L::kUnitHeaderSize) % 4;
    if (r > 0) p += 4 - r;
    ++count;
  }
  return count;
}

bool Walk(std::span<const uint8_t> image, bool verify, std::vector<UnitHeader>& units,
          std::vector<UnitExtent>& extents, std::string* reason) {
  const uint64_t size = image.size();
  // load addresses are read only in wireless images (and in images that are neither kind, which the
  // type rule refuses anyway); a router unit's field is not used and may hold anything
  const std::span<const uint8_t> firstMagic = bytes::Slice(image, L::kFileHeaderSize, 4);
  const bool addressesUsed =
      firstMagic.empty() || !std::equal(L::kRouterMagic.begin(), L::kRouterMagic.end(), firstMagic.begin());

  uint64_t p = L::kFileHeaderSize;
  while (p < size) {
    const size_t index = units.size();
    std::span<const uint8_t> raw = bytes::Slice(image, p, L::kUnitHeaderSize);
    if (raw.empty()) return Fail(reason, UnitReason(index, "truncated header"));
    const UnitHeader h = ParseUnitHeader(raw);
    p += L::kUnitHeaderSize;

    if (h.blockSize == 0) return Fail(reason, UnitReason(index, "block size 0"));
    if (verify) {
      // the stored CRC covers the 98 bytes with its own two bytes taken as zero
      static constexpr uint8_t kZero[2] = {0, 0};
      uint16_t reg = Crc16Run(0xFFFF, raw.data(), L::kHeaderCrcOffset);
      reg = Crc16Run(reg, kZero, 2);
      reg = Crc16Run(reg, raw.data() + L::kBlockSizeOffset, L::kUnitHeaderSize - L::kBlockSizeOffset);
      if (static_cast<uint16_t>(~reg) != h.headerCrc) return Fail(reason, UnitReason(index, "header CRC"));
      if (h.dataLength == 0) return Fail(reason, UnitReason(index, "data length 0"));
    }

    // 64-bit: a header may claim a data length and a block size near 2^32
    const uint64_t dataLength = h.dataLength;
    const uint64_t n = (dataLength + h.blockSize - 1) / h.blockSize;
    if (uint64_t{h.headerLength} != L::kUnitHeaderSize + 2 * n)
      return Fail(reason, UnitReason(index, "length mismatch"));
    if (!bytes::InRange(image, p, 2 * n + dataLength)) return Fail(reason, UnitReason(index, "truncated"));
    // the module's addresses are 32-bit: a unit that passes 2^32 would write its tail at address 0
    if (addressesUsed && uint64_t{h.loadAddress} + dataLength > (uint64_t{1} << 32))
      return Fail(reason, UnitReason(index, "address range wraps"));

    const uint64_t crcList = p;
    p += 2 * n;
    extents.push_back(UnitExtent{static_cast<uint32_t>(p), h.dataLength});

    if (verify) {
      for (uint64_t i = 0; i < n; ++i) {
        const uint64_t len = (i + 1 < n) ? uint64_t{h.blockSize} : dataLength - (n - 1) * h.blockSize;
        uint16_t stored = 0;
        bytes::ReadU16LE(image, crcList + 2 * i, stored);
        const std::span<const uint8_t> block = bytes::Slice(image, p, len);
        if (Crc16Compute(block.data(), block.size()) != stored)
          return Fail(reason, UnitReason(index, "block " + std::to_string(i) + " CRC"));
        p += len;
      }
    } else {
      p += dataLength;
    }

    // fill to a multiple of 4; skipped, not read, and it may be missing after the last unit
    const uint64_t r = (dataLength + 2 * n + L::kUnitHeaderSize) % 4;
    if (r > 0) p += 4 - r;
    units.push_back(h);
  }
  if (units.empty()) return Fail(reason, "no unit");
  if (reason) reason->clear();
  return true;
}
}  // namespace

bool WalkUnits(std::span<const uint8_t> image, bool verify, std::vector<UnitHeader>& units,
               std::vector<UnitExtent>& extents, std::string* reason) {
  units.clear();
  extents.clear();
  if (image.size() > std::numeric_limits<uint32_t>::max()) return Fail(reason, "too large");
  if (image.size() < L::kMinImageSize) return Fail(reason, "too short");

  // Every unit takes at least 98 bytes of the image, so the count is bounded by what the file holds;
  // a crafted file of many tiny units still asks for lists about as large as itself. They are asked
  // for once and exactly (no doubling while they grow), and memory that is not there is a refusal.
  const uint64_t count = CountWholeUnits(image);
  try {
    units.reserve(static_cast<size_t>(count));
    extents.reserve(static_cast<size_t>(count));
    return Walk(image, verify, units, extents, reason);
  } catch (const std::exception&) {
    // bad_alloc, or length_error for a count past what a vector can hold
    units = {};
    extents = {};
    return Fail(reason, "not enough memory for " + std::to_string(count) + " units");
  }
}

ModuleType ClassifyImage(std::span<const uint8_t> image, const std::vector<UnitHeader>& units,
                         const std::vector<UnitExtent>& extents, ModuleType expected, std::string_view path) {
  if (units.empty() || extents.empty()) return MODULE_NONE;
  const UnitHeader& first = units.front();

  if (std::equal(L::kRouterMagic.begin(), L::kRouterMagic.end(), first.magic)) {
    if (extents.front().length < L::kTrxHeaderSize) return MODULE_NONE;
    uint32_t flags = 0;
    if (!bytes::ReadU32LE(image, uint64_t{extents.front().offset} + L::kTrxFlagOffset, flags))
      return MODULE_NONE;
    const uint32_t a = (flags >> 1) & 3;
    const uint32_t b = (flags >> 3) & 3;
    if (expected >= MODULE_BOOT && expected <= MODULE_CUSTOMIZATION) return RouterTypeFromA(a);
    if (expected >= MODULE_COMMON_HTML && expected <= MODULE_CONFIG_FILE)
      return a == 3 ? RouterTypeFromB(b) : MODULE_NONE;
    if (expected == MODULE_NONE) return a == 3 ? RouterTypeFromB(b) : RouterTypeFromA(a);
    return MODULE_NONE;  // a router image asked for as a wireless one
  }

  if (std::equal(L::kWirelessMagic.begin(), L::kWirelessMagic.end(), first.magic)) {
    uint32_t fileType = 0;
    if (!bytes::ReadU32LE(image, L::kFileTypeOffset, fileType)) return MODULE_NONE;
    switch (fileType) {
      case L::kFileTypeFirmware:
        return MODULE_FIRMWARE;
      case L::kFileTypeDashboard:
        return MODULE_DASHBOARD;
      case L::kFileTypeWirelessAny:
        return (units.size() == 2 && path.find("ZRMP") != std::string_view::npos) ? MODULE_DASHBOARD
                                                                                  : MODULE_FIRMWARE;
      default:
        return MODULE_NONE;
    }
  }
  return MODULE_NONE;
}
