#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/ImageFormat.h"
#include "image/ModuleType.h"

// Builds upgrade images byte for byte (file header, units with their CRC lists, data and fill), for
// qor-mkimage, the tests, the emulator and the demos. Pure functions over memory: nothing here
// touches the network, and only WriteImageFile touches the file system.
//
// Layout reminder (little-endian): file header 92 bytes (file type, reserved, version text [84]),
// then units: UnitHeader 98 bytes | CRC-16 per block | data | 0..3 fill bytes to a multiple of 4.

// One unit as the generic builder takes it.
struct UnitSpec {
  std::array<uint8_t, 4> magic = image_layout::kWirelessMagic;
  std::array<uint8_t, 8> hardwareId = {};  // 8 characters, not zero-terminated
  uint32_t loadAddress = 0;
  uint32_t blockSize = 4096;  // must not be 0 (BuildImage returns {} otherwise)
  uint32_t unitFormat = 1;
  std::string date = "2026.01.01";  // cut to 16 bytes, zero-filled
  std::string time = "00.00.00";    // cut to 16 bytes
  std::string name;                 // cut to 32 bytes
  std::vector<uint8_t> data;
};

// Deliberate damage, for tests of the verifier. Unit/block indexes that do not exist are ignored.
struct ImageDamage {
  int headerCrcUnit = -1;  // flip the stored header CRC of this unit
  int blockCrcUnit = -1;   // flip the stored CRC of block blockCrcBlock of this unit
  uint32_t blockCrcBlock = 0;
  int headerLengthUnit = -1;  // store a header length one block entry too long
  bool omitLastFill = false;  // leave out the fill bytes after the last unit
};

struct ImageSpec {
  uint32_t fileType = image_layout::kFileTypeFirmware;  // 1 firmware, 2 router, 3 dashboard, 0 any wireless
  std::string version;                                  // cut to 83 bytes, zero-filled to 84
  std::vector<UnitSpec> units;
  ImageDamage damage;
};

// Where the builder put each unit (offsets from the start of the image).
struct UnitPlacement {
  size_t headerOffset = 0;
  size_t crcListOffset = 0;
  size_t dataOffset = 0;
  size_t dataLength = 0;
  uint32_t blockCount = 0;
  size_t fillLength = 0;
};

// The whole image; {} when a unit has block size 0 or data longer than 4 GiB - 1.
std::vector<uint8_t> BuildImage(const ImageSpec& spec, std::vector<UnitPlacement>* placements = nullptr);

// A router image: one unit with magic "HDR0" whose data is the 16-byte TRX header (magic "HDR0",
// total length at 4, CRC 0 at 8, flag word at 12 with the A and B fields of the module type), then
// the version tag when asked for, then the payload. File type 2.
struct RouterImageSpec {
  ModuleType module = MODULE_APP;  // 0 to 6
  std::string version;
  std::vector<uint8_t> payload;  // what follows the TRX header (and the tag)
  uint32_t blockSize = 4096;
  bool versionTag = true;
  std::string unitName = "router";
  ImageDamage damage;
};

// A wireless image: magic 55 AA 5A A5 in every unit, the hardware id (the unlock code) in every
// unit, the version tag at the start of the first unit's data when asked for.
struct WirelessUnitSpec {
  uint32_t loadAddress = 0;
  std::vector<uint8_t> data;
};

struct WirelessImageSpec {
  ModuleType kind = MODULE_FIRMWARE;                    // 7 or 8: what goes into the version tag
  uint32_t fileType = image_layout::kFileTypeFirmware;  // 1, 3, or 0
  std::string version;
  std::array<uint8_t, 8> hardwareId = {'0', '0', '0', '0', '0', '0', '0', '0'};
  uint32_t blockSize = 4096;
  std::vector<WirelessUnitSpec> units;
  bool versionTag = true;
  ImageDamage damage;
};

// {} for a module type outside 0..6, or for the cases BuildImage refuses.
std::vector<uint8_t> BuildRouterImage(const RouterImageSpec& spec,
                                      std::vector<UnitPlacement>* placements = nullptr);
// {} with no units, a kind other than 7 or 8, or the cases BuildImage refuses.
std::vector<uint8_t> BuildWirelessImage(const WirelessImageSpec& spec,
                                        std::vector<UnitPlacement>* placements = nullptr);

// The TRX flag word that gives the module type 0..6 (A in bits 1-2, B in bits 3-4); 0 for others.
uint32_t RouterFlagWord(ModuleType module);
// The 16-byte TRX header for a router unit whose data is totalLength bytes long.
std::array<uint8_t, image_layout::kTrxHeaderSize> MakeTrxHeader(ModuleType module, uint32_t totalLength);

// The 64-byte version tag (see image/ImageFormat.h). The text is cut to 47 bytes.
std::array<uint8_t, image_layout::kVersionTagSize> MakeVersionTag(ModuleType module,
                                                                  const std::string& version);
// Reads a version tag at the start of bytes; false when there is none (too short or wrong magic).
bool ParseVersionTag(std::span<const uint8_t> bytes, ModuleType& module, std::string& version);

// Writes the bytes to a new file in path's folder and renames it to path, so the name holds either
// its old content or the whole new image, never a part of it (a link under that name is replaced,
// not written through). With sync, the data reaches the disk before the rename. false on any error,
// with errno set to the error of the step that failed; then no temporary file is left behind.
bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes, bool sync = false);
// Reads a whole file; false on any error.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

// Deterministic filler: the same size and seed always give the same bytes.
std::vector<uint8_t> GeneratePayload(size_t size, uint32_t seed);
