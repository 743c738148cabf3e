#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// An upgradable module. 0 to 6 are parts of the router module in two families, 7 and 8 the wireless
// module's firmware and dashboard; MODULE_NONE stands for "no module" wherever a type is stored.
//
// The numbers are the index of the module's image slot, of its row name and embedded image in the
// tables below, and the `type` the terminal tool's JSON reports, so the enumeration keeps them and
// converts to int; an int becomes a ModuleType only through ModuleFromNumber.
enum ModuleType : int {
  MODULE_BOOT = 0,           // first router family
  MODULE_APP = 1,            // first router family
  MODULE_CUSTOMIZATION = 2,  // first router family
  MODULE_COMMON_HTML = 3,    // second router family
  MODULE_SPECIAL_HTML = 4,   // second router family
  MODULE_APP2 = 5,           // second router family
  MODULE_CONFIG_FILE = 6,    // second router family
  MODULE_FIRMWARE = 7,       // wireless module
  MODULE_DASHBOARD = 8,      // wireless module
  MODULE_NONE = 9,
};
constexpr int kModuleCount = 9;

// Every module, in the order of its number (the order a run takes them in).
inline constexpr std::array<ModuleType, kModuleCount> kAllModules = {
    MODULE_BOOT, MODULE_APP,         MODULE_CUSTOMIZATION, MODULE_COMMON_HTML, MODULE_SPECIAL_HTML,
    MODULE_APP2, MODULE_CONFIG_FILE, MODULE_FIRMWARE,      MODULE_DASHBOARD};

// The module numbered n; MODULE_NONE for any number outside 0 to 8.
constexpr ModuleType ModuleFromNumber(int n) {
  return n >= 0 && n < kModuleCount ? static_cast<ModuleType>(n) : MODULE_NONE;
}
// The index of a module (0 to 8) in the per-module tables; only for a module other than MODULE_NONE.
constexpr size_t ModuleIndex(ModuleType m) { return static_cast<size_t>(m); }

// String-table id of each type's row name and the resource id of its embedded image.
extern const int kModuleNameIds[kModuleCount];      // 147, 148, 149, 159, 160, 148, 161, 150, 151
extern const int kModuleResourceIds[kModuleCount];  // 148, 144, 147, 160, 161, 162, 163, 146, 145

// The module's row name from the string table ("" for MODULE_NONE).
std::string ModuleDisplayName(ModuleType m);

constexpr bool IsRouterModule(ModuleType t) { return t >= MODULE_BOOT && t <= MODULE_CONFIG_FILE; }
constexpr bool IsFirstRouterFamily(ModuleType t) { return t >= MODULE_BOOT && t <= MODULE_CUSTOMIZATION; }
constexpr bool IsSecondRouterFamily(ModuleType t) {
  return t >= MODULE_COMMON_HTML && t <= MODULE_CONFIG_FILE;
}
constexpr bool IsWirelessModule(ModuleType t) { return t == MODULE_FIRMWARE || t == MODULE_DASHBOARD; }
