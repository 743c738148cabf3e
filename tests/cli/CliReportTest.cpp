// qor-oneclick-cli report: the bundle is unpacked with the system's tar and every part is checked
// against what the test knows independently (the log file, the saved Check, sha256sum of the images).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "image/Catalogue.h"
#include "platform/Version.h"

namespace {

// The output of a shell command ("" when it failed).
std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  return pclose(pipe) == 0 ? out : std::string();
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(CliReport, BundleHoldsTheLogTheSavedCheckAndTheImagesDigestsButNoImage) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"check"}));
  ASSERT_EQ(run.Finish(), 0) << run.Diagnostics();
  const std::string saved = ReadTextFile(run.TempDir() + "/" + "QorLastCheck.json");
  ASSERT_FALSE(saved.empty()) << "the Check's document is kept beside the log " << run.LogPath();
  EXPECT_NE(saved.find("\"upgrade-offered\""), std::string::npos) << saved;

  const std::string bundle = run.TempDir() + "/bundle.tar.gz";
  ASSERT_TRUE(run.Start({"report", "-o", bundle}));
  ASSERT_EQ(run.Finish(), 0) << run.Diagnostics();
  EXPECT_NE(run.Out().find("Support report: " + bundle), std::string::npos) << run.Out();

  const std::string unpacked = run.TempDir() + "/unpacked";
  ASSERT_EQ(mkdir(unpacked.c_str(), 0700), 0);
  ASSERT_EQ(std::system(("tar -xzf " + Quote(bundle) + " -C " + Quote(unpacked)).c_str()), 0);
  const std::string top = unpacked + "/bundle/";
  struct Part {
    const char* name;
    std::string mustHold;
  };
  const std::string log = ReadTextFile(run.LogPath());
  const Part parts[] = {
      {"manifest.txt", "QorOneClick support report"},
      {"version.txt", std::string("QorOneClick ") + kProductVersion + "\n"},
      {"os-release.txt", ""},
      {"network.txt", "inet 127.0.0.1/8"},
      {"last-check.json", saved},
      {"images.json", "\"sha256\""},
  };
  for (const Part& part : parts) {
    SCOPED_TRACE(part.name);
    const std::string text = ReadTextFile(top + part.name);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find(part.mustHold), std::string::npos) << text;
  }
  // the log whole, starting with the run's header
  const std::string logName = run.LogPath().substr(run.LogPath().rfind('/') + 1);
  EXPECT_EQ(ReadTextFile(top + logName), log);
  EXPECT_NE(log.substr(0, log.find('\n'))
                .find(std::string("QorOneClick ") + kProductVersion + ", qor-oneclick-cli check, time zone "),
            std::string::npos)
      << log.substr(0, 200);
  // addresses only: no hardware address of any interface
  EXPECT_FALSE(
      std::regex_search(ReadTextFile(top + "network.txt"), std::regex("([0-9a-fA-F]{2}:){5}[0-9a-fA-F]{2}")));

  // every image named with its size and the digest sha256sum finds; no image's bytes are in the bundle
  const std::string images = ReadTextFile(top + "images.json");
  const std::string bundleDigests = Shell("find " + Quote(unpacked) + " -type f -exec sha256sum {} +");
  ASSERT_FALSE(bundleDigests.empty());
  const std::vector<std::string> names = ListImageFiles(run.Stage().ImageFolder());
  ASSERT_GE(names.size(), 4u);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string path = run.Stage().ImageFolder() + "/" + name;
    const std::string digest = Shell("sha256sum " + Quote(path)).substr(0, 64);
    ASSERT_EQ(digest.size(), 64u);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const size_t at = images.find("\"name\": \"" + name + "\"");
    ASSERT_NE(at, std::string::npos) << images;
    const std::string entry = images.substr(at, images.find('}', at) - at);
    EXPECT_NE(entry.find("\"size\": " + std::to_string(st.st_size)), std::string::npos) << entry;
    EXPECT_NE(entry.find("\"sha256\": \"" + digest + "\""), std::string::npos) << entry;
    EXPECT_NE(entry.find("\"version\": \""), std::string::npos) << entry;
    EXPECT_EQ(bundleDigests.find(digest), std::string::npos) << "an image is in the bundle";
  }
}

// A demo writes its own log and leaves the technician's alone; a report that cannot be written
// says so and leaves nothing behind.
TEST(CliReport, DemoLogsApartAndAnUnwritableReportFails) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ChildProcess demo;
  std::map<std::string, std::string> env = run.Env();
  env["LANGUAGE"] = "en";
  ASSERT_TRUE(demo.Start(QOR_CLI_PATH, {"demo", "--speed", "20", "--quiet"}, env));
  int code = -1;
  ASSERT_TRUE(demo.Wait(240000, &code));
  ASSERT_EQ(code, 0) << demo.Stderr();
  const std::string state = run.TempDir() + "/state/qor-oneclick/";
  const std::string demoLog = ReadTextFile(state + "QorUpgradeLog-demo.txt");
  // the run's first line, after its time stamp, is the header
  EXPECT_EQ(
      demoLog.find(std::string("QorOneClick ") + kProductVersion + ", qor-oneclick-cli demo, time zone "),
      20u)
      << demoLog.substr(0, 200);
  EXPECT_FALSE(Exists(state + "QorUpgradeLog.txt"));
  EXPECT_FALSE(Exists(state + "QorLastCheck.json")) << "a demo's Check is not the technician's";

  const std::string folder = run.TempDir() + "/no-such-folder";
  ASSERT_TRUE(demo.Start(QOR_CLI_PATH, {"report", "-o", folder + "/r.tar.gz"}, env));
  ASSERT_TRUE(demo.Wait(60000, &code));
  EXPECT_EQ(code, 1);
  EXPECT_NE(demo.Stderr().find("The support report could not be written: "), std::string::npos)
      << demo.Stderr();
  EXPECT_FALSE(Exists(folder));
}
