// The plan: which rows a set of images shows, which modules a run sends, and the checks the run
// and the front ends ask of it. One table of image sets drives every question, so a change in the
// row mapping shows up in all of them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UpgradeFixtures.h"
#include "image/ImageSet.h"
#include "upgrade/ModulePlan.h"

namespace upgrade_test {
namespace {

void Fill(const TempDir& dir, CImageSet& images, const std::vector<ModuleType>& modules) {
  ASSERT_TRUE(FillImageSet(dir.Path(), images, modules));
}

TEST(ModulePlan, RowsFollowTheFamilyShownAndHiddenModulesHaveNone) {
  struct Case {
    const char* name;
    std::vector<ModuleType> images;
    RouterFamily family;
    std::vector<ModuleType> shown;  // in row order
    std::vector<int> rows;          // per module 0..8
    bool otherFamilyLeftOut;
  };
  const Case cases[] = {
      {"first family",
       Modules({1, 7}),
       RouterFamily::First,
       Modules({0, 1, 2, 7, 8}),
       {0, 1, 2, -1, -1, -1, -1, 3, 4},
       false},
      {"second family",
       Modules({5}),
       RouterFamily::Second,
       Modules({3, 4, 5, 6, 7, 8}),
       {-1, -1, -1, 0, 1, 2, 3, 4, 5},
       false},
      {"wireless only: the second family's rows",
       Modules({8}),
       RouterFamily::Second,
       Modules({3, 4, 5, 6, 7, 8}),
       {-1, -1, -1, 0, 1, 2, 3, 4, 5},
       false},
      {"both families",
       Modules({2, 4}),
       RouterFamily::First,
       Modules({0, 1, 2, 7, 8}),
       {0, 1, 2, -1, -1, -1, -1, 3, 4},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CImageSet images;
    Fill(dir, images, c.images);
    EXPECT_EQ(ModulePlan::FamilyShown(images), c.family);
    const ModulePlan plan = ModulePlan::ForImages(images);
    EXPECT_EQ(plan.Family(), c.family);
    const std::vector<ModuleType> shown(plan.Shown().begin(), plan.Shown().end());
    EXPECT_EQ(shown, c.shown);
    for (ModuleType m : kAllModules) {
      SCOPED_TRACE(m);
      EXPECT_EQ(plan.RowOf(m), c.rows[ModuleIndex(m)]);
      EXPECT_EQ(plan[m].Shown(), c.rows[ModuleIndex(m)] >= 0);
      // every module with an image carries it and its version
      EXPECT_EQ(plan[m].HasImage(), images.HasImage(m));
      if (plan[m].HasImage()) {
        EXPECT_EQ(plan[m].image, &images[m]);
        EXPECT_EQ(plan[m].imageVersion, "1.0.0.0");
      }
    }
    EXPECT_EQ(plan.OtherFamilyLeftOut(), c.otherFamilyLeftOut);
    EXPECT_EQ(plan.RowOf(MODULE_NONE), -1);
  }
}

TEST(ModulePlan, TheRunTakesTheChosenModulesInOrderAndAConflictOffersNothing) {
  TempDir dir;
  CImageSet images;
  Fill(dir, images, Modules({0, 1, 2, 7, 8}));
  struct Case {
    const char* name;
    std::vector<ModuleType> conflicts;
    std::vector<ModuleType> chosen;
    bool routerPartsAfterBoot;  // AnyChosen(APP, CONFIG_FILE): the NVRAM erase is due
  };
  const Case cases[] = {
      {"nothing conflicts", {}, Modules({0, 1, 2, 7, 8}), true},
      {"the application conflicts", Modules({1}), Modules({0, 2, 7, 8}), true},
      {"only the boot loader is left", Modules({1, 2}), Modules({0, 7, 8}), false},
      {"the firmware conflicts", Modules({7}), Modules({0, 1, 2, 8}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModulePlan plan = ModulePlan::ForImages(images);
    for (ModuleType m : c.conflicts) plan[m].decision = UpgradeDecision::VersionConflict;
    EXPECT_EQ(plan.Chosen(), c.chosen);
    EXPECT_EQ(plan.HasConflict(), !c.conflicts.empty());
    EXPECT_EQ(plan.AnyChosen(MODULE_APP, MODULE_CONFIG_FILE), c.routerPartsAfterBoot);
    EXPECT_EQ(plan.AnyChosen(MODULE_FIRMWARE, MODULE_DASHBOARD),
              !plan.Chosen().empty() && plan.Chosen().back() >= MODULE_FIRMWARE);
  }
}

// What a front end holds before its first Check is the plan of an empty set of images.
TEST(ModulePlan, APlanWithoutImagesIsThePlanOfAnEmptySet) {
  const ModulePlan plan;
  const CImageSet none;
  const ModulePlan empty = ModulePlan::ForImages(none);
  EXPECT_EQ(plan.Family(), RouterFamily::Second);
  EXPECT_EQ(empty.Family(), RouterFamily::Second);
  EXPECT_TRUE(plan.Chosen().empty());
  EXPECT_FALSE(plan.HasConflict());
  EXPECT_FALSE(plan.OtherFamilyLeftOut());
  for (ModuleType m : kAllModules) {
    EXPECT_EQ(plan[m].type, m);
    EXPECT_EQ(plan[m].decision, UpgradeDecision::NoImage);
    EXPECT_FALSE(plan[m].HasImage());
    EXPECT_EQ(plan.RowOf(m), empty.RowOf(m));
    EXPECT_EQ(plan.RowOf(m) >= 0, IsSecondRouterFamily(m) || IsWirelessModule(m));
  }
}

}  // namespace
}  // namespace upgrade_test
