#include "upgrade/ModulePlan.h"

#include "image/ImageSet.h"
#include "protocol/CTelnetClient.h"

namespace {

constexpr ModuleType kFirstFamilyRows[] = {MODULE_BOOT, MODULE_APP, MODULE_CUSTOMIZATION, MODULE_FIRMWARE,
                                           MODULE_DASHBOARD};
constexpr ModuleType kSecondFamilyRows[] = {MODULE_COMMON_HTML, MODULE_SPECIAL_HTML, MODULE_APP2,
                                            MODULE_CONFIG_FILE, MODULE_FIRMWARE,     MODULE_DASHBOARD};

// A device whose third number is this accepts any image of the same first two numbers.
constexpr int32_t kAnyImageThird = 994;

bool IsModule(ModuleType m) { return m >= MODULE_BOOT && m < MODULE_NONE; }

}  // namespace

ModulePlan::ModulePlan() {
  for (ModuleType m : kAllModules) m_Modules[ModuleIndex(m)].type = m;
  LayOutRows(RouterFamily::Second);
}

void ModulePlan::LayOutRows(RouterFamily family) {
  m_Family = family;
  for (PlannedModule& entry : m_Modules) entry.row = -1;
  const std::span<const ModuleType> shown = ShownModules(family);
  for (size_t row = 0; row < shown.size(); ++row) (*this)[shown[row]].row = static_cast<int>(row);
}

RouterFamily ModulePlan::FamilyShown(const CImageSet& images) {
  for (ModuleType m : {MODULE_BOOT, MODULE_APP, MODULE_CUSTOMIZATION}) {
    if (images.HasImage(m)) return RouterFamily::First;
  }
  return RouterFamily::Second;
}

std::span<const ModuleType> ModulePlan::ShownModules(RouterFamily family) {
  if (family == RouterFamily::First) return kFirstFamilyRows;
  return kSecondFamilyRows;
}

ModulePlan ModulePlan::ForImages(const CImageSet& images) {
  ModulePlan plan;
  plan.LayOutRows(FamilyShown(images));
  for (ModuleType m : kAllModules) {
    PlannedModule& entry = plan[m];
    if (!images.HasImage(m)) continue;
    entry.image = &images[m];
    entry.imageVersion = images[m].GetVersionText();
    entry.decision = UpgradeDecision::Upgrade;
  }
  return plan;
}

int ModulePlan::RowOf(ModuleType m) const { return IsModule(m) ? (*this)[m].row : -1; }

bool ModulePlan::IsChosen(ModuleType m) const {
  if (!IsModule(m)) return false;
  const PlannedModule& entry = (*this)[m];
  return entry.HasImage() && entry.decision == UpgradeDecision::Upgrade && entry.Shown();
}

std::vector<ModuleType> ModulePlan::Chosen() const {
  std::vector<ModuleType> chosen;
  for (ModuleType m : kAllModules) {
    if (IsChosen(m)) chosen.push_back(m);
  }
  return chosen;
}

bool ModulePlan::AnyChosen(ModuleType first, ModuleType last) const {
  for (ModuleType m : kAllModules) {
    if (m >= first && m <= last && IsChosen(m)) return true;
  }
  return false;
}

bool ModulePlan::OtherFamilyLeftOut() const {
  if (m_Family != RouterFamily::First) return false;
  for (ModuleType m : kAllModules) {
    const PlannedModule& entry = (*this)[m];
    if (IsSecondRouterFamily(m) && entry.HasImage() && entry.decision == UpgradeDecision::Upgrade)
      return true;
  }
  return false;
}

bool ModulePlan::HasConflict() const {
  for (const PlannedModule& entry : m_Modules) {
    if (entry.decision == UpgradeDecision::VersionConflict) return true;
  }
  return false;
}

VersionTriple ParseVersion(const std::string& text) {
  // numbers wrap at 32 bits like the device's own parser; a long digit run never overflows
  uint32_t values[3] = {0, 0, 0};
  uint32_t value = 0;
  int separators = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      value = value * 10u + static_cast<uint32_t>(c - '0');
      continue;
    }
    values[separators] = value;
    if (separators == 2) {
      break;
    }
    ++separators;
    value = 0;
  }
  return VersionTriple{static_cast<int32_t>(values[0]), static_cast<int32_t>(values[1]),
                       static_cast<int32_t>(values[2])};
}

UpgradeDecision DecideUpgrade(const std::string& currentVersion, const std::string& imageVersion) {
  // an unreadable or unrecognisable current version never blocks the upgrade
  if (!IsVersionText(currentVersion) || !IsVersionText(imageVersion) || currentVersion == imageVersion) {
    return UpgradeDecision::Upgrade;
  }
  const VersionTriple c = ParseVersion(currentVersion);
  const VersionTriple i = ParseVersion(imageVersion);
  if (c.first != i.first || c.second != i.second) return UpgradeDecision::VersionConflict;
  if (c.third == 0 || c.third == i.third || c.third == kAnyImageThird) return UpgradeDecision::Upgrade;
  return UpgradeDecision::VersionConflict;
}
