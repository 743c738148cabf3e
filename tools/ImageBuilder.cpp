#include "tools/ImageBuilder.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "image/CImageCopy.h"
#include "image/Crc16.h"
#include "platform/ByteOrder.h"
#include "platform/FileFaults.h"
#include "platform/UserDirs.h"

namespace L = image_layout;

namespace {
using bytes::PutU16LE;
using bytes::PutU32LE;

// Copies at most size - 1 bytes so the field always keeps a terminating zero.
void PutText(uint8_t* p, size_t size, const std::string& text) {
  std::memcpy(p, text.data(), std::min(text.size(), size - 1));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

std::vector<uint8_t> BuildImage(const ImageSpec& spec, std::vector<UnitPlacement>* placements) {
  // size everything first so the image is allocated once (images can be tens of megabytes)
  size_t total = L::kFileHeaderSize;
  for (const UnitSpec& u : spec.units) {
    if (u.blockSize == 0 || u.data.size() > std::numeric_limits<uint32_t>::max()) return {};
    const uint64_t n = (u.data.size() + uint64_t{u.blockSize} - 1) / u.blockSize;
    const uint64_t body = L::kUnitHeaderSize + 2 * n + u.data.size();
    total += static_cast<size_t>(body + (4 - body % 4) % 4);
  }
  std::vector<uint8_t> image(total, 0);
  if (placements) placements->clear();

  PutU32LE(&image[L::kFileTypeOffset], spec.fileType);
  PutText(&image[L::kVersionTextOffset], L::kVersionTextSize, spec.version);

  size_t p = L::kFileHeaderSize;
  for (size_t ui = 0; ui < spec.units.size(); ++ui) {
    const UnitSpec& u = spec.units[ui];
    const int uix = static_cast<int>(ui);
    const uint32_t dataLength = static_cast<uint32_t>(u.data.size());
    const uint32_t n = static_cast<uint32_t>((uint64_t{dataLength} + u.blockSize - 1) / u.blockSize);

    UnitPlacement place;
    place.headerOffset = p;
    place.crcListOffset = p + L::kUnitHeaderSize;
    place.dataOffset = place.crcListOffset + 2 * size_t{n};
    place.dataLength = dataLength;
    place.blockCount = n;

    uint8_t* h = &image[p];
    std::memcpy(h + L::kMagicOffset, u.magic.data(), 4);
    uint32_t headerLength = static_cast<uint32_t>(L::kUnitHeaderSize + 2 * size_t{n});
    if (spec.damage.headerLengthUnit == uix) headerLength += 2;
    PutU32LE(h + L::kHeaderLengthOffset, headerLength);
    PutU32LE(h + L::kUnitFormatOffset, u.unitFormat);
    std::memcpy(h + L::kHardwareIdOffset, u.hardwareId.data(), L::kHardwareIdSize);
    PutU32LE(h + L::kLoadAddressOffset, u.loadAddress);
    PutU32LE(h + L::kDataLengthOffset, dataLength);
    PutText(h + L::kDateOffset, L::kDateSize, u.date);
    PutText(h + L::kTimeOffset, L::kTimeSize, u.time);
    PutText(h + L::kNameOffset, L::kNameSize, u.name);
    PutU32LE(h + L::kBlockSizeOffset, u.blockSize);
    // the header CRC covers all 98 bytes with its own field still zero
    uint16_t headerCrc = Crc16Compute(h, L::kUnitHeaderSize);
    if (spec.damage.headerCrcUnit == uix) headerCrc ^= 0x0101;
    PutU16LE(h + L::kHeaderCrcOffset, headerCrc);

    if (dataLength > 0) std::memcpy(&image[place.dataOffset], u.data.data(), dataLength);
    for (uint32_t b = 0; b < n; ++b) {
      const size_t off = size_t{b} * u.blockSize;
      const size_t len = std::min<size_t>(u.blockSize, dataLength - off);
      uint16_t crc = Crc16Compute(&image[place.dataOffset + off], len);
      if (spec.damage.blockCrcUnit == uix && spec.damage.blockCrcBlock == b) crc ^= 0x8001;
      PutU16LE(&image[place.crcListOffset + 2 * size_t{b}], crc);
    }

    const size_t body = L::kUnitHeaderSize + 2 * size_t{n} + dataLength;
    place.fillLength = (4 - body % 4) % 4;
    p += body + place.fillLength;
    if (placements) placements->push_back(place);
  }

  if (spec.damage.omitLastFill && !spec.units.empty()) {
    const UnitSpec& last = spec.units.back();
    const uint64_t n = (last.data.size() + uint64_t{last.blockSize} - 1) / last.blockSize;
    const uint64_t body = L::kUnitHeaderSize + 2 * n + last.data.size();
    const size_t fill = static_cast<size_t>((4 - body % 4) % 4);
    image.resize(image.size() - fill);
    if (placements && !placements->empty()) placements->back().fillLength = 0;
  }
  return image;
}

uint32_t RouterFlagWord(ModuleType module) {
  // A in bits 1-2, B in bits 3-4
  auto flags = [](uint32_t a, uint32_t b) { return (a << 1) | (b << 3); };
  switch (module) {
    case MODULE_BOOT:
      return flags(1, 0);
    case MODULE_APP:
      return flags(0, 0);
    case MODULE_CUSTOMIZATION:
      return flags(2, 0);
    case MODULE_COMMON_HTML:
      return flags(3, 2);
    case MODULE_SPECIAL_HTML:
      return flags(3, 3);
    case MODULE_APP2:
      return flags(3, 0);
    case MODULE_CONFIG_FILE:
      return flags(3, 1);
    default:
      return 0;
  }
}

std::array<uint8_t, L::kTrxHeaderSize> MakeTrxHeader(ModuleType module, uint32_t totalLength) {
  std::array<uint8_t, L::kTrxHeaderSize> h{};
  std::memcpy(h.data(), L::kRouterMagic.data(), 4);
  PutU32LE(&h[4], totalLength);
  PutU32LE(&h[8], 0);  // the router checks its own CRC later; the tool never reads this field
  PutU32LE(&h[L::kTrxFlagOffset], RouterFlagWord(module));
  return h;
}

std::array<uint8_t, L::kVersionTagSize> MakeVersionTag(ModuleType module, const std::string& version) {
  std::array<uint8_t, L::kVersionTagSize> tag{};
  std::memcpy(tag.data(), L::kVersionTagMagic.data(), L::kVersionTagMagic.size());
  tag[L::kVersionTagTypeOffset] = static_cast<uint8_t>(module);
  PutText(&tag[L::kVersionTagTextOffset], L::kVersionTagTextSize, version);
  return tag;
}

bool ParseVersionTag(std::span<const uint8_t> bytes, ModuleType& module, std::string& version) {
  if (bytes.size() < L::kVersionTagSize) return false;
  if (!std::equal(L::kVersionTagMagic.begin(), L::kVersionTagMagic.end(), bytes.begin())) return false;
  module = ModuleFromNumber(bytes[L::kVersionTagTypeOffset]);
  const uint8_t* text = bytes.data() + L::kVersionTagTextOffset;
  const size_t len = std::find(text, text + L::kVersionTagTextSize, 0) - text;
  version.assign(reinterpret_cast<const char*>(text), len);
  return true;
}

std::vector<uint8_t> BuildRouterImage(const RouterImageSpec& spec, std::vector<UnitPlacement>* placements) {
  if (!IsRouterModule(spec.module)) return {};
  const size_t tagSize = spec.versionTag ? L::kVersionTagSize : 0;
  const uint64_t total = L::kTrxHeaderSize + tagSize + spec.payload.size();
  if (total > std::numeric_limits<uint32_t>::max()) return {};

  UnitSpec unit;
  unit.magic = L::kRouterMagic;
  unit.blockSize = spec.blockSize;
  unit.name = spec.unitName;
  unit.data.reserve(static_cast<size_t>(total));
  const auto trx = MakeTrxHeader(spec.module, static_cast<uint32_t>(total));
  unit.data.insert(unit.data.end(), trx.begin(), trx.end());
  if (spec.versionTag) {
    const auto tag = MakeVersionTag(spec.module, spec.version);
    unit.data.insert(unit.data.end(), tag.begin(), tag.end());
  }
  unit.data.insert(unit.data.end(), spec.payload.begin(), spec.payload.end());

  ImageSpec image;
  image.fileType = L::kFileTypeRouter;
  image.version = spec.version;
  image.damage = spec.damage;
  image.units.push_back(std::move(unit));
  return BuildImage(image, placements);
}

std::vector<uint8_t> BuildWirelessImage(const WirelessImageSpec& spec,
                                        std::vector<UnitPlacement>* placements) {
  if (!IsWirelessModule(spec.kind) || spec.units.empty()) return {};
  ImageSpec image;
  image.fileType = spec.fileType;
  image.version = spec.version;
  image.damage = spec.damage;
  for (size_t i = 0; i < spec.units.size(); ++i) {
    UnitSpec unit;
    unit.magic = L::kWirelessMagic;
    unit.hardwareId = spec.hardwareId;
    unit.loadAddress = spec.units[i].loadAddress;
    unit.blockSize = spec.blockSize;
    unit.name = "unit" + std::to_string(i);
    if (i == 0 && spec.versionTag) {
      const auto tag = MakeVersionTag(spec.kind, spec.version);
      unit.data.assign(tag.begin(), tag.end());
    }
    unit.data.insert(unit.data.end(), spec.units[i].data.begin(), spec.units[i].data.end());
    image.units.push_back(std::move(unit));
  }
  return BuildImage(image, placements);
}

bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes, bool sync) {
#ifdef _WIN32
  const size_t slash = path.find_last_of("/\\");
#else
  const size_t slash = path.rfind('/');
#endif
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return false;

  // a new name in the same folder (so the rename cannot cross file systems); O_EXCL with mode 0666
  // lets the umask decide the permissions, as for any file the user creates
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "." + name + ".tmp-" + std::to_string(ProcessNumber()) + "-" + std::to_string(counter++);
    fd = CreateNewFile(temp);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  // the error of the step that failed, kept through the clean-up for the caller's message
  int error = 0;
  size_t done = 0;
  while (error == 0 && done < bytes.size()) {
    const ssize_t n =
        CallUnlessFaulted(FileOp::Write, [&] { return write(fd, bytes.data() + done, bytes.size() - done); });
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      error = errno;
    else if (n == 0)
      error = ENOSPC;
    else
      done += static_cast<size_t>(n);
  }
  if (error == 0 && sync && !SyncFileData(fd)) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  // the final name gets the whole file or keeps what it had
  if (error == 0 && !ReplaceFileWith(temp, path)) error = errno;
  if (error == 0) return true;
  RemoveFile(temp);
  errno = error;
  return false;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) bytes.insert(bytes.end(), buf, buf + n);
  return std::ferror(f.get()) == 0;
}

std::vector<uint8_t> GeneratePayload(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  // xorshift32; a zero state would stay zero, so fold the seed into a non-zero start
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  if (x == 0) x = 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}
