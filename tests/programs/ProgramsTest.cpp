// Every program answers --version with its name and the one product version, and --help with its
// usage, with status 0 and without a display.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "platform/Version.h"

namespace {

struct Program {
  const char* name;
  const char* path;
};
const Program kPrograms[] = {QOR_PROGRAMS};

// no display and no language of the tester's: what a terminal on a server looks like
const std::map<std::string, std::string> kPlainTerminal = {
    {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"LANGUAGE", "en"}};

TEST(Programs, EveryProgramOfTheBuildIsChecked) {
  std::vector<std::string> names;
  for (const Program& p : kPrograms) names.push_back(p.name);
  std::vector<std::string> expected = {"qor-oneclick-cli", "qor-router-sim", "qor-mkimage"};
#ifdef QOR_WINDOW_BUILT
  expected.insert(expected.begin(), "qor-oneclick");
#endif
  EXPECT_EQ(names, expected);
}

TEST(Programs, VersionNamesTheProgramAndTheProductVersion) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    ChildProcess child;
    ASSERT_TRUE(child.Start(p.path, {"--version"}, kPlainTerminal));
    int code = -1;
    ASSERT_TRUE(child.Wait(60000, &code));
    EXPECT_EQ(code, 0) << child.Stderr();
    EXPECT_EQ(child.Stdout(), std::string(p.name) + " " + kProductVersion + "\n");
  }
}

TEST(Programs, HelpPrintsTheUsageAndEndsWell) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    ChildProcess child;
    ASSERT_TRUE(child.Start(p.path, {"--help"}, kPlainTerminal));
    int code = -1;
    ASSERT_TRUE(child.Wait(60000, &code));
    EXPECT_EQ(code, 0) << child.Stderr();
    const std::string out = child.Stdout();
    // "Usage:" (or "usage:") and the program's name, and --version among the options
    EXPECT_NE(out.find("sage:"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string(p.name) + " "), std::string::npos) << out;
    EXPECT_NE(out.find("--version"), std::string::npos) << out;
  }
}

TEST(Programs, AnUnknownOptionIsRefusedWithStatusTwo) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    ChildProcess child;
    ASSERT_TRUE(child.Start(p.path, {"--no-such-option"}, kPlainTerminal));
    int code = -1;
    ASSERT_TRUE(child.Wait(60000, &code));
    EXPECT_EQ(code, 2);
    EXPECT_NE(child.Stderr().find("no-such-option"), std::string::npos) << child.Stderr();
    EXPECT_EQ(child.Stdout(), "");
  }
}

}  // namespace
