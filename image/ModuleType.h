#pragma once

#include <cstdint>

// Index of an upgradable module. 0 to 6 are parts of the router module in two families, 7 and 8 the
// wireless module's firmware and dashboard; 9 means "no module" wherever a type is stored.
using ModuleType = int;

constexpr ModuleType MODULE_BOOT = 0;         // first router family
constexpr ModuleType MODULE_APP = 1;          // first router family
constexpr ModuleType MODULE_CUSTOMIZATION = 2;// first router family
constexpr ModuleType MODULE_COMMON_HTML = 3;  // second router family
constexpr ModuleType MODULE_SPECIAL_HTML = 4; // second router family
constexpr ModuleType MODULE_APP2 = 5;         // second router family
constexpr ModuleType MODULE_CONFIG_FILE = 6;  // second router family
constexpr ModuleType MODULE_FIRMWARE = 7;     // wireless module
constexpr ModuleType MODULE_DASHBOARD = 8;    // wireless module
constexpr ModuleType MODULE_NONE = 9;
constexpr int kModuleCount = 9;

// String-table id of each type's row name and the resource id of its embedded image.
extern const int kModuleNameIds[kModuleCount];      // 147, 148, 149, 159, 160, 148, 161, 150, 151
extern const int kModuleResourceIds[kModuleCount];  // 148, 144, 147, 160, 161, 162, 163, 146, 145

inline bool IsRouterModule(ModuleType t) { return t >= 0 && t <= 6; }
inline bool IsFirstRouterFamily(ModuleType t) { return t >= 0 && t <= 2; }
inline bool IsSecondRouterFamily(ModuleType t) { return t >= 3 && t <= 6; }
inline bool IsWirelessModule(ModuleType t) { return t == 7 || t == 8; }
