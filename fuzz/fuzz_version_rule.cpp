// Version texts as the console and an image header give them, through the version rule and the
// console's value helpers. The input is cut at its first two zero bytes into the device's version,
// the image's version and console text. Checks against a plain model written here: a version text
// is three digit runs each closed by a dot at the start; the numbers wrap at 32 bits; the rule
// blocks an upgrade only when both texts are versions that differ and the first two numbers differ
// or the device's third is none of 0, 994 and the image's. The label helper returns a tail of the
// first line that holds the label, never longer than that line, always valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TextCodec.h"
#include "protocol/CTelnetClient.h"
#include "upgrade/ModulePlan.h"

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

bool ModelIsVersion(const std::string& text) {
  size_t pos = 0;
  for (int run = 0; run < 3; ++run) {
    const size_t begin = pos;
    while (pos < text.size() && Digit(text[pos])) ++pos;
    if (pos == begin || pos == text.size() || text[pos] != '.') return false;
    ++pos;
  }
  return true;
}

// the numbers closed by the first three separators (any character that is not a digit); digits
// that no separator closes are not counted
VersionTriple ModelParse(const std::string& text) {
  uint32_t values[3] = {0, 0, 0};
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    uint32_t value = 0;
    while (pos < text.size() && Digit(text[pos]))
      value = value * 10u + static_cast<uint32_t>(text[pos++] - '0');
    if (pos == text.size()) break;
    values[i] = value;
    ++pos;
  }
  return VersionTriple{static_cast<int32_t>(values[0]), static_cast<int32_t>(values[1]),
                       static_cast<int32_t>(values[2])};
}

UpgradeDecision ModelDecide(const std::string& current, const std::string& image) {
  if (!ModelIsVersion(current) || !ModelIsVersion(image) || current == image) return UpgradeDecision::Upgrade;
  const VersionTriple c = ModelParse(current);
  const VersionTriple i = ModelParse(image);
  if (c.first != i.first || c.second != i.second) return UpgradeDecision::VersionConflict;
  if (c.third == 0 || c.third == 994 || c.third == i.third) return UpgradeDecision::Upgrade;
  return UpgradeDecision::VersionConflict;
}

std::string NextPart(std::string_view& rest) {
  const size_t zero = rest.find('\0');
  std::string part(rest.substr(0, zero));
  rest = zero == std::string_view::npos ? std::string_view() : rest.substr(zero + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string current = NextPart(rest);
  const std::string image = NextPart(rest);

  if (IsVersionText(current) != ModelIsVersion(current)) std::abort();
  if (IsVersionText(image) != ModelIsVersion(image)) std::abort();
  if (!(ParseVersion(current) == ModelParse(current))) std::abort();
  if (DecideUpgrade(current, image) != ModelDecide(current, image)) std::abort();
  if (DecideUpgrade(current, current) != UpgradeDecision::Upgrade) std::abort();

  // console text: lines cut at line feeds, converted as the console's lines are; the label is the
  // image part
  std::vector<std::string> lines;
  std::string_view text = rest;
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    lines.push_back(TextFrom8Bit(text.substr(0, lf)));
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
  }
  const std::string label = TextFrom8Bit(image);
  std::string value = "untouched";
  const bool found = TakeValueAfterLabel(lines, label, value);
  size_t first = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(label) != std::string::npos) {
      first = i;
      break;
    }
  }
  if (found != (first < lines.size())) std::abort();
  if (!found && value != "untouched") std::abort();
  if (found) {
    const std::string& line = lines[first];
    if (value.size() > line.size() || line.compare(line.size() - value.size(), value.size(), value) != 0) {
      std::abort();
    }
    if (!IsValidUtf8(value)) std::abort();
  }
  std::string version;
  if (TakeLastVersionLine(lines, version) && !ModelIsVersion(version)) std::abort();
  return 0;
}
