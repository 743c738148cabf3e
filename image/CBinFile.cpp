#include "image/CBinFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "image/ImageFormat.h"
#include "image/UnitWalk.h"
#include "platform/Resources.h"
#include "platform/TextCodec.h"

namespace L = image_layout;

namespace {
ModuleType TypeOfResource(int resourceId) {
  for (int t = 0; t < kModuleCount; ++t)
    if (kModuleResourceIds[t] == resourceId) return t;
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

// Whether the view is ours to unmap is kept in m_Mapping, not inferred from the resource id: a slot
// that held an embedded image and then got a path must never unmap the program's own bytes.
void CBinFile::Reset() {
  m_Units.clear();
  m_Extents.clear();
  m_ModuleType = MODULE_NONE;
  if (m_Mapping != nullptr) {
    munmap(m_Mapping, m_MappingSize);
    m_Mapping = nullptr;
    m_MappingSize = 0;
  }
  m_ImageData = nullptr;
  m_ImageSize = 0;
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

  // O_NONBLOCK so that a FIFO named *.bin cannot stall the scan; only regular files are mapped
  const int fd = open(m_Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    m_RejectReason = "cannot open";
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    m_RejectReason = "not a regular file";
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size < L::kMinImageSize) {
    close(fd);
    m_RejectReason = "too short";
    return false;
  }
  if (size > std::numeric_limits<uint32_t>::max()) {
    close(fd);
    m_RejectReason = "too large";
    return false;
  }
  void* view = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);  // the view stays valid without the descriptor
  if (view == MAP_FAILED) {
    m_RejectReason = "cannot map";
    return false;
  }
  m_Mapping = view;
  m_MappingSize = static_cast<size_t>(size);
  m_ImageData = static_cast<const uint8_t*>(view);
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
  if (!WalkUnits(std::span<const uint8_t>(data, size), false, m_Units, m_Extents, &m_RejectReason)) return false;

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
