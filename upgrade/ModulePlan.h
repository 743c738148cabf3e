#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "image/ModuleType.h"
#include "platform/Translation.h"
#include "protocol/RouterDatagram.h"

class CBinFile;
class CImageSet;

// What the Check found, as values the Upgrade run and the front ends take as input.

// The router that answered the discovery.
struct RouterInfo {
  bool found = false;  // false until a discovery succeeded; then the fields below hold its answer
  IpAddress ip;
  MacAddress mac;
  std::string text;  // the text of its discovery answer, as received (a version text or not)
};

// Which router family the module list shows. Images of both families may be present; the Check
// reads and shows only one, the first whenever an image of module 0, 1 or 2 is valid.
enum class RouterFamily { First, Second };

// The Check's verdict on one module.
enum class UpgradeDecision {
  NoImage,          // no valid image: the row shows "Not found" in grey
  Upgrade,          // may be upgraded: blue, "Waiting for the upgrade"
  VersionConflict,  // the device's version rules the image out: red, "Version does not match"
};

// One module of the plan.
struct PlannedModule {
  ModuleType type = MODULE_NONE;
  // The list row that shows the module; -1 when its family is not shown.
  int row = -1;
  // The verified image the Upgrade sends (in the front end's image set); null without one.
  const CBinFile* image = nullptr;
  // The version read from the device ("" when none was read), and the image's version text.
  std::string currentVersion;
  std::string imageVersion;
  UpgradeDecision decision = UpgradeDecision::NoImage;

  bool HasImage() const { return image != nullptr; }
  bool Shown() const { return row >= 0; }
};

// Every module with its row, image, versions and decision. The one place that maps modules to the
// rows of the list: the Check writes the rows in this order, the Upgrade run finds each module's
// row here, and the terminal tool reports the rows from it.
class ModulePlan {
 public:
  // The plan of an empty image set (no image, the second family's rows): what a front end holds
  // before its first Check.
  ModulePlan();

  // The family a set of images shows: the first when an image of module 0, 1 or 2 is valid.
  static RouterFamily FamilyShown(const CImageSet& images);
  // The modules whose rows a family shows, in row order: 0, 1, 2, 7, 8 or 3, 4, 5, 6, 7, 8.
  static std::span<const ModuleType> ShownModules(RouterFamily family);

  // The plan of a set of images before any version is read: each module's row, image (the set
  // must outlive the plan) and image version; every module with a valid image decided Upgrade.
  static ModulePlan ForImages(const CImageSet& images);

  RouterFamily Family() const { return m_Family; }
  // The modules of the rows shown, in row order.
  std::span<const ModuleType> Shown() const { return ShownModules(m_Family); }

  // Module m (m must not be MODULE_NONE).
  PlannedModule& operator[](ModuleType m) { return m_Modules[ModuleIndex(m)]; }
  const PlannedModule& operator[](ModuleType m) const { return m_Modules[ModuleIndex(m)]; }

  // The row of module m; -1 when it is not shown (or m is no module).
  int RowOf(ModuleType m) const;
  // Whether the Upgrade sends module m: it has a valid image, the Check decided Upgrade and its row
  // is shown (a module of the hidden family was never read, so it is never sent blind).
  bool IsChosen(ModuleType m) const;
  // The chosen modules in the order a run takes them.
  std::vector<ModuleType> Chosen() const;
  // Whether any module from first to last (inclusive) is chosen.
  bool AnyChosen(ModuleType first, ModuleType last) const;
  // Whether a module of the hidden second family would have been sent, had the Check read it.
  bool OtherFamilyLeftOut() const;
  // Whether any module's versions conflict (the Upgrade is then not offered).
  bool HasConflict() const;

 private:
  void LayOutRows(RouterFamily family);

  RouterFamily m_Family = RouterFamily::Second;
  std::array<PlannedModule, kModuleCount> m_Modules;
};

// The texts that stand in a current version instead of a version: the module waits in its
// downloader, or the device's answer held none. The plan keeps them in English (the version rule and
// the log read them); the rows show them in the user's language (ShownVersion).
inline constexpr const char* kForceLoadText = N_("Can't read in force-load mode");
inline constexpr const char* kVersionReadFailedText = N_("Failed to read");
inline constexpr const char* kNoVersionText = N_("No version");

// The first three numbers of a version text; digits after the last separator are not stored.
struct VersionTriple {
  int32_t first = 0;
  int32_t second = 0;
  int32_t third = 0;
  bool operator==(const VersionTriple&) const = default;
};
VersionTriple ParseVersion(const std::string& text);

// The version rule for a module with a valid image: Upgrade or VersionConflict. A current version
// that is not a version text (nothing read, a failure text) never blocks the upgrade; otherwise the
// first two numbers must match and the device's third number must be 0, 994 or the image's.
UpgradeDecision DecideUpgrade(const std::string& currentVersion, const std::string& imageVersion);
