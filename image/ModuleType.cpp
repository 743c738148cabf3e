#include "image/ModuleType.h"

#include "platform/StringTable.h"

const int kModuleNameIds[kModuleCount] = {147, 148, 149, 159, 160, 148, 161, 150, 151};
const int kModuleResourceIds[kModuleCount] = {148, 144, 147, 160, 161, 162, 163, 146, 145};

std::string ModuleDisplayName(ModuleType m) {
  if (m == MODULE_NONE) return std::string();
  return LoadStringById(kModuleNameIds[ModuleIndex(m)]);
}
