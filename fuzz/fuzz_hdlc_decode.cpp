// HdlcDecodeFrame over arbitrary bytes: never reads or writes outside the frame and an output of the
// frame's own size, decodes in place the same as into a separate buffer, and whatever it accepts
// encodes back to a frame that decodes to the same payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/Hdlc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(size);
  unsigned n = HdlcDecodeFrame(data, size, out.data());
  if (n > size) std::abort();

  std::vector<uint8_t> inPlace(data, data + size);
  unsigned m = HdlcDecodeFrame(inPlace.data(), inPlace.size(), inPlace.data());
  if (m != n) std::abort();
  if (n != 0 && std::memcmp(out.data(), inPlace.data(), n + 2) != 0) std::abort();

  if (n != 0) {
    std::vector<uint8_t> frame(HdlcMaxEncodedSize(n));
    int length = HdlcEncodeFrame(out.data(), n, frame.data(), (size & 1) != 0);
    if (length <= 0 || static_cast<size_t>(length) > frame.size()) std::abort();
    std::vector<uint8_t> back(static_cast<size_t>(length));
    if (HdlcDecodeFrame(frame.data(), static_cast<size_t>(length), back.data()) != n) std::abort();
    if (std::memcmp(back.data(), out.data(), n) != 0) std::abort();
  }

  // any payload survives the round trip
  if (size != 0 && size <= kHdlcMaxPayload) {
    std::vector<uint8_t> frame(HdlcMaxEncodedSize(size));
    int length = HdlcEncodeFrame(data, size, frame.data(), true);
    std::vector<uint8_t> back(static_cast<size_t>(length));
    if (HdlcDecodeFrame(frame.data(), static_cast<size_t>(length), back.data()) != size) std::abort();
    if (std::memcmp(back.data(), data, size) != 0) std::abort();
  }
  return 0;
}
