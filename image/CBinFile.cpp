#include "image/CBinFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "image/ImageFormat.h"
#include "image/UnitWalk.h"
#include "platform/Resources.h"
#include "platform/TextCodec.h"

namespace L = image_layout;

namespace {
ModuleType TypeOfResource(int resourceId) {
  for (ModuleType t : kAllModules)
    if (kModuleResourceIds[ModuleIndex(t)] == resourceId) return t;
  return MODULE_NONE;
}
}  // namespace

CBinFile::CBinFile() = default;

CBinFile::~CBinFile() { Reset(); }

void CBinFile::SetFilePath(const std::string& path) {
  m_Path = path;
  m_Valid = false;
  m_ResourceId = 0;
}

// Only the copy is ever freed: a slot that held an embedded image and then got a path must never
// release the program's own bytes.
void CBinFile::Reset() {
  m_Units.clear();
  m_Extents.clear();
  m_ModuleType = MODULE_NONE;
  m_Copy.Release();
  m_Identity = FileIdentity{};
  m_ImageData = nullptr;
  m_ImageSize = 0;
}

void CBinFile::Release() {
  m_Valid = false;
  Reset();
}

void CBinFile::TakeFrom(CBinFile& other) {
  if (&other == this) return;
  Reset();
  m_Units = std::move(other.m_Units);
  m_Extents = std::move(other.m_Extents);
  m_Path = other.m_Path;
  m_ResourceId = other.m_ResourceId;
  m_Valid = other.m_Valid;
  m_ImageData = other.m_ImageData;
  m_ModuleType = other.m_ModuleType;
  m_ImageSize = other.m_ImageSize;
  m_Copy = std::move(other.m_Copy);
  m_Identity = other.m_Identity;
  m_RejectReason = other.m_RejectReason;
  other.Release();
  other.m_Units.clear();
  other.m_Extents.clear();
}

bool CBinFile::ChangedOnDisk() const {
  if (!m_Valid || m_ResourceId != 0 || m_Copy.Data() == nullptr) return false;
  FileIdentity now;
  if (!FileIdentity::OfPath(m_Path, &now)) return true;
  return !(now == m_Identity);
}

bool CBinFile::OpenFile(ModuleType expected) {
  if (m_Valid) return true;
  m_Valid = false;
  Reset();
  m_RejectReason.clear();

  if (m_Path.size() <= 7 || m_Path.rfind("\\\\", 0) == 0) {
    m_RejectReason = "path refused";
    return false;
  }

  // a FIFO named *.bin cannot stall the scan; only regular files are read
  const int fd = OpenImageFile(m_Path);
  if (fd < 0) {
    m_RejectReason = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  FileIdentity before;
  if (!FileIdentity::OfOpen(fd, &before) || !before.regular) {
    CloseImageFile(fd);
    m_RejectReason = "not a regular file";
    return false;
  }
  const uint64_t size = before.size;
  if (size < L::kMinImageSize) {
    CloseImageFile(fd);
    m_RejectReason = "too short";
    return false;
  }
  if (size > std::numeric_limits<uint32_t>::max()) {
    CloseImageFile(fd);
    m_RejectReason = "too large";
    return false;
  }
  if (!m_Copy.Allocate(static_cast<size_t>(size))) {
    CloseImageFile(fd);
    m_RejectReason = "not enough memory to read it";
    return false;
  }
  const bool read = m_Copy.ReadFrom(fd);
  const int readErrno = errno;
  // what was read is one state of the file only if nothing changed it meanwhile
  FileIdentity after;
  const bool still = FileIdentity::OfOpen(fd, &after) && after == before;
  CloseImageFile(fd);
  if (!read && readErrno != 0) {
    Reset();
    m_RejectReason = std::string("cannot read: ") + std::strerror(readErrno);
    return false;
  }
  if (!read || !still) {
    Reset();
    m_RejectReason = "changed while it was read";
    return false;
  }
  m_Copy.Seal();
  m_Identity = before;
  m_ImageData = m_Copy.Data();
  m_ImageSize = size;

  const std::span<const uint8_t> bytes(m_ImageData, static_cast<size_t>(m_ImageSize));
  if (!WalkUnits(bytes, true, m_Units, m_Extents, &m_RejectReason)) return false;

  m_ModuleType = ClassifyImage(bytes, m_Units, m_Extents, expected, m_Path);
  m_Valid = m_ModuleType != MODULE_NONE;
  if (!m_Valid) m_RejectReason = "unknown type";
  return m_Valid;
}

bool CBinFile::LoadFromResource(int resourceId) {
  Reset();
  m_ResourceId = resourceId;
  m_Valid = false;
  m_Path.clear();
  m_RejectReason.clear();

  size_t size = 0;
  const unsigned char* data = LoadRawResource(resourceId, "BINARY", &size);
  if (data == nullptr) {
    m_RejectReason = "no such resource";
    return false;
  }
  m_ImageData = data;
  m_ImageSize = size;
  if (size < L::kMinImageSize) {
    m_RejectReason = "too short";
    return false;
  }
  // embedded images are built with the program: no CRCs, but every length is still checked
  if (!WalkUnits(std::span<const uint8_t>(data, size), false, m_Units, m_Extents, &m_RejectReason))
    return false;

  const ModuleType t = TypeOfResource(resourceId);
  if (t == MODULE_NONE) {
    m_Units.clear();
    m_Extents.clear();
    m_RejectReason = "unknown resource id";
    return false;
  }
  m_ModuleType = t;
  m_Valid = true;
  return true;
}

std::string CBinFile::GetVersionText() const {
  if (!m_Valid || m_ImageData == nullptr || m_ImageSize < L::kFileHeaderSize) return {};
  const uint8_t* text = m_ImageData + L::kVersionTextOffset;
  if (text[0] == 0) return "No version";
  const size_t len = static_cast<size_t>(std::find(text, text + L::kVersionTextSize, 0) - text);
  return TextFrom8Bit(std::span<const uint8_t>(text, len));
}

uint32_t CBinFile::GetTotalDataLength() const {
  // images are below 4 GiB, so the data lengths of the units cannot add up past 32 bits
  uint32_t total = 0;
  for (const UnitExtent& e : m_Extents) total += e.length;
  return total;
}
