// A datagram from whoever answers the discovery: decoded as the discovery does (into a buffer whose
// first 32 bytes are filled with 0xCD), then parsed. Checks: nothing is read past the answer's own
// bytes (a short answer parses the same whatever the fill), a qualifying answer has type 1 and a
// non-zero MAC, and outputs change only when it qualifies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "protocol/Hdlc.h"
#include "protocol/RouterDatagram.h"

namespace {

bool Parse(std::span<const uint8_t> payload, MacAddress& mac, IpAddress& ip, std::string& text) {
  return ParseDiscoveryAnswer(payload, mac, ip, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 512) return 0;  // one UDP read takes at most 512 bytes
  uint8_t answer[1024];
  std::memset(answer, 0xCD, 32);
  const unsigned n = HdlcDecodeFrame(data, size, answer);
  if (n > size) std::abort();

  // the raw bytes as a payload too, so short and odd payloads are reached without a valid FCS
  for (std::span<const uint8_t> payload :
       {std::span<const uint8_t>(answer, n), std::span<const uint8_t>(data, size)}) {
    MacAddress mac{{1, 2, 3, 4, 5, 6}};
    IpAddress ip{{7, 7, 7, 7}};
    std::string text = "unset";
    const bool ok = Parse(payload, mac, ip, text);
    if (ok) {
      if (payload.empty() || payload[0] != RDG_DISCOVER || mac.IsZero() || text.size() > 2 * 21) std::abort();
    } else if (mac.ToString() != "01-02-03-04-05-06" || ip.ToString() != "7.7.7.7" || text != "unset") {
      std::abort();
    }

    // the same bytes followed by different garbage must parse alike when shorter than 32
    if (payload.size() < RouterDatagram::kSize) {
      MacAddress mac2{{1, 2, 3, 4, 5, 6}};
      IpAddress ip2{{7, 7, 7, 7}};
      std::string text2 = "unset";
      std::vector<uint8_t> zeroPadded(payload.begin(), payload.end());
      zeroPadded.resize(RouterDatagram::kSize, 0);
      const bool okZero = Parse(zeroPadded, mac2, ip2, text2);
      if (okZero != ok || (ok && (mac2 != mac || ip2 != ip || text2 != text))) std::abort();
    }
  }
  return 0;
}
