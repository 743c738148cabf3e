#include <gtest/gtest.h>

#include <optional>

#include "cli/CTerminalTable.h"
#include "cli/CliResult.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "platform/Version.h"
#include "upgrade/Advice.h"

namespace {

TEST(TerminalTable, BehavesAsTheModuleList) {
  CTerminalTable table;
  EXPECT_EQ(table.InsertItem(0, "a"), 0);
  EXPECT_EQ(table.InsertItem(7, "c"), 1);  // past the end: appended
  EXPECT_EQ(table.InsertItem(1, "b"), 1);
  EXPECT_EQ(table.InsertItem(-1, "x"), -1);
  ASSERT_EQ(table.GetItemCount(), 3);
  EXPECT_EQ(table.Snapshot()[1].text[COL_TYPE], "b");

  // writes to items or columns that do not exist change nothing
  uint64_t before = table.ChangeCount();
  EXPECT_FALSE(table.SetItemText(3, COL_STATUS, "no"));
  EXPECT_FALSE(table.SetItemText(0, 5, "no"));
  EXPECT_FALSE(table.SetItemData(-1, kColourRed));
  EXPECT_FALSE(table.DeleteItem(3));
  EXPECT_EQ(table.ChangeCount(), before);

  // deleting at 0 three times leaves what was behind (as the Check trims the other family)
  EXPECT_TRUE(table.SetItemText(2, COL_STATUS, "kept"));
  EXPECT_TRUE(table.DeleteItem(0));
  EXPECT_TRUE(table.DeleteItem(0));
  ASSERT_EQ(table.GetItemCount(), 1);
  EXPECT_EQ(table.Snapshot()[0].text[COL_STATUS], "kept");
  table.DeleteAllItems();
  EXPECT_EQ(table.GetItemCount(), 0);
}

TEST(TerminalTable, ColumnWidthsFitContentsAndHeading) {
  CTerminalTable table;
  table.InsertItem(0, "x");
  table.SetItemText(0, COL_STATUS, "Erasing the NVRAM");  // 17 characters
  table.SetItemText(0, COL_PERCENT, "7%");
  EXPECT_TRUE(table.SetColumnWidth(COL_STATUS, -1));
  EXPECT_EQ(table.GetColumnWidth(COL_STATUS), 17);
  EXPECT_TRUE(table.SetColumnWidth(COL_PERCENT, -1));
  EXPECT_EQ(table.GetColumnWidth(COL_PERCENT), 2);
  EXPECT_TRUE(table.SetColumnWidth(COL_PERCENT, -2));  // the heading "%" is shorter than "7%"
  EXPECT_EQ(table.GetColumnWidth(COL_PERCENT), 2);
  EXPECT_TRUE(table.SetColumnWidth(COL_TYPE, -2));  // "Type" is longer than "x"
  EXPECT_EQ(table.GetColumnWidth(COL_TYPE), 4);
  EXPECT_TRUE(table.SetColumnWidth(COL_TYPE, 30));
  EXPECT_EQ(table.GetColumnWidth(COL_TYPE), 30);
  EXPECT_FALSE(table.SetColumnWidth(COL_TYPE, -3));
  EXPECT_FALSE(table.SetColumnWidth(5, 10));
  // terminal cells, not bytes: a Chinese character takes two cells, never three
  EXPECT_EQ(table.GetStringWidth("没有检测到路由器"), 16);
  EXPECT_EQ(table.GetStringWidth("Done..."), 7);
}

// The Time column and the final status' "(mm:ss)" never disagree: a finished row shows the time of
// its status, the running row the engine's step time by the same rule, any other row none.
TEST(TerminalTable, TimeColumnTellsTheSameTimeAsTheFinalStatus) {
  struct Case {
    const char* name;
    uint32_t colour;
    const char* status;
    int runningItem;  // the running step's row, -1 none
    int64_t runningSeconds;
    const char* time;  // what the Time column shows
  };
  const Case cases[] = {
      {"final blue", kColourBlue, "Download successfully (02:05)", -1, 0, "02:05"},
      // a finished row keeps its status time, however long the next step has been running
      {"final red, next step running", kColourRed, "Download failed (00:07)", 1, 83, "00:07"},
      {"final red on the running item", kColourRed, "Handshake failed (12:34)", 0, 3599, "12:34"},
      {"running", kColourBlack, "Backing up the NV", 0, 83, "01:23"},
      // whole hours are not shown, as in the final status
      {"running past an hour", kColourBlack, "Waiting for the upgrade of the router module", 0, 3600 + 61,
       "01:01"},
      {"skipped: black but not the running row", kColourBlack,
       "Skipped: the router's NVRAM could not be erased", 1, 40, ""},
      {"check's blue text has no time", kColourBlue, "Waiting for the upgrade", -1, 0, ""},
      {"check's red text has no time", kColourRed, "Version mismatch", 0, 5, ""},
      {"a status that only looks timed", kColourBlue, "Done (1a:05)", -1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTerminalTable::Row row;
    row.text = {"Firmware", "1.0.0.1", "1.0.0.2", "", c.status};
    row.colour = c.colour;
    CTerminalTable::RunningStep running{c.runningItem, c.runningSeconds};
    EXPECT_EQ(CTerminalTable::TimeOf(row, 0, running), c.time);
    const std::vector<std::string> lines = CTerminalTable::RenderLines({row}, false, running);
    ASSERT_EQ(lines.size(), 2u);
    if (*c.time != '\0') {
      EXPECT_NE(lines[1].find(std::string("  ") + c.time + "  "), std::string::npos) << lines[1];
    }
  }
  EXPECT_EQ(CTerminalTable::MinutesSeconds(-5), "00:00");
  EXPECT_EQ(CTerminalTable::MinutesSeconds(61 * 60), "01:00");
}

TEST(TerminalTable, RenderedLineShowsBarPercentAndColour) {
  CTerminalTable::Row row;
  row.text = {"APP of router module", "1.2.0.5", "1.2.7.1", "50%",
              "Transmitting the upgrade data of the router module"};
  row.colour = kColourBlack;

  std::vector<std::string> plain = CTerminalTable::RenderLines({row}, false);
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_NE(plain[0].find("Current Version"), std::string::npos);
  EXPECT_NE(plain[0].find("Time"), std::string::npos);
  EXPECT_NE(plain[1].find("[##########..........]  50%"), std::string::npos) << plain[1];
  EXPECT_EQ(plain[1].find('\033'), std::string::npos);
  // progress texts are drawn in the terminal's own colour
  EXPECT_EQ(CTerminalTable::RenderLines({row}, true)[1].find('\033'), std::string::npos);

  row.text[COL_PERCENT] = "";
  EXPECT_NE(CTerminalTable::RenderLines({row}, false)[1].find("[....................]"), std::string::npos);

  row.colour = kColourBlue;
  row.text[COL_PERCENT] = "100%";
  row.text[COL_STATUS] = "Download successfully (00:09)";
  EXPECT_NE(CTerminalTable::RenderLines({row}, false)[1].find("[####################] 100%"),
            std::string::npos);
  EXPECT_NE(
      CTerminalTable::RenderLines({row}, true)[1].find("\033[1;34mDownload successfully (00:09)\033[0m"),
      std::string::npos);
}

// A failed step may end with any percentage (a refused router image shows 100%): its bar says
// failed and is never drawn full; the percentage stays as the row has it.
TEST(TerminalTable, BarOfAFailedRowIsDrawnAsFailed) {
  const std::pair<const char*, const char*> cases[] = {
      {"100%", "[------ failed ------] 100%"},
      {"50%", "[------ failed ------]  50%"},
      {"0%", "[------ failed ------]   0%"},
      // a red row without a percentage had no step (a version conflict, a link that never opened)
      {"", "[....................]     "}};
  for (const auto& [percent, bar] : cases) {
    CTerminalTable::Row row;
    row.text = {"APP of router module", "1.2.0.5", "1.2.7.1", percent,
                "Upgrading result of the router module is fail (00:07)"};
    row.colour = kColourRed;
    const std::vector<std::string> lines = CTerminalTable::RenderLines({row}, true);
    EXPECT_NE(lines[1].find(bar), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].find("####"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\033[1;31mUpgrading result of the router module is fail (00:07)\033[0m"),
              std::string::npos);
  }
}

TEST(TerminalTable, PercentAndColourNames) {
  const std::pair<const char*, int> percents[] = {{"0%", 0},   {"42%", 42},  {"100%", 100}, {"101%", -1},
                                                  {"", -1},    {"%", -1},    {"4a%", -1},   {"42", -1},
                                                  {"-1%", -1}, {"1000%", -1}};
  for (const auto& [text, value] : percents) EXPECT_EQ(CTerminalTable::ParsePercent(text), value) << text;

  EXPECT_EQ(CTerminalTable::ColourName(kColourBlack), "black");
  EXPECT_EQ(CTerminalTable::ColourName(kColourBlue), "blue");
  EXPECT_EQ(CTerminalTable::ColourName(kColourRed), "red");
  EXPECT_EQ(CTerminalTable::ColourName(CTerminalTable::kGreyText), "grey");
  EXPECT_EQ(CTerminalTable::ColourName(0x00336699), "#996633");  // stored as 0x00BBGGRR
}

TEST(TerminalTable, StatusTraceOnlyWhileRecording) {
  CTerminalTable table;
  table.InsertItem(0, "BOOT");
  table.SetItemText(0, COL_STATUS, "Waiting for the upgrade");
  table.SetRecordStatusChanges(true);
  table.SetItemText(0, COL_PERCENT, "5%");
  table.SetItemText(0, COL_STATUS, "Transmitting");
  table.SetRecordStatusChanges(false);
  table.SetItemText(0, COL_STATUS, "after");
  EXPECT_EQ(table.TakeStatusChanges(), std::vector<std::string>{"BOOT: Transmitting"});
  EXPECT_TRUE(table.TakeStatusChanges().empty());
}

TEST(CliJson, StringsAreEscapedAndAlwaysValidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\r\n\t", "\"line\\r\\n\\t\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x1b[31m", "\"\\u001b[31m\""},
      {"\xe8\xb7\xaf", "\"\xe8\xb7\xaf\""},  // valid UTF-8 stays as it is
      {"caf\xe9", "\"caf\xc3\xa9\""},        // a Latin-1 byte from the device becomes UTF-8
      {"del\x7f", "\"del\\u007f\""},
      {"csi\xc2\x9b", "\"csi\\u009b\""},  // a C1 control is escaped, not left raw
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(JsonString(in), out);
}

TEST(CliJson, WholeObject) {
  CliResult r;
  r.command = "check";
  r.result = "version-conflict";
  r.exitStatus = 1;
  r.routerFound = true;
  r.routerIp = "192.168.1.1";
  r.routerMac = "00-1E-10-5A-3C-01";
  r.routerText = "1.0.0.0";
  CliModuleResult m;
  m.type = 7;
  m.name = "Firmware of wireless module";
  m.currentVersion = "11.2.0.1";
  m.upgradeVersion = "11.1.20.7";
  m.status = "Version does not match";
  m.colour = "red";
  r.modules.push_back(m);
  m.type = 8;
  m.percent = 100;
  m.status = "Download successfully (00:21)";
  m.colour = "blue";
  r.modules.push_back(m);
  r.modules.back().statusId = IDS_DOWNLOAD_SUCCESSFULLY;
  r.modules.back().elapsedSeconds = 21;
  r.modules.back().imagePath = "/media/usb/fw.bin";
  r.modules.back().imageSha256 = std::string(64, 'a');
  r.modules.front().statusId = IDS_VERSION_MISMATCH;
  r.modules.front().advice = "Use images made for this device's line.";
  r.modules.front().adviceCode = "version-mismatch";
  r.reason = "Firmware of wireless module: Version does not match";
  r.reasonCode = "version-mismatch";
  r.advice = "Use images made for this device's line.";
  r.subnets.push_back({"192.168.1.255", "192.168.1.x", {"eth0 192.168.1.10"}});
  r.logPath = "/home/u/.local/state/qor-oneclick/QorUpgradeLog.txt";
  r.imageFolder = "/media/usb";
  r.skipped.push_back({"/media/usb/old.bin", "unit 0: block 7 CRC"});
  EXPECT_EQ(
      CliResultToJson(r),
      "{\"schemaVersion\":1,\"toolVersion\":\"" + std::string(kProductVersion) +
          "\",\"command\":\"check\",\"result\":\"version-conflict\",\"exitStatus\":1,"
          "\"reason\":\"Firmware of wireless module: Version does not match\",\"reasonCode\":"
          "\"version-mismatch\",\"advice\":\"Use images made for this device's line.\","
          "\"router\":{\"ip\":\"192.168.1.1\",\"mac\":\"00-1E-10-5A-3C-01\",\"text\":\"1.0.0.0\"},"
          "\"network\":{\"subnets\":[{\"discoveryAddress\":\"192.168.1.255\",\"subnet\":\"192.168.1.x\","
          "\"interfaces\":[\"eth0 192.168.1.10\"]}],\"diagnosis\":null,\"diagnosisText\":null},"
          "\"imageFolder\":\"/media/usb\",\"skipped\":[{\"path\":\"/media/usb/old.bin\",\"reason\":"
          "\"unit 0: block 7 CRC\"}],\"modules\":[{\"type\":7,\"name\":\"Firmware of wireless "
          "module\",\"currentVersion\":\"11.2.0.1\","
          "\"upgradeVersion\":\"11.1.20.7\",\"percent\":null,\"status\":\"Version does not match\","
          "\"statusId\":153,\"colour\":\"red\",\"elapsedSeconds\":null,\"advice\":\"Use images made for "
          "this device's line.\",\"adviceCode\":\"version-mismatch\",\"image\":null},{\"type\":8,\"name\":"
          "\"Firmware of wireless module\",\"currentVersion\":"
          "\"11.2.0.1\",\"upgradeVersion\":\"11.1.20.7\",\"percent\":100,\"status\":\"Download successfully "
          "(00:21)\",\"statusId\":103,\"colour\":\"blue\",\"elapsedSeconds\":21,\"advice\":null,"
          "\"adviceCode\":null,\"image\":{\"path\":\"/media/usb/fw.bin\",\"sha256\":\"" +
          std::string(64, 'a') +
          "\"}}],\"log\":\"/home/u/.local/state/qor-oneclick/QorUpgradeLog.txt\","
          "\"logError\":null}");

  CliResult none;
  none.command = "check";
  none.result = "check-stopped";
  none.exitStatus = 3;
  none.routerFound = true;
  none.routerIp = "10.0.0.1";
  none.routerMac = "00-00-00-00-00-01";
  EXPECT_NE(CliResultToJson(none).find("\"text\":null}"), std::string::npos) << CliResultToJson(none);
  none.routerFound = false;
  none.logError = "cannot open /x/QorUpgradeLog.txt: Permission denied";
  // a log that was not written is null, with the reason beside it
  EXPECT_EQ(
      CliResultToJson(none),
      "{\"schemaVersion\":1,\"toolVersion\":\"" + std::string(kProductVersion) +
          "\",\"command\":\"check\",\"result\":\"check-stopped\",\"exitStatus\":3,\"reason\":null,"
          "\"reasonCode\":null,\"advice\":null,\"router\":null,\"network\":{\"subnets\":[],\"diagnosis\":"
          "null,\"diagnosisText\":null},\"imageFolder\":null,\"skipped\":[],\"modules\":[],\"log\":null,"
          "\"logError\":\"cannot open /x/QorUpgradeLog.txt: Permission denied\"}");

  // a failed upgrade names its reason, escaped like every text
  CliResult failed;
  failed.command = "upgrade";
  failed.result = "upgrade-failed";
  failed.exitStatus = 1;
  failed.reason = "The router's NVRAM could not be erased \"now\"";
  EXPECT_NE(
      CliResultToJson(failed).find("\"reason\":\"The router's NVRAM could not be erased \\\"now\\\"\","),
      std::string::npos)
      << CliResultToJson(failed);
}

// The modules of the JSON object come from the Check's plan and from what the reporter shows of each
// row, never from the drawn table: a version read for a module without image is not reported, the
// percentage is the number written (absent until one was), and a Check that never laid its rows out
// reports none.
TEST(CliJson, ModulesComeFromThePlanAndTheRows) {
  CheckResult check;  // no image yet: the second family's rows
  const CBinFile image;
  PlannedModule& app = check.plan[MODULE_APP2];
  app.image = &image;
  app.currentVersion = "2.1.10.6";
  app.imageVersion = "2.1.10.9";
  app.decision = UpgradeDecision::Upgrade;
  check.plan[MODULE_CONFIG_FILE].currentVersion = "3.0.4.1";  // read, but no image
  std::vector<RowRecord> rows;
  for (ModuleType m : check.plan.Shown()) {
    RowRecord row;
    row.module = m;
    row.status = "Not found";
    row.colour = RowColour::Grey;
    rows.push_back(row);
  }
  rows[2].percent = 0;  // the application of the second family: row 2
  rows[2].status = "Handshake failed (00:07)";
  rows[2].colour = RowColour::Red;
  rows[2].statusId = IDS_HANDSHAKE_FAILED;
  rows[2].elapsedSeconds = 7;
  rows[2].final = true;
  // a row still running a step whose text has advice of its own is no failure yet
  rows[1].statusId = IDS_NO_ROUTER;
  rows[1].colour = RowColour::Black;

  EXPECT_TRUE(ModuleResultsOf(check, rows).empty()) << "the Check never showed its rows";
  check.listed = true;
  const std::vector<CliModuleResult> modules = ModuleResultsOf(check, rows);
  ASSERT_EQ(modules.size(), 6u);
  const int types[] = {3, 4, 5, 6, 7, 8};
  for (size_t i = 0; i < modules.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(modules[i].type, types[i]);
    EXPECT_EQ(modules[i].name, ModuleDisplayName(ModuleFromNumber(types[i])));
  }
  EXPECT_EQ(modules[2].currentVersion, "2.1.10.6");
  EXPECT_EQ(modules[2].upgradeVersion, "2.1.10.9");
  EXPECT_EQ(modules[2].percent, std::optional<int>(0));
  EXPECT_EQ(modules[2].status, "Handshake failed (00:07)");
  EXPECT_EQ(modules[2].colour, "red");
  EXPECT_EQ(modules[2].statusId, IDS_HANDSHAKE_FAILED);
  EXPECT_EQ(modules[2].elapsedSeconds, std::optional<int64_t>(7));
  EXPECT_EQ(modules[2].advice, std::optional<std::string>(AdviceText(IDS_HANDSHAKE_FAILED)));
  EXPECT_EQ(modules[2].adviceCode, std::optional<std::string>("handshake-failed"));
  EXPECT_FALSE(modules[1].advice.has_value());
  EXPECT_FALSE(modules[2].imagePath.has_value()) << "no digests asked for";
  EXPECT_EQ(modules[3].currentVersion, "") << "no image: no version shown";
  EXPECT_FALSE(modules[3].percent.has_value());
  EXPECT_EQ(modules[3].colour, "grey");
  const std::string json = [&] {
    CliResult r;
    r.modules = modules;
    return CliResultToJson(r);
  }();
  EXPECT_NE(json.find("\"type\":5,\"name\":\"" + ModuleDisplayName(MODULE_APP2) +
                      "\",\"currentVersion\":\"2.1.10.6\",\"upgradeVersion\":\"2.1.10.9\",\"percent\":0,"
                      "\"status\":\"Handshake failed (00:07)\",\"statusId\":124,\"colour\":\"red\""),
            std::string::npos)
      << json;
}

}  // namespace
