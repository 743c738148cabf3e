// Fuzzes the image unit walk and the type rule over arbitrary bytes, with and without CRC checks.
// Whatever the bytes claim, nothing outside the buffer may be read, and every extent of a walk that
// succeeds must lie inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "image/UnitWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // an exact-size copy, so any over-read leaves the allocation
  const std::vector<uint8_t> image(data, data + size);
  const std::span<const uint8_t> bytes(image);
  for (bool verify : {false, true}) {
    std::vector<UnitHeader> units;
    std::vector<UnitExtent> extents;
    if (!WalkUnits(bytes, verify, units, extents)) continue;
    if (units.size() != extents.size()) std::abort();
    for (const UnitExtent& e : extents)
      if (uint64_t{e.offset} + e.length > size) std::abort();
    for (ModuleType expected = 0; expected <= MODULE_NONE; ++expected) {
      const ModuleType t = ClassifyImage(bytes, units, extents, expected, "/fuzz/ZRMP/image.bin");
      if (t < 0 || t > MODULE_NONE) std::abort();
    }
  }
  return 0;
}
