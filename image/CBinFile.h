#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/CImageCopy.h"
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

// One upgrade image: a file read into the program's own memory (see CImageCopy) or an embedded
// resource used in place. Walks and verifies the units and classifies the image into a ModuleType.
// The bytes verified are the bytes every later reader gets: GetImageData points into the sealed
// copy, never into the file. The file's identity at the time it was read is kept, so the Upgrade can
// tell whether the file changed since (ChangedOnDisk).
class CBinFile : public NonCopyable {
 public:
  CBinFile();
  ~CBinFile() override;

  // Stores the path; the image becomes invalid. Does not release the copy (Release does).
  void SetFilePath(const std::string& path);
  // Reads the file named by the path into a copy of its own, then walks (with CRCs), verifies and
  // classifies that copy. expected is a ModuleType or 9 for any. Returns valid; on a valid object
  // returns true at once. A file that changes while it is read is refused.
  bool OpenFile(ModuleType expected);
  // The image becomes invalid and its copy is freed (the catalogue's reset); the path stays.
  void Release();
  // Takes over another object's image, copy and state (that object is left empty and invalid), so
  // a file that was read and verified once is not read again.
  void TakeFrom(CBinFile& other);
  // For a valid file image: whether the file under the path is no longer the one that was read
  // (another file, or the same file written to since: device, inode, size, modification or
  // status-change time differ, or it is gone). false for embedded images.
  bool ChangedOnDisk() const;
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
  CImageCopy m_Copy;        // a file's bytes, owned and sealed; empty for a resource
  FileIdentity m_Identity;  // the file as it was read
  std::string m_RejectReason;
};
