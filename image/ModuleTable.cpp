#include "image/ModuleTable.h"

#include "platform/StringTable.h"

std::array<ModuleRow, kModuleCount> g_ModuleRows;

void LoadModuleDisplayNames() {
  for (int t = 0; t < kModuleCount; ++t) g_ModuleRows[t].m_DisplayName = LoadStringById(kModuleNameIds[t]);
}
