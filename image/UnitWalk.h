#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/CBinFile.h"
#include "image/ModuleType.h"

// The two pure steps behind CBinFile, over a memory buffer (no I/O), so the fuzzer and the inspector
// can run them on any bytes.

// Parses one header of 98 bytes (at least 98 bytes must be given).
UnitHeader ParseUnitHeader(std::span<const uint8_t> header98);

// Walks the units that follow the 92-byte file header. With verify, the header CRCs and every
// block CRC are checked and a unit of zero data length is refused. Every length a header claims is
// checked against the buffer in 64-bit arithmetic; nothing outside image is ever read. Images of
// 4 GiB or more are refused (extents are 32-bit). Unless the first unit is a router unit (whose
// load address is not used), a unit whose load address plus data length passes 2^32 is refused.
// The lists are allocated once for the units the buffer can hold; memory that cannot be had is a
// refusal ("not enough memory for N units"), never an exception. On failure returns false with a
// short reason ("unit 1: header CRC", "unit 0: block 3 CRC", "unit 0: length mismatch",
// "unit 2: truncated", "unit 1: address range wraps", ...); units and extents then hold what was
// parsed before the failure.
bool WalkUnits(std::span<const uint8_t> image, bool verify, std::vector<UnitHeader>& units,
               std::vector<UnitExtent>& extents, std::string* reason = nullptr);

// The type rule for files: the module type that the first unit's magic, the file type, the unit count
// and the path give, within the group of answers that expected (a ModuleType, or 9 for any) allows.
// Returns MODULE_NONE (9) when nothing fits. units/extents come from a successful WalkUnits.
ModuleType ClassifyImage(std::span<const uint8_t> image, const std::vector<UnitHeader>& units,
                         const std::vector<UnitExtent>& extents, ModuleType expected, std::string_view path);
