// Whatever arrives on the router link while the tool waits for an image's result, read as the
// result record. Checks: a code comes only from exactly 40 bytes that start with FF, and it is the
// little-endian number at offset 30; any other message is passed over. The upgrade control packet
// the tool builds has the same shape, so every value built reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "protocol/RouterDatagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::optional<uint32_t> code = ParseRouterResultRecord(bytes);
  const bool whole = size == kRouterResultRecordSize && data[0] == 0xFF;
  if (code.has_value() != whole) std::abort();
  if (code) {
    const uint32_t expected = static_cast<uint32_t>(data[30]) | static_cast<uint32_t>(data[31]) << 8 |
                              static_cast<uint32_t>(data[32]) << 16 | static_cast<uint32_t>(data[33]) << 24;
    if (*code != expected) std::abort();
  }
  if (size >= 5) {
    const uint32_t value = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8 |
                           static_cast<uint32_t>(data[3]) << 16 | static_cast<uint32_t>(data[4]) << 24;
    uint8_t packet[kUpgradeControlPacketSize];
    BuildUpgradeControlPacket(packet, data[0] % 4, value);
    if (ParseRouterResultRecord(packet) != value) std::abort();
  }
  return 0;
}
