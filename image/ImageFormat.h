#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Byte layout of an upgrade image. All numbers little-endian.
//
//   file header (92 bytes): file type u32 @0, reserved u32 @4, version text [84] @8
//   then units, back to back, each:
//     UnitHeader (98 bytes) | block CRC list (2 x N) | data (data length) | fill to a multiple of 4
//   where N = ceil(data length / block size).
namespace image_layout {
constexpr size_t kFileHeaderSize = 92;
constexpr size_t kFileTypeOffset = 0;
constexpr size_t kVersionTextOffset = 8;
constexpr size_t kVersionTextSize = 84;

constexpr size_t kUnitHeaderSize = 98;
constexpr size_t kMagicOffset = 0;
constexpr size_t kHeaderLengthOffset = 4;
constexpr size_t kUnitFormatOffset = 8;
constexpr size_t kHardwareIdOffset = 12;
constexpr size_t kHardwareIdSize = 8;
constexpr size_t kLoadAddressOffset = 20;
constexpr size_t kDataLengthOffset = 24;
constexpr size_t kDateOffset = 28;
constexpr size_t kDateSize = 16;
constexpr size_t kTimeOffset = 44;
constexpr size_t kTimeSize = 16;
constexpr size_t kNameOffset = 60;
constexpr size_t kNameSize = 32;
constexpr size_t kHeaderCrcOffset = 92;
constexpr size_t kBlockSizeOffset = 94;

constexpr size_t kMinImageSize = kFileHeaderSize + kUnitHeaderSize;  // 190

constexpr std::array<uint8_t, 4> kRouterMagic = {'H', 'D', 'R', '0'};
constexpr std::array<uint8_t, 4> kWirelessMagic = {0x55, 0xAA, 0x5A, 0xA5};

// File types of the file header.
constexpr uint32_t kFileTypeWirelessAny = 0;
constexpr uint32_t kFileTypeFirmware = 1;
constexpr uint32_t kFileTypeRouter = 2;
constexpr uint32_t kFileTypeDashboard = 3;

// The data of a router unit starts with a 16-byte header in the TRX layout: magic "HDR0" at 0 and a
// 32-bit flag word at 12, whose bit fields A = (F >> 1) & 3 and B = (F >> 3) & 3 tell the router
// module types apart.
constexpr size_t kTrxHeaderSize = 16;
constexpr size_t kTrxFlagOffset = 12;

// Our images' version tag (a convention of the images that qor-mkimage builds, read by the router
// emulator to learn the version it was upgraded to): 64 bytes placed right after the TRX header in a
// router unit's data, and at the start of the first unit's data of a wireless image.
//   magic "QORVTAG1" [8] | module type u8 | 7 zero bytes | version text [48], zero-filled
constexpr size_t kVersionTagSize = 64;
constexpr std::array<uint8_t, 8> kVersionTagMagic = {'Q', 'O', 'R', 'V', 'T', 'A', 'G', '1'};
constexpr size_t kVersionTagTypeOffset = 8;
constexpr size_t kVersionTagTextOffset = 16;
constexpr size_t kVersionTagTextSize = 48;
}  // namespace image_layout
