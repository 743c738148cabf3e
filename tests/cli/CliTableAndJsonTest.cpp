#include <gtest/gtest.h>

#include "cli/CTerminalTable.h"
#include "cli/CliResult.h"
#include "platform/Clock.h"

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

TEST(TerminalTable, ElapsedTimeRunsFromTheFirstProgressTextToTheFinalText) {
  ScaledClock clock(100);
  ScopedClock use(clock);
  CTerminalTable table;
  table.InsertItem(0, "Firmware");
  table.SetItemData(0, kColourBlue);  // the Check's colour: no step yet
  EXPECT_FALSE(table.Snapshot()[0].started);

  table.SetItemData(0, kColourBlack);
  table.SetItemText(0, COL_STATUS, "Backing up the NV");
  CTerminalTable::Row first = table.Snapshot()[0];
  ASSERT_TRUE(first.started);
  Clock().SleepMs(2000);
  table.SetItemData(0, kColourBlack);  // a later progress text does not restart the time
  EXPECT_EQ(table.Snapshot()[0].startTick, first.startTick);
  table.SetItemData(0, kColourRed);
  CTerminalTable::Row done = table.Snapshot()[0];
  ASSERT_TRUE(done.finished);
  EXPECT_GE(done.endTick - done.startTick, 2000u);

  // the time stands still once the final text is there
  std::vector<std::string> lines = CTerminalTable::RenderLines({done}, false, done.endTick + 600000);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].find("10:00"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("00:0"), std::string::npos) << lines[1];
}

TEST(TerminalTable, RenderedLineShowsBarPercentAndColour) {
  CTerminalTable::Row row;
  row.text = {"APP of router module", "1.2.0.5", "1.2.7.1", "50%", "Download failed (00:07)"};
  row.colour = kColourRed;
  row.started = true;
  row.finished = true;
  row.startTick = 1000;
  row.endTick = 1000 + 83000;

  std::vector<std::string> plain = CTerminalTable::RenderLines({row}, false, 0);
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_NE(plain[0].find("Current Version"), std::string::npos);
  EXPECT_NE(plain[1].find("[##########..........]  50%"), std::string::npos) << plain[1];
  EXPECT_NE(plain[1].find("01:23"), std::string::npos) << plain[1];
  EXPECT_EQ(plain[1].find('\033'), std::string::npos);

  std::vector<std::string> coloured = CTerminalTable::RenderLines({row}, true, 0);
  EXPECT_NE(coloured[1].find("\033[1;31mDownload failed (00:07)\033[0m"), std::string::npos);

  row.colour = kColourBlack;  // progress texts are drawn in the terminal's own colour
  EXPECT_EQ(CTerminalTable::RenderLines({row}, true, 0)[1].find('\033'), std::string::npos);

  row.text[COL_PERCENT] = "";
  EXPECT_NE(CTerminalTable::RenderLines({row}, false, 0)[1].find("[....................]"), std::string::npos);
}

TEST(TerminalTable, PercentAndColourNames) {
  const std::pair<const char*, int> percents[] = {{"0%", 0}, {"42%", 42}, {"100%", 100}, {"101%", -1}, {"", -1},
                                                   {"%", -1},  {"4a%", -1}, {"42", -1},   {"-1%", -1}, {"1000%", -1}};
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
      {"\xe8\xb7\xaf", "\"\xe8\xb7\xaf\""},   // valid UTF-8 stays as it is
      {"caf\xe9", "\"caf\xc3\xa9\""},         // a Latin-1 byte from the device becomes UTF-8
      {"del\x7f", "\"del\\u007f\""},
      {"csi\xc2\x9b", "\"csi\\u009b\""},      // a C1 control is escaped, not left raw
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
  r.logPath = "/home/u/.local/state/qor-oneclick/QorUpgradeLog.txt";
  r.imageFolder = "/media/usb";
  r.skipped.push_back({"/media/usb/old.bin", "unit 0: block 7 CRC"});
  EXPECT_EQ(CliResultToJson(r),
            "{\"command\":\"check\",\"result\":\"version-conflict\",\"exitStatus\":1,"
            "\"router\":{\"ip\":\"192.168.1.1\",\"mac\":\"00-1E-10-5A-3C-01\",\"text\":\"1.0.0.0\"},"
            "\"imageFolder\":\"/media/usb\",\"skipped\":[{\"path\":\"/media/usb/old.bin\",\"reason\":"
            "\"unit 0: block 7 CRC\"}],\"modules\":[{\"type\":7,\"name\":\"Firmware of wireless module\",\"currentVersion\":\"11.2.0.1\","
            "\"upgradeVersion\":\"11.1.20.7\",\"percent\":null,\"status\":\"Version does not match\","
            "\"colour\":\"red\"},{\"type\":8,\"name\":\"Firmware of wireless module\",\"currentVersion\":"
            "\"11.2.0.1\",\"upgradeVersion\":\"11.1.20.7\",\"percent\":100,\"status\":\"Download successfully "
            "(00:21)\",\"colour\":\"blue\"}],\"log\":\"/home/u/.local/state/qor-oneclick/QorUpgradeLog.txt\","
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
  EXPECT_EQ(CliResultToJson(none),
            "{\"command\":\"check\",\"result\":\"check-stopped\",\"exitStatus\":3,\"router\":null,"
            "\"imageFolder\":null,\"skipped\":[],\"modules\":[],\"log\":null,"
            "\"logError\":\"cannot open /x/QorUpgradeLog.txt: Permission denied\"}");
}

}  // namespace
