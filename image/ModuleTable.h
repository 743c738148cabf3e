#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "image/CBinFile.h"
#include "image/ModuleType.h"

// One row of the module table: what the last Check read and decided, and the image slot of the type.
struct ModuleRow {
  std::string m_CurrentVersion;  // read from the device by the last Check
  CBinFile m_Image;              // the catalogue's image slot of this ModuleType
  int32_t m_Upgrade = 0;         // decision of the last Check: 1 = upgrade, 0 = versions conflict
  std::string m_DisplayName;     // the row name, loaded from the string table by the front end
};

// The module table, indexed by ModuleType. Shared by the front end, the Check procedure and the
// upgrade engine; used by one worker at a time, so it has no lock.
extern std::array<ModuleRow, kModuleCount> g_ModuleRows;

// Loads the nine display names from the string table (ids 147, 148, 149, 159, 160, 148, 161, 150, 151).
void LoadModuleDisplayNames();
