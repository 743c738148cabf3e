// Console text from the router, cut into lines as ReadLines does: the first input byte splits the
// rest into bursts that go through the shared buffer (growth, the 1 MiB cap, the 2045-byte take),
// and the lines then feed the version helpers. Checks: lines never hold CR LF or a zero byte, are
// valid UTF-8, and number at most one more than the CR LF pairs taken; the helpers return values
// taken from the lines.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/TextCodec.h"
#include "protocol/CTelnetClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t burst = 1 + data[0];
  ++data;
  --size;

  CTelnetBuffer buffer(0);
  for (size_t pos = 0; pos < size; pos += burst) {
    const int count = static_cast<int>(std::min(burst, size - pos));
    if (!buffer.Append(data + pos, count)) std::abort();
    if (buffer.Length() > CTelnetBuffer::kMaxHeld || buffer.Capacity() < buffer.Length()) std::abort();
    if (buffer.Capacity() % 16 != 0 && buffer.Capacity() != CTelnetBuffer::kMaxHeld) std::abort();
  }
  uint8_t work[CTelnetClient::kMostPerRead];
  const int taken = buffer.TakeOut(work, CTelnetClient::kMostPerRead);
  if (taken != static_cast<int>(std::min<size_t>(size, CTelnetClient::kMostPerRead))) std::abort();
  if (buffer.Length() != 0) std::abort();

  const std::vector<std::string> lines = CutTelnetLines(work, static_cast<size_t>(taken));
  size_t pairs = 0;
  for (int i = 0; i + 1 < taken; ++i) pairs += work[i] == '\r' && work[i + 1] == '\n';
  if (lines.size() > pairs + 1) std::abort();
  for (const std::string& line : lines) {
    if (line.find("\r\n") != std::string::npos || line.find('\0') != std::string::npos) std::abort();
    if (!IsValidUtf8(line)) std::abort();
  }

  std::string version;
  if (TakeLastVersionLine(lines, version)) {
    if (!IsVersionText(version) || std::find(lines.begin(), lines.end(), version) == lines.end())
      std::abort();
  }
  if (!lines.empty()) {
    const std::string label = lines.front().substr(0, lines.front().size() / 2);
    std::string value;
    if (!label.empty()) {
      if (!TakeValueAfterLabel(lines, label, value)) std::abort();
      if (value.size() > lines.front().size() || !IsValidUtf8(value)) std::abort();
    }
  }
  return 0;
}
