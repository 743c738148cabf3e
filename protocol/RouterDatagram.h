#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// IPv4 address, 4 bytes in network order; 0.0.0.0 until a discovery succeeded.
struct IpAddress {
  uint8_t b[4] = {};
  std::string ToString() const;  // "%d.%d.%d.%d"
  bool operator==(const IpAddress&) const = default;
};

// MAC address, 6 bytes; all zero means "no router found".
struct MacAddress {
  uint8_t b[6] = {};
  std::string ToString() const;  // "%02X-%02X-%02X-%02X-%02X-%02X"
  bool IsZero() const;
  bool operator==(const MacAddress&) const = default;
};

// Datagram types.
enum RouterDatagramType : uint8_t {
  RDG_DISCOVER = 1,
  RDG_ERASE_NVRAM = 6,
  RDG_ENTER_FORCE_LOAD = 7,
  RDG_LEAVE_FORCE_LOAD = 8,
  RDG_PRESENCE_CHECK = 10,
};

// 32 bytes: type @0, ip @1 (4), mac @5 (6), text @11 (21, zero-filled).
struct RouterDatagram {
  static constexpr size_t kSize = 32;
  static constexpr size_t kTypeOffset = 0;
  static constexpr size_t kIpOffset = 1;
  static constexpr size_t kMacOffset = 5;
  static constexpr size_t kTextOffset = 11;
  static constexpr size_t kTextSize = 21;

  std::array<uint8_t, kSize> bytes{};

  uint8_t Type() const { return bytes[kTypeOffset]; }
  IpAddress Ip() const;
  MacAddress Mac() const;
  std::string Text() const;  // up to the first zero byte, converted from 8-bit text
  void Set(uint8_t type, const IpAddress& ip, const MacAddress& mac);
};

// Reads a discovery answer (a decoded payload of any length). Only the bytes the answer carries
// count: fields it does not reach read as zero, bytes past the 32nd are ignored. True when it is of
// type 1 with a non-zero MAC; then mac, ip and text (up to the first zero byte) are set, else they
// are left as they were.
bool ParseDiscoveryAnswer(std::span<const uint8_t> payload, MacAddress& mac, IpAddress& ip,
                          std::string& text);

// The 40-byte upgrade control packet: FF, the kind's 29-byte text, value (u32 LE) @30, 6 zero bytes.
constexpr size_t kUpgradeControlPacketSize = 40;
enum UpgradeControlKind : int { UCP_RUT_BEGIN = 0, UCP_FWT_BEGIN = 1, UCP_FWT_FORCE = 2 };
void BuildUpgradeControlPacket(uint8_t packet[kUpgradeControlPacketSize], int kind, uint32_t value);

// The router's answer once it has written an image: a 40-byte record FF, 29 bytes, the result code
// (u32 LE) @30, 6 bytes. The code, or nullopt for anything else that arrives on the link (another
// length, another first byte): such bytes are passed over, never taken for a result.
constexpr size_t kRouterResultRecordSize = 40;
constexpr size_t kRouterResultCodeOffset = 30;
constexpr uint32_t kRouterResultSuccess = 4;
std::optional<uint32_t> ParseRouterResultRecord(std::span<const uint8_t> record);
