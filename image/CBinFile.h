#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/ModuleType.h"
#include "platform/NonCopyable.h"

// One unit header as read from an image (98 bytes on disk, see image/ImageFormat.h).
struct UnitHeader {
  uint8_t magic[4] = {};
  uint32_t headerLength = 0;  // 98 + 2 x block count
  uint32_t unitFormat = 0;
  uint8_t hardwareId[8] = {};  // the unlock code in a wireless image
  uint32_t loadAddress = 0;    // module address of the first data byte (wireless images)
  uint32_t dataLength = 0;
  char date[16] = {};
  char time[16] = {};
  char name[32] = {};
  uint16_t headerCrc = 0;
  uint32_t blockSize = 0;
};

// Where a unit's data lies: offset from the start of the image, and its length.
struct UnitExtent {
  uint32_t offset = 0;
  uint32_t length = 0;
};

// One upgrade image: a file mapped read-only (never copied) or an embedded resource. Walks and
// verifies the units and classifies the image into a ModuleType.
class CBinFile : public NonCopyable {
 public:
  CBinFile();
  ~CBinFile() override;

  // Stores the path; the image becomes invalid. Does not release a mapping.
  void SetFilePath(const std::string& path);
  // Maps, walks (with CRCs), verifies and classifies the file named by the path. expected is a
  // ModuleType or 9 for any. Returns valid; on a valid object returns true at once.
  bool OpenFile(ModuleType expected);
  // Takes the embedded image with that resource id (walked without CRCs). Returns valid.
  bool LoadFromResource(int resourceId);

  bool IsValid() const { return m_Valid; }
  ModuleType GetModuleType() const { return m_ModuleType; }
  // "" when not valid; "No version" when the version text starts with a zero byte.
  std::string GetVersionText() const;
  uint32_t GetTotalDataLength() const;
  uint32_t GetUnitCount() const { return static_cast<uint32_t>(m_Units.size()); }
  const UnitHeader& GetUnitHeader(uint32_t i) const { return m_Units[i]; }
  const UnitExtent& GetUnitExtent(uint32_t i) const { return m_Extents[i]; }
  const uint8_t* GetImageData() const { return m_ImageData; }
  uint64_t GetImageSize() const { return m_ImageSize; }
  const std::string& GetFilePath() const { return m_Path; }
  int GetResourceId() const { return m_ResourceId; }

  // Why the last OpenFile/LoadFromResource refused the image ("" when valid), for the inspector.
  const std::string& GetRejectReason() const { return m_RejectReason; }

 private:
  void Reset();

  std::vector<UnitHeader> m_Units;
  std::vector<UnitExtent> m_Extents;
  std::string m_Path;
  int m_ResourceId = 0;
  bool m_Valid = false;
  const uint8_t* m_ImageData = nullptr;
  ModuleType m_ModuleType = MODULE_NONE;

  uint64_t m_ImageSize = 0;
  void* m_Mapping = nullptr;  // the mmap'ed view of a file, owned; nullptr for a resource
  size_t m_MappingSize = 0;
  std::string m_RejectReason;
};
