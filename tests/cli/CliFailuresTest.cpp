// What the terminal tool tells of a failure, against the emulator's faults: the warning, the rows,
// the final note, the JSON reason and the exit status; and how an interrupted Check ends.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <sstream>

#include "CliTestSupport.h"
#include "platform/StringTable.h"
#include "upgrade/Advice.h"
#include "upgrade/UpgradeRun.h"

namespace {

std::string Text(int id) { return LoadStringById(id); }
bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(CliFailures, AFailedNvramEraseIsToldInAWarningTheSkippedRowsAndTheReason) {
  DemoConfig config;
  config.faults.eraseRefuse = true;
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--json"}));
  const int code = run.Finish();
  const std::string json = run.Out();
  EXPECT_EQ(code, 1) << run.Diagnostics();
  EXPECT_EQ(JsonField(json, "result"), "upgrade-failed");
  EXPECT_EQ(JsonField(json, "reason"), kNvramEraseFailedReason);
  const std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(StartsWith(JsonField(modules[i], "status"), Text(IDS_DOWNLOAD_SUCCESSFULLY) + " ("))
        << modules[i];
  }
  for (size_t i = 3; i < 5; ++i) {
    EXPECT_EQ(JsonField(modules[i], "status"), kSkippedAfterNvramText) << modules[i];
    EXPECT_EQ(JsonField(modules[i], "colour"), "black") << modules[i];
  }
  const std::string err = run.Err();
  EXPECT_NE(err.find(std::string("Warning: ") + kNvramEraseFailedWarning + kWirelessSkippedWarning + "\n\n" +
                     AdviceText(ADVICE_NVRAM_ERASE_FAILED) + "\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find(std::string("The upgrade failed: ") + kNvramEraseFailedReason + ".\n"),
            std::string::npos)
      << err;
  EXPECT_NE(ReadTextFile(run.LogPath()).find(kNvramEraseFailedLog), std::string::npos);
  EXPECT_EQ(run.Sim().CountEvents("diag.nv-backup"), 0u);
}

// The link goes away between the Check and the Upgrade (the fault comes while the tool asks).
TEST(CliFailures, ALinkThatCannotBeOpenedAtTheUpgradeIsToldWith119) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  std::vector<std::string> args = {"upgrade", "--json"};
  for (const std::string& t : run.TargetArgs()) args.push_back(t);
  ASSERT_TRUE(run.Child().Start(QOR_CLI_PATH, args, run.Env(), "", /*keepStdinOpen=*/true));
  ASSERT_TRUE(run.Child().WaitForOutput("[y/N]", 60000)) << run.Diagnostics();
  const uint64_t seq = run.Sim().LastSeq();
  ASSERT_TRUE(run.Sim().ApplyFault("link-closed", nullptr));
  ASSERT_TRUE(run.Sim().WaitForEvent("link.listen", 20000, seq));
  ASSERT_TRUE(run.Child().WriteStdin("y\n"));
  const int code = run.Finish(60000);
  const std::string json = run.Out();
  EXPECT_EQ(code, 1) << run.Diagnostics();
  EXPECT_EQ(JsonField(json, "reason"), Text(IDS_TCP_CONNECT_FAILED));
  const std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  EXPECT_TRUE(StartsWith(JsonField(modules[0], "status"), Text(IDS_TCP_CONNECT_FAILED) + " (")) << modules[0];
  EXPECT_EQ(JsonField(modules[0], "colour"), "red");
  EXPECT_NE(run.Err().find("The upgrade failed: " + Text(IDS_TCP_CONNECT_FAILED) + ".\n"), std::string::npos)
      << run.Err();
  EXPECT_NE(ReadTextFile(run.LogPath()).find("failed: Connection refused"), std::string::npos);
  EXPECT_EQ(run.Sim().CountEvents("link.rut-begin"), 0u);
}

// A refused router image ends with 100% in red: the bar says failed, never full, and the Time
// column tells the minutes and seconds of the status.
TEST(CliFailures, AFailedRowsBarIsNotFullAndItsTimeIsTheStatusTime) {
  DemoConfig config;
  config.faults.routerResult = 3;
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes"}));
  EXPECT_EQ(run.Finish(), 1) << run.Diagnostics();
  const std::string failText = Text(IDS_ROUTER_RESULT_FAIL) + " (";
  // the last table printed: the line of the boot loader's row
  std::string row;
  std::istringstream lines(run.Out());
  for (std::string line; std::getline(lines, line);) {
    if (line.find(failText) != std::string::npos && line.find('[') != std::string::npos) row = line;
  }
  ASSERT_FALSE(row.empty()) << run.Out();
  EXPECT_NE(row.find("[------ failed ------] 100%"), std::string::npos) << row;
  EXPECT_EQ(row.find("####"), std::string::npos) << row;
  const std::string status = row.substr(row.find(failText));
  const std::string time = status.substr(failText.size(), 5);
  EXPECT_NE(row.find("  " + time + "  "), std::string::npos) << "one time in the row: " << row;
  EXPECT_NE(run.Out().find("The upgrade failed: " + LoadStringById(IDS_NAME_BOOT) + ": " +
                           Text(IDS_ROUTER_RESULT_FAIL) + "."),
            std::string::npos)
      << run.Out();
}

// While the Check is flooded with foreign datagrams: one interrupt stops it within a second of
// clock time; a second one ends the program at once.
TEST(CliFailures, AnInterruptStopsTheCheckAndASecondEndsTheProgramAtOnce) {
  for (bool twice : {false, true}) {
    SCOPED_TRACE(twice ? "two interrupts" : "one interrupt");
    DemoConfig config;
    config.faults.discoveryFloodMs = 20;
    CliRun run(config);
    ASSERT_TRUE(run.Ready());
    ASSERT_TRUE(run.Start({"check"}));
    ASSERT_TRUE(run.Sim().WaitForEvent("udp.discover", 60000)) << run.Diagnostics();
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.Child().Signal(SIGINT));
    if (twice) {
      ASSERT_TRUE(run.Child().Signal(SIGTERM));
    }
    const int code = run.Finish(60000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_EQ(code, 128 + SIGINT) << run.Diagnostics();
    // 1 s of clock time is 200 real ms at this speed; the flood alone would hold the Check 30 s
    EXPECT_LT(seconds, 3.0);
    const std::string all = run.Out() + run.Err();
    EXPECT_EQ(all.find("Interrupted again: ending now.") != std::string::npos, twice) << all;
    EXPECT_EQ(all.find("Please wait"), std::string::npos);
  }
}

}  // namespace
