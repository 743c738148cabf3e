#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/ModuleType.h"

// What `qor-mkimage info` reports for one file: the file is opened exactly as the Check scan opens
// it (CBinFile::OpenFile with any type), so "valid" and the module type are the tool's own verdict.
struct UnitInfo {
  uint32_t loadAddress = 0;
  uint32_t dataLength = 0;
  uint32_t blockSize = 0;
  uint32_t blocks = 0;
};

struct ImageInfo {
  std::string path;
  bool valid = false;
  ModuleType moduleType = MODULE_NONE;
  std::string version;          // "" when invalid
  std::vector<UnitInfo> units;  // the units walked (those before the fault in an invalid file)
  std::string reason;           // why it is invalid ("" when valid)
};

ImageInfo InspectImageFile(const std::string& path);

// One JSON array (the project's JSON writer, indented) of objects with path, valid, moduleType,
// version, units (loadAddress, dataLength, blockSize, blocks) and, for invalid files, reason. Always
// valid UTF-8 (a file name that is not UTF-8 is read as Latin-1). Ends with a newline.
std::string FormatImageInfoJson(const std::vector<ImageInfo>& infos);
// Human-readable lines; names, versions and reasons as PrintableText.
std::string FormatImageInfoText(const std::vector<ImageInfo>& infos);
