#include "protocol/RouterDatagram.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"

std::string IpAddress::ToString() const {
  char text[20];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return text;
}

std::string MacAddress::ToString() const {
  char text[24];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  return text;
}

bool MacAddress::IsZero() const {
  return std::all_of(std::begin(b), std::end(b), [](uint8_t v) { return v == 0; });
}

IpAddress RouterDatagram::Ip() const {
  IpAddress ip;
  std::copy_n(bytes.begin() + kIpOffset, sizeof ip.b, ip.b);
  return ip;
}

MacAddress RouterDatagram::Mac() const {
  MacAddress mac;
  std::copy_n(bytes.begin() + kMacOffset, sizeof mac.b, mac.b);
  return mac;
}

std::string RouterDatagram::Text() const {
  const auto begin = bytes.begin() + kTextOffset;
  const auto end = std::find(begin, bytes.end(), uint8_t{0});
  return TextFrom8Bit(std::span<const uint8_t>(begin, end));
}

void RouterDatagram::Set(uint8_t type, const IpAddress& ip, const MacAddress& mac) {
  bytes.fill(0);
  bytes[kTypeOffset] = type;
  std::copy_n(ip.b, sizeof ip.b, bytes.begin() + kIpOffset);
  std::copy_n(mac.b, sizeof mac.b, bytes.begin() + kMacOffset);
}

bool ParseDiscoveryAnswer(std::span<const uint8_t> payload, MacAddress& mac, IpAddress& ip,
                          std::string& text) {
  // a short answer must not lend its frame check bytes or the buffer's fill to the fields
  RouterDatagram answer;
  std::copy_n(payload.begin(), std::min(payload.size(), RouterDatagram::kSize), answer.bytes.begin());
  if (answer.Type() != RDG_DISCOVER) return false;
  const MacAddress found = answer.Mac();
  if (found.IsZero()) return false;
  mac = found;
  ip = answer.Ip();
  text = answer.Text();
  return true;
}

void BuildUpgradeControlPacket(uint8_t packet[kUpgradeControlPacketSize], int kind, uint32_t value) {
  static constexpr size_t kTextSize = 29;
  static constexpr size_t kValueOffset = 30;
  static const char* const kTexts[] = {
      "Tavrix RUT Begin Download Pkt",
      "Tavrix FWT Begin Download Pkt",
      "Tavrix FWT Force Download Pkt",
  };
  std::memset(packet, 0, kUpgradeControlPacketSize);
  packet[0] = 0xFF;
  if (kind >= 0 && kind < 3) std::memcpy(packet + 1, kTexts[kind], kTextSize);
  bytes::PutU32LE(packet + kValueOffset, value);
}

std::optional<uint32_t> ParseRouterResultRecord(std::span<const uint8_t> record) {
  uint32_t code = 0;
  if (record.size() != kRouterResultRecordSize || record[0] != 0xFF ||
      !bytes::ReadU32LE(record, kRouterResultCodeOffset, code)) {
    return std::nullopt;
  }
  return code;
}
