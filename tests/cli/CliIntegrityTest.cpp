// The real qor-oneclick-cli against the emulator: what the Check verified is what the Upgrade sends
// or nothing is sent, images are found by their real path, the log is in the file whatever ends the
// program and is named only when written, and text from the router or an image never drives the
// terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "CliTestSupport.h"
#include "platform/StringTable.h"
#include "tools/ImageBuilder.h"
#include "upgrade/UpgradeRun.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string out = real;
  std::free(real);
  return out;
}

// Starts the CLI aimed at the emulator; args come after the target's options, so a repeated
// --images or --log of theirs is the one that counts.
bool StartLast(CliRun& run, std::vector<std::string> args, bool keepStdinOpen = false) {
  std::vector<std::string> all = run.TargetArgs(false);
  all.insert(all.end(), args.begin(), args.end());
  std::map<std::string, std::string> env = run.Env();
  env["NO_COLOR"] = "";
  return run.Child().Start(QOR_CLI_PATH, all, env, "", keepStdinOpen);
}

Json ParseJson(const std::string& text) { return Json::parse(text, nullptr, false); }

void OverwriteEightBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const uint8_t junk[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(pwrite(fd, junk, sizeof junk, 1000), 8);
  close(fd);
}

// The file changes while the confirmation question is open: nothing reaches the router, the user is
// told which file and what to do, and the program says the upgrade did not start.
TEST(CliIntegrity, AnImageChangedWhileTheQuestionIsOpenIsNotSent) {
  struct Case {
    const char* name;
    const char* file;
    std::function<void(const std::string&)> change;
  };
  const Case cases[] = {
      {"replaced", "app.bin",
       [](const std::string& path) {
         RouterImageSpec other;
         other.module = MODULE_APP;
         other.version = DemoSetup::kAppImageVersion;
         other.payload = GeneratePayload(1000, 77);
         ASSERT_TRUE(WriteImageFile(path, BuildRouterImage(other)));
       }},
      {"overwritten in place", "boot.bin", OverwriteEightBytes},
      {"truncated", "firmware.bin",
       [](const std::string& path) { ASSERT_EQ(truncate(path.c_str(), 5000), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CliRun run;
    ASSERT_TRUE(run.Ready());
    ASSERT_TRUE(StartLast(run, {"upgrade", "--json", "--images", run.Stage().ImageFolder()}, true));
    ASSERT_TRUE(run.Child().WaitForOutput("[y/N]", 120000)) << run.Diagnostics();
    const std::string path = RealPath(run.Stage().ImageFolder() + "/" + c.file);
    c.change(path);
    ASSERT_TRUE(run.Child().WriteStdin("y\n"));
    const int code = run.Finish();
    EXPECT_EQ(code, 3) << run.Diagnostics();
    const Json json = ParseJson(run.Out());
    ASSERT_TRUE(json.is_object()) << run.Out();
    EXPECT_EQ(json["result"], "image-changed");
    EXPECT_NE(run.Err().find("Warning: " + path + kImageChangedText + "\n"), std::string::npos) << run.Err();
    EXPECT_NE(run.Err().find("The upgrade was not started"), std::string::npos) << run.Err();
    for (const char* kind : {"link.rut-begin", "link.fwt-begin", "router.image", "dl.write"})
      EXPECT_EQ(run.Sim().CountEvents(kind), 0u) << kind;
    EXPECT_NE(ReadTextFile(run.LogPath()).find(path + kImageChangedText + "\r\n"), std::string::npos);
  }
}

// "--images ." from inside a folder whose name holds ZRMP: the type-less two-unit image is the
// dashboard, and a name of seven characters relative to the folder is no reason to skip a file.
TEST(CliIntegrity, ARelativeFolderGivesTheImagesTheirRealPath) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  const std::string folder = run.TempDir() + "/ZRMP_imgs";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  fs::copy_file(run.Stage().ImageFolder() + "/app.bin", folder + "/a.bin");
  WirelessImageSpec dashboard;
  dashboard.kind = MODULE_DASHBOARD;
  dashboard.fileType = 0;
  dashboard.version = DemoSetup::kDashboardImageVersion;
  dashboard.hardwareId = DemoSetup::kUnlockCode;
  dashboard.units = {{0x02000000, GeneratePayload(3000, 1)}, {0x02100000, GeneratePayload(100, 2)}};
  ASSERT_TRUE(WriteImageFile(folder + "/d.bin", BuildWirelessImage(dashboard)));

  run.Child().SetWorkingDirectory(folder);
  ASSERT_TRUE(StartLast(run, {"check", "--json", "--images", "."}));
  EXPECT_EQ(run.Finish(), 0) << run.Diagnostics();
  const Json json = ParseJson(run.Out());
  ASSERT_TRUE(json.is_object()) << run.Out();
  EXPECT_EQ(json["imageFolder"], RealPath(folder));
  EXPECT_EQ(json["skipped"], Json::array());
  std::map<int, Json> byType;
  for (const Json& m : json["modules"]) byType[m["type"].get<int>()] = m;
  EXPECT_EQ(byType[1]["upgradeVersion"], DemoSetup::kAppImageVersion);
  EXPECT_EQ(byType[8]["upgradeVersion"], DemoSetup::kDashboardImageVersion);
  EXPECT_EQ(byType[7]["status"], LoadStringById(IDS_NOT_FOUND)) << "the dashboard was taken for firmware";
}

TEST(CliIntegrity, AnImageFolderThatCannotBeReadIsABadCommandLine) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  const std::string file = run.Stage().ImageFolder() + "/app.bin";
  const std::pair<std::string, std::string> cases[] = {
      {run.TempDir() + "/missing", "No such file or directory"},
      {file, "Not a directory"},
  };
  for (const auto& [folder, reason] : cases) {
    SCOPED_TRACE(folder);
    ASSERT_TRUE(StartLast(run, {"check", "--images", folder}));
    EXPECT_EQ(run.Finish(), 2);
    EXPECT_EQ(run.Err(), "qor-oneclick-cli: --images " + folder + ": " + reason + "\n");
    EXPECT_EQ(run.Out(), "");
  }
  EXPECT_EQ(run.Sim().CountEvents("udp.discover"), 0u) << "nothing is sent for a bad command line";
}

// No valid image: the warning keeps its text and the folder scanned follows on the next line; every
// file passed over is named with its reason, on stderr, in the JSON and in the log.
TEST(CliIntegrity, TheFolderScannedAndEverySkippedImageAreNamed) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  const std::string folder = RealPath(run.TempDir()) + "/junk";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_TRUE(WriteImageFile(folder + "/short.bin", std::vector<uint8_t>(100, 1)));
  RouterImageSpec damaged;
  damaged.module = MODULE_APP;
  damaged.payload = GeneratePayload(20000, 3);
  damaged.damage.blockCrcUnit = 0;
  damaged.damage.blockCrcBlock = 2;
  ASSERT_TRUE(WriteImageFile(folder + "/damaged.bin", BuildRouterImage(damaged)));

  ASSERT_TRUE(StartLast(run, {"check", "--json", "--images", folder}));
  EXPECT_EQ(run.Finish(), 3) << run.Diagnostics();
  const std::string err = run.Err();
  EXPECT_NE(err.find("Warning: " + LoadStringById(IDS_NO_VALID_IMAGE) + "\nFolder scanned: " + folder + "\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Skipped " + folder + "/short.bin: too short\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Skipped " + folder + "/damaged.bin: unit 0: block 2 CRC\n"), std::string::npos) << err;
  const Json json = ParseJson(run.Out());
  ASSERT_TRUE(json.is_object()) << run.Out();
  EXPECT_EQ(json["imageFolder"], folder);
  ASSERT_EQ(json["skipped"].size(), 2u);
  for (const Json& s : json["skipped"]) {
    const std::string path = s["path"];
    EXPECT_EQ(s["reason"], path == folder + "/short.bin" ? "too short" : "unit 0: block 2 CRC") << path;
  }
  const std::string log = ReadTextFile(run.LogPath());
  EXPECT_NE(log.find("Folder scanned: " + folder + "\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Skipped " + folder + "/short.bin: too short\r\n"), std::string::npos) << log;

  // a skipped file beside valid ones is named too, and the Check goes on
  ASSERT_TRUE(WriteImageFile(run.Stage().ImageFolder() + "/old.bin", std::vector<uint8_t>(300, 0)));
  ASSERT_TRUE(StartLast(run, {"check", "--images", run.Stage().ImageFolder()}));
  EXPECT_EQ(run.Finish(), 0) << run.Diagnostics();
  EXPECT_NE(run.Err().find("Skipped " + RealPath(run.Stage().ImageFolder()) + "/old.bin: "),
            std::string::npos)
      << run.Err();
  EXPECT_EQ(run.Err().find("Folder scanned"), std::string::npos);
}

// Killed in the middle of the Upgrade (no handler runs, nothing is flushed at the end): the log file
// holds the Check and every step that had finished.
TEST(CliIntegrity, AKilledUpgradeLeavesTheCheckAndEveryFinishedStepInTheLog) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes"}));
  qorsim::SimEvent first;
  ASSERT_TRUE(run.Sim().WaitForEvent("link.rut-begin", 600000, 0, &first)) << run.Diagnostics();
  // the second module's begin packet: the boot loader's final status is behind us
  ASSERT_TRUE(run.Sim().WaitForEvent("link.rut-begin", 600000, first.seq)) << run.Diagnostics();
  run.Child().Kill();
  const std::string log = ReadTextFile(run.LogPath());
  EXPECT_NE(log.find("Firmware Version: " + std::string(DemoSetup::kDeviceFirmwareVersion) + "\r\n"),
            std::string::npos)
      << "the Check's entries\n"
      << log;
  EXPECT_NE(log.find("00-1E-10-5A-3C-01\r\n"), std::string::npos) << "the run's first line\n" << log;
  EXPECT_NE(log.find(" " + LoadStringById(IDS_DOWNLOAD_SUCCESSFULLY) + " ("), std::string::npos)
      << "the boot loader's final status\n"
      << log;
}

// The log is named after its last flush: "Log: <path>" when everything reached the file (also through
// a linked folder), else "Log not written: <reason>" on stderr, log null and logError in the JSON,
// and the exit status of the command itself.
TEST(CliIntegrity, TheLogIsNamedOnlyWhenItWasWritten) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  const std::string real = run.TempDir() + "/logs";
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(symlink(real.c_str(), (run.TempDir() + "/linked").c_str()), 0);
  ASSERT_EQ(symlink((real + "/elsewhere.txt").c_str(), (real + "/link.txt").c_str()), 0);
  struct Case {
    std::string log;
    std::string error;  // "" when written
  };
  const Case cases[] = {
      {run.TempDir() + "/linked/QorUpgradeLog.txt", ""},
      {run.TempDir() + "/missing/QorUpgradeLog.txt",
       "cannot open " + run.TempDir() + "/missing/QorUpgradeLog.txt: No such file or directory"},
      {real + "/link.txt", real + "/link.txt is a symbolic link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    for (bool json : {false, true}) {
      std::vector<std::string> args = {"check", "--images", run.Stage().ImageFolder(), "--log", c.log};
      if (json) args.push_back("--json");
      ASSERT_TRUE(StartLast(run, args));
      EXPECT_EQ(run.Finish(), 0) << run.Diagnostics();
      const std::string notes = json ? run.Err() : run.Out();
      if (c.error.empty()) {
        EXPECT_NE(notes.find("Log: " + c.log + "\n"), std::string::npos) << notes;
        EXPECT_EQ(run.Err().find("Log not written"), std::string::npos);
        EXPECT_NE(ReadTextFile(real + "/QorUpgradeLog.txt").find("Firmware Version: "), std::string::npos);
      } else {
        EXPECT_NE(run.Err().find("Log not written: " + c.error + "\n"), std::string::npos) << run.Err();
        EXPECT_EQ(run.Out().find("Log: "), std::string::npos);
        EXPECT_EQ(run.Err().find("Log: "), std::string::npos);
        EXPECT_FALSE(fs::exists(real + "/elsewhere.txt"));
      }
      if (json) {
        const Json doc = ParseJson(run.Out());
        ASSERT_TRUE(doc.is_object()) << run.Out();
        EXPECT_EQ(doc["log"], c.error.empty() ? Json(c.log) : Json(nullptr));
        EXPECT_EQ(doc["logError"], c.error.empty() ? Json(nullptr) : Json(c.error));
      }
    }
  }
}

// A console, a module and an image that answer with terminal controls in their version texts: the
// output shows the texts, and no control of theirs reaches the terminal (the JSON escapes them).
TEST(CliIntegrity, ControlsInVersionTextsNeverReachTheTerminal) {
  DemoConfig config;
  config.tuneEmulator = [](qorsim::SimConfig& s) {
    s.cfeVersion = "1.2.0.1\x1b]0;owned\x07";
    s.firmwareVersion = "11.1.0.6\x1b[2J";
    s.dashboardVersion =
        "4.2.0.1\xc2\x9b"
        "32m";
  };
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  RouterImageSpec app;
  app.module = MODULE_APP;
  app.version = "1.2.7.1\x1b[32mDownload successfully";
  app.payload = GeneratePayload(5000, 2);
  ASSERT_TRUE(WriteImageFile(run.Stage().ImageFolder() + "/app.bin", BuildRouterImage(app)));

  ASSERT_TRUE(StartLast(run, {"check", "--images", run.Stage().ImageFolder()}));
  run.Finish();
  const std::string shown = run.Out() + run.Err();
  for (const char control : {'\x1b', '\x07'}) EXPECT_EQ(shown.find(control), std::string::npos) << shown;
  EXPECT_EQ(shown.find("\xc2\x9b"), std::string::npos) << shown;
  for (const char* text : {"1.2.0.1\\x1b]0;owned\\x07", "11.1.0.6\\x1b[2J", "4.2.0.1\\x9b32m",
                           "1.2.7.1\\x1b[32mDownload successfully"})
    EXPECT_NE(shown.find(text), std::string::npos) << text << "\n" << shown;
  const std::string log = ReadTextFile(run.LogPath());
  EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;

  // on a terminal the table draws itself with its own sequences only
  run.Child().UseTerminalForStdout(true);
  ASSERT_TRUE(StartLast(run, {"check", "--images", run.Stage().ImageFolder()}));
  run.Finish();
  for (const char* sequence : {"\x1b]0;", "\x1b[2J", "\x1b[32m", "\xc2\x9b"})
    EXPECT_EQ(run.Out().find(sequence), std::string::npos) << run.Out();

  // the JSON carries the texts themselves, escaped
  run.Child().UseTerminalForStdout(false);
  ASSERT_TRUE(StartLast(run, {"check", "--json", "--images", run.Stage().ImageFolder()}));
  run.Finish();
  const Json json = ParseJson(run.Out());
  ASSERT_TRUE(json.is_object()) << run.Out();
  EXPECT_EQ(json["modules"][0]["currentVersion"], "1.2.0.1\x1b]0;owned\x07");
  EXPECT_NE(run.Out().find("\\u001b]0;owned\\u0007"), std::string::npos);
}

// A Check of about 64 MiB of images holds each image once: the program's peak memory is the images
// and not more than 16 MiB besides.
TEST(CliIntegrity, ACheckHoldsEachImageOnceAndLittleBesides) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' own memory would be counted";
#endif
  DemoConfig config;
  config.routerPayloadBytes = 24u << 20;
  config.firmwareBytes = 4u << 20;
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  uint64_t images = 0;
  for (const auto& entry : fs::directory_iterator(run.Stage().ImageFolder())) images += entry.file_size();
  ASSERT_GT(images, 60u << 20);
  ASSERT_TRUE(run.Start({"check"}));
  EXPECT_EQ(run.Finish(), 0) << run.Diagnostics();
  const long peakKiB = run.Child().PeakResidentKiB();
  ASSERT_GT(peakKiB, 0);
  EXPECT_LE(static_cast<uint64_t>(peakKiB) * 1024, images + (16u << 20))
      << "peak " << peakKiB / 1024 << " MiB for " << images / (1 << 20) << " MiB of images";
}

}  // namespace
