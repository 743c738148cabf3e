// Any bytes as an image file, inspected as `qor-mkimage info` does (the Check's own open and walk)
// and reported as JSON and as text. The first byte picks the file name (the type rule reads the
// path). Checks: the JSON parses, has one object whose fields agree with the inspection (a reason
// exactly for an invalid file, one entry per unit walked, block counts that cover the data), holds
// no raw control character; the text report's only controls are its line feeds.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/TextCodec.h"
#include "tools/ImageInspector.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/qor-fuzz-image-info-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern);
  }();
  return folder;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size;
}

bool HasControl(const std::string& text, bool allowLineFeed) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '\n' && allowLineFeed) continue;
    if (c < 0x20 || c == 0x7F) return true;
    // C1 controls are U+0080..U+009F: C2 80..C2 9F in UTF-8
    if (c == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) <= 0x9F) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kNames[] = {"/image.bin", "/ZRMP_wireless.bin", "/app\x1b]0;x\x07.bin", "/x.bin"};
  const std::string path = Folder() + kNames[data[0] % 4];
  if (!WriteFile(path, data + 1, size - 1)) std::abort();

  const ImageInfo info = InspectImageFile(path);
  unlink(path.c_str());
  if (info.valid != info.reason.empty()) std::abort();
  // the blocks of a unit cover its data, and the last one is not empty
  for (const UnitInfo& unit : info.units) {
    const uint64_t covered = uint64_t{unit.blocks} * unit.blockSize;
    if (unit.blockSize == 0 && unit.blocks != 0) std::abort();
    if (unit.blockSize != 0 &&
        (covered < unit.dataLength || covered >= uint64_t{unit.dataLength} + unit.blockSize))
      std::abort();
  }

  const std::string json = FormatImageInfoJson({info});
  if (!IsValidUtf8(json) || HasControl(json, true)) std::abort();
  const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_array() || parsed.size() != 1) std::abort();
  const nlohmann::json& file = parsed[0];
  if (file.value("valid", !info.valid) != info.valid) std::abort();
  if (file.contains("reason") == info.valid) std::abort();
  if (file.value("version", std::string("?")) != TextFrom8Bit(info.version)) std::abort();
  if (!file["units"].is_array() || file["units"].size() != info.units.size()) std::abort();

  const std::string text = FormatImageInfoText({info});
  if (!IsValidUtf8(text) || HasControl(text, true)) std::abort();
  return 0;
}
