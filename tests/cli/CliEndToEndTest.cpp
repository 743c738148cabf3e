// The real qor-oneclick-cli against the emulator, on a clock 5 times faster.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "CliTestSupport.h"
#include "platform/StringTable.h"

namespace {

std::string Text(int id) { return LoadStringById(id); }
bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

TEST(CliUpgrade, FullRunEndsWithEveryRowDownloadSuccessfully) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--json"}));
  int code = run.Finish();
  std::string json = run.Out();
  EXPECT_EQ(code, 0) << run.Diagnostics();
  EXPECT_EQ(JsonField(json, "result"), "upgraded") << json;
  EXPECT_EQ(JsonField(json, "exitStatus"), "0");
  EXPECT_EQ(JsonField(json, "log"), run.LogPath());
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  const char* types[] = {"0", "1", "2", "7", "8"};
  for (size_t i = 0; i < modules.size(); ++i) {
    SCOPED_TRACE(modules[i]);
    EXPECT_EQ(JsonField(modules[i], "type"), types[i]);
    EXPECT_TRUE(StartsWith(JsonField(modules[i], "status"), Text(IDS_DOWNLOAD_SUCCESSFULLY) + " ("));
    EXPECT_EQ(JsonField(modules[i], "colour"), "blue");
    EXPECT_EQ(JsonField(modules[i], "percent"), "100");
  }
  // the emulator really received what the images carry
  EXPECT_EQ(run.Sim().RouterImages().size(), 3u);
  EXPECT_EQ(run.Sim().AppVersion(), DemoSetup::kAppImageVersion);
  // the run's log reached the file, ending with the separator line
  std::string log = ReadTextFile(run.LogPath());
  EXPECT_NE(log.find("00-1E-10-5A-3C-01"), std::string::npos);
  EXPECT_NE(log.find(std::string(50, '+')), std::string::npos);
}

TEST(CliCheck, OffersTheUpgradeAndChangesNothing) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"check", "--json"}));
  int code = run.Finish();
  std::string json = run.Out();
  ASSERT_EQ(code, 0) << run.Diagnostics();
  EXPECT_EQ(JsonField(json, "command"), "check");
  EXPECT_EQ(JsonField(json, "result"), "upgrade-offered");
  EXPECT_EQ(JsonField(json, "ip"), "127.0.0.1");
  EXPECT_EQ(JsonField(json, "mac"), "00-1E-10-5A-3C-01");
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  EXPECT_EQ(JsonField(modules[0], "currentVersion"), DemoSetup::kDeviceCfeVersion);
  EXPECT_EQ(JsonField(modules[0], "upgradeVersion"), DemoSetup::kBootImageVersion);
  EXPECT_EQ(JsonField(modules[3], "currentVersion"), DemoSetup::kDeviceFirmwareVersion);
  for (const std::string& m : modules) {
    EXPECT_EQ(JsonField(m, "status"), Text(IDS_WAITING_UPGRADE)) << m;
    EXPECT_EQ(JsonField(m, "colour"), "blue") << m;
    EXPECT_EQ(JsonField(m, "percent"), "null") << m;
  }
  // stdout holds exactly the one JSON object
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(Count(json, "\n"), 1u);
  EXPECT_EQ(run.Sim().CountEvents("link.rut-begin"), 0u);
  EXPECT_EQ(run.Sim().CountEvents("diag.nv-backup"), 0u);
}

struct StoppedCase {
  const char* name;
  std::function<void(DemoConfig&)> stage;
  std::function<void(const std::string& imageFolder)> images;
  int exitStatus;
  const char* result;
  int warningId;  // 0: none expected
};

TEST(CliCheck, ExitStatusesOfConflictsAndStoppedChecks) {
  namespace fs = std::filesystem;
  const StoppedCase cases[] = {
      {"firmware of another line conflicts",
       [](DemoConfig& c) { c.tuneEmulator = [](qorsim::SimConfig& s) { s.firmwareVersion = "11.2.0.6"; }; },
       nullptr, 1, "version-conflict", 0},
      {"boot loader with another third number conflicts",
       [](DemoConfig& c) { c.tuneEmulator = [](qorsim::SimConfig& s) { s.cfeVersion = "1.2.5.0"; }; },
       nullptr, 1, "version-conflict", 0},
      {"no valid image", nullptr,
       [](const std::string& folder) {
         for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
       },
       3, "check-stopped", IDS_NO_VALID_IMAGE},
      {"two images of one type", nullptr,
       [](const std::string& folder) { fs::copy_file(folder + "/app.bin", folder + "/app-copy.bin"); }, 3,
       "check-stopped", IDS_DUPLICATE_IMAGES},
      {"no router answers", [](DemoConfig& c) { c.faults.noDiscovery = true; }, nullptr, 3, "check-stopped",
       IDS_NO_ROUTER},
  };
  for (const StoppedCase& c : cases) {
    SCOPED_TRACE(c.name);
    DemoConfig config;
    if (c.stage) c.stage(config);
    CliRun run(config);
    ASSERT_TRUE(run.Ready());
    if (c.images) c.images(run.Stage().ImageFolder());
    ASSERT_TRUE(run.Start({"check", "--json"}));
    int code = run.Finish();
    std::string json = run.Out();
    EXPECT_EQ(code, c.exitStatus) << run.Diagnostics();
    EXPECT_EQ(JsonField(json, "result"), c.result) << json;
    EXPECT_EQ(JsonField(json, "exitStatus"), std::to_string(c.exitStatus));
    if (c.exitStatus == 3) {
      EXPECT_EQ(JsonModules(json).size(), 0u) << json;
    } else {
      size_t red = 0;
      for (const std::string& m : JsonModules(json))
        if (JsonField(m, "colour") == "red") {
          ++red;
          EXPECT_EQ(JsonField(m, "status"), Text(IDS_VERSION_MISMATCH));
        }
      EXPECT_GE(red, 1u) << json;
    }
    if (c.warningId) {
      EXPECT_NE(run.Err().find("Warning: " + Text(c.warningId) + "\n"), std::string::npos) << run.Err();
    } else {
      EXPECT_EQ(run.Err().find("Warning:"), std::string::npos) << run.Err();
    }
  }
}

TEST(CliUpgrade, FailingRouterModuleEndsTheRunAndExitsOne) {
  DemoConfig config;
  config.faults.routerResult = 3;
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--json"}));
  int code = run.Finish();
  std::string json = run.Out();
  EXPECT_EQ(code, 1) << run.Diagnostics();
  EXPECT_EQ(JsonField(json, "result"), "upgrade-failed");
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  EXPECT_TRUE(StartsWith(JsonField(modules[0], "status"), Text(IDS_ROUTER_RESULT_FAIL) + " (")) << modules[0];
  EXPECT_EQ(JsonField(modules[0], "colour"), "red");
  // the later rows keep what the Check left
  for (size_t i = 1; i < modules.size(); ++i) {
    EXPECT_EQ(JsonField(modules[i], "status"), Text(IDS_WAITING_UPGRADE)) << modules[i];
    EXPECT_EQ(JsonField(modules[i], "colour"), "blue");
  }
  EXPECT_EQ(run.Sim().RouterImages().size(), 1u);
  EXPECT_EQ(run.Sim().CountEvents("diag.nv-backup"), 0u);
}

TEST(CliUpgrade, ConfirmationDecidesWhetherAnythingIsSent) {
  struct Case {
    const char* stdinText;
    bool proceeds;
  };
  // nullptr: no stdin at all
  const Case cases[] = {{"n\n", false},        {"", false},   {nullptr, false},
                        {"whatever\n", false}, {"y\n", true}, {" YES \n", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("answer '") + (c.stdinText ? c.stdinText : "<closed>") + "'");
    DemoConfig config;
    config.faults.routerResult = 3;  // a run that ends after its first module
    CliRun run(config);
    ASSERT_TRUE(run.Ready());
    run.Child().CloseChildStdin(c.stdinText == nullptr);
    ASSERT_TRUE(run.Start({"upgrade"}, c.stdinText ? c.stdinText : ""));
    int code = run.Finish(60000);
    EXPECT_NE(run.Err().find("[y/N]"), std::string::npos) << run.Diagnostics();
    if (c.proceeds) {
      EXPECT_EQ(code, 1) << run.Diagnostics();
      EXPECT_EQ(run.Sim().CountEvents("link.rut-begin"), 1u);
    } else {
      EXPECT_EQ(code, 4) << run.Diagnostics();
      EXPECT_EQ(run.Sim().CountEvents("link.rut-begin"), 0u);
      EXPECT_NE(run.Out().find("nothing was changed"), std::string::npos);
    }
  }
}

TEST(CliUpgrade, InterruptsDuringTheRunAreRefusedUntilItEnds) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes"}));
  // the first router image is on its way: the run has started
  ASSERT_TRUE(run.Sim().WaitForEvent("link.rut-begin", 60000)) << run.Diagnostics();
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    ASSERT_TRUE(run.Child().Signal(signo));
    ASSERT_TRUE(run.Child().WaitForOutput("Please wait!", 10000));
  }
  // all three were refused and the run went on to the wireless module
  int code = run.Finish();
  std::string refusal = "Warning: " + Text(IDS_UPGRADE_IN_PROCESS) + "\n";
  EXPECT_EQ(Count(run.Err(), refusal), 3u) << run.Err();
  EXPECT_EQ(code, 0) << run.Diagnostics();
  EXPECT_GT(run.Sim().CountEvents("dl.write"), 0u);
  EXPECT_NE(ReadTextFile(run.LogPath()).find(std::string(50, '+')), std::string::npos);
}

TEST(CliCheck, InterruptOutsideTheRunEndsTheProgramAtOnce) {
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signo);
    DemoConfig config;
    config.faults.noDiscovery = true;  // the Check keeps trying
    CliRun run(config);
    ASSERT_TRUE(run.Ready());
    ASSERT_TRUE(run.Start({"check"}));
    ASSERT_TRUE(run.Child().WaitForOutput("Checking", 10000));
    auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.Child().Signal(signo));
    int code = run.Finish(60000);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_EQ(code, 128 + signo) << run.Diagnostics();
    // a discovery try is 3 s of clock time, 600 ms here: far less than the whole series
    EXPECT_LT(seconds, 20.0);
    EXPECT_EQ(run.Err().find("Please wait"), std::string::npos);
  }
}

TEST(CliUpgrade, InterruptWhileAskingEndsWithoutSending) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  // stdin stays open: the CLI waits for an answer
  ASSERT_TRUE(run.Child().Start(
      QOR_CLI_PATH,
      [&] {
        std::vector<std::string> a = {"upgrade"};
        for (const std::string& t : run.TargetArgs()) a.push_back(t);
        return a;
      }(),
      run.Env(), "", /*keepStdinOpen=*/true));
  ASSERT_TRUE(run.Child().WaitForOutput("[y/N]", 60000)) << run.Diagnostics();
  ASSERT_TRUE(run.Child().Signal(SIGINT));
  EXPECT_EQ(run.Finish(30000), 128 + SIGINT) << run.Diagnostics();
  EXPECT_EQ(run.Sim().CountEvents("link.rut-begin"), 0u);
}

TEST(CliUpgrade, PlainOutputTracesEveryStatusAndEndsWithTheTableAndTheLog) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes"}));
  int code = run.Finish();
  std::string out = run.Out();
  ASSERT_EQ(code, 0) << run.Diagnostics();
  std::string boot = LoadStringById(IDS_NAME_BOOT);
  for (std::string line :
       {boot + ": " + Text(IDS_TRANSMITTING_ROUTER), boot + ": " + Text(IDS_WAITING_ROUTER_UPGRADE),
        LoadStringById(IDS_NAME_FIRMWARE) + ": " + Text(IDS_BACKING_UP_NV),
        LoadStringById(IDS_NAME_DASHBOARD) + ": " + Text(IDS_DOWNLOADING_DASHBOARD)})
    EXPECT_NE(out.find(line + "\n"), std::string::npos) << line;
  // not a terminal: no colours, no cursor movement
  EXPECT_EQ(out.find('\033'), std::string::npos);
  EXPECT_NE(out.find("[####################] 100%"), std::string::npos);
  EXPECT_NE(out.find("Log: " + run.LogPath() + "\n"), std::string::npos);
  EXPECT_TRUE(out.size() > 0 &&
              out.substr(out.size() - run.LogPath().size() - 6) == "Log: " + run.LogPath() + "\n");
}

TEST(CliCommandLine, UsageErrorsAndHelp) {
  struct Case {
    std::vector<std::string> args;
    int exitStatus;
    const char* inStdout;
    const char* inStderr;
  };
  const Case cases[] = {
      {{}, 2, "", "no command given"},
      {{"check", "--udp-port", "99999"}, 2, "", "not a port"},
      {{"frobnicate"}, 2, "", "Usage:"},
      {{"--help"}, 0, "Usage:", ""},
      {{"upgrade", "-h"}, 0, "Exit status", ""},
      // against a real router a faster clock would cut its time-outs short
      {{"check", "--speed", "5"}, 2, "", "--speed applies only to demo"},
      {{"upgrade", "--yes", "--speed=20"}, 2, "", "--speed applies only to demo"},
  };
  for (const Case& c : cases) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(QOR_CLI_PATH, c.args));
    int code = -1;
    ASSERT_TRUE(child.Wait(30000, &code));
    EXPECT_EQ(code, c.exitStatus);
    EXPECT_NE(child.Stdout().find(c.inStdout), std::string::npos) << child.Stdout();
    EXPECT_NE(child.Stderr().find(c.inStderr), std::string::npos) << child.Stderr();
  }
}

TEST(CliDemo, RunsTheWholeJobAndCleansUp) {
  std::string temp = MakeTempDir("qor-cli-test-");
  ChildProcess child;
  // the demo's folder goes below TMPDIR, so the test can see that it is removed again
  ASSERT_TRUE(child.Start(QOR_CLI_PATH, {"demo", "--speed", "5", "--json", "--log", temp + "/log.txt"},
                          {{"TMPDIR", temp}}));
  int code = -1;
  bool ended = child.Wait(240000, &code);
  if (!ended) child.Kill();
  ASSERT_TRUE(ended);
  EXPECT_EQ(code, 0) << child.Stdout() << child.Stderr();
  std::string json = child.Stdout();
  EXPECT_EQ(JsonField(json, "command"), "demo");
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  for (const std::string& m : modules)
    EXPECT_TRUE(StartsWith(JsonField(m, "status"), Text(IDS_DOWNLOAD_SUCCESSFULLY) + " (")) << m;
  EXPECT_NE(child.Stderr().find("sample images in " + temp + "/qor-demo-"), std::string::npos)
      << child.Stderr();
  size_t left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(temp))
    if (entry.path().filename().string().rfind("qor-demo-", 0) == 0) ++left;
  EXPECT_EQ(left, 0u);
  RemoveTree(temp);
}

}  // namespace

#ifdef QOR_SIM_PATH
namespace {

TEST(CliAgainstSimProcess, ChecksAndUpgradesASeparatelyStartedEmulator) {
  // images from the demo stage; the router is a qor-router-sim process with the same versions
  CliRun images;
  ASSERT_TRUE(images.Ready());
  uint16_t udp = FreeLoopbackPort(), link = FreeLoopbackPort(), telnet = FreeLoopbackPort();
  ASSERT_TRUE(udp && link && telnet);
  ChildProcess sim;
  ASSERT_TRUE(sim.Start(
      QOR_SIM_PATH,
      {"--address", "127.0.0.1", "--udp-port", std::to_string(udp), "--link-port", std::to_string(link),
       "--telnet-port", std::to_string(telnet), "--time-scale", "5", "--cfe-version",
       DemoSetup::kDeviceCfeVersion, "--app-version", DemoSetup::kDeviceAppVersion, "--firmware-version",
       DemoSetup::kDeviceFirmwareVersion, "--unlock-code", "QORDEMO1", "--quiet"}));
  ASSERT_TRUE(sim.WaitForOutput("qor-router-sim: router", 30000)) << sim.Stderr();
  std::vector<std::string> target = {"--discovery-address",
                                     "127.255.255.255",
                                     "--udp-port",
                                     std::to_string(udp),
                                     "--link-port",
                                     std::to_string(link),
                                     "--telnet-port",
                                     std::to_string(telnet),
                                     "--images",
                                     images.Stage().ImageFolder(),
                                     "--log",
                                     images.TempDir() + "/separate.log"};
  for (const char* command : {"check", "upgrade"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {command, "--yes", "--json"};
    args.insert(args.end(), target.begin(), target.end());
    ChildProcess cli;
    ASSERT_TRUE(cli.Start(QOR_CLI_PATH, args, images.Env()));
    int code = -1;
    ASSERT_TRUE(cli.Wait(240000, &code));
    EXPECT_EQ(code, 0) << cli.Stdout() << cli.Stderr() << ReadTextFile(images.TempDir() + "/separate.log");
    EXPECT_EQ(JsonModules(cli.Stdout()).size(), 5u);
  }
  ASSERT_TRUE(sim.Signal(SIGTERM));
  int simCode = -1;
  EXPECT_TRUE(sim.Wait(30000, &simCode));
}

}  // namespace
#endif

namespace {

TEST(CliTerminal, LiveTableIsRedrawnInPlaceWithRowColours) {
  DemoConfig config;
  config.tuneEmulator = [](qorsim::SimConfig& s) { s.firmwareVersion = "11.2.0.6"; };  // one red row
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  run.Child().UseTerminalForStdout(true);
  ASSERT_TRUE(run.Start({"check"}, "", {{"TERM", "xterm"}}));
  int code = run.Finish();
  std::string out = run.Out();
  ASSERT_EQ(code, 1) << run.Diagnostics();
  EXPECT_NE(out.find("\033[1;34m" + LoadStringById(IDS_WAITING_UPGRADE) + "\033[0m"), std::string::npos)
      << out;
  EXPECT_NE(out.find("\033[1;31m" + LoadStringById(IDS_VERSION_MISMATCH) + "\033[0m"), std::string::npos)
      << out;
  // redrawn over itself: the cursor goes back up before a later frame
  EXPECT_NE(out.find("A\r\033[2K"), std::string::npos) << out;

  // NO_COLOR keeps the layout but drops the colours
  CliRun plain(config);
  ASSERT_TRUE(plain.Ready());
  plain.Child().UseTerminalForStdout(true);
  ASSERT_TRUE(plain.Start({"check"}, "", {{"TERM", "xterm"}, {"NO_COLOR", "1"}}));
  ASSERT_EQ(plain.Finish(), 1);
  EXPECT_EQ(plain.Out().find("\033[1;3"), std::string::npos);
  EXPECT_NE(plain.Out().find(LoadStringById(IDS_VERSION_MISMATCH)), std::string::npos);
}

}  // namespace

namespace {

// A module that ran to its end but carries a recorded failure (its first hand-shake went unanswered
// even in force-load mode) is not a success: the row is red and the exit status says so.
TEST(CliUpgrade, RecoveredHandshakeIsNotReportedAsSuccess) {
  DemoConfig config;
  // every hand-shake request is tried five times: one unanswered request for the Check, two for
  // the run's first contact (before and in force-load mode)
  config.faults.handshakeFail = 15;
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--json"}));
  int code = run.Finish();
  std::string json = run.Out();
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << run.Diagnostics();
  EXPECT_EQ(JsonField(modules[3], "status").rfind(Text(IDS_HANDSHAKE_FAILED) + " (", 0), 0u)
      << run.Diagnostics();
  EXPECT_EQ(JsonField(modules[3], "colour"), "red");
  // the dashboard's own hand-shake succeeded: its row tells its own success
  EXPECT_TRUE(StartsWith(JsonField(modules[4], "status"), Text(IDS_DOWNLOAD_SUCCESSFULLY) + " ("))
      << modules[4];
  EXPECT_EQ(JsonField(modules[4], "colour"), "blue");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(JsonField(json, "result"), "upgrade-failed");
  EXPECT_EQ(JsonField(json, "reason"), LoadStringById(IDS_NAME_FIRMWARE) + ": " + Text(IDS_HANDSHAKE_FAILED));
}

TEST(CliCheck, QuietPrintsOnlyTheLogPath) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"check", "--quiet"}));
  ASSERT_EQ(run.Finish(), 0) << run.Diagnostics();
  EXPECT_EQ(run.Out(), "Log: " + run.LogPath() + "\n");
  EXPECT_EQ(run.Err(), "");
}

}  // namespace
