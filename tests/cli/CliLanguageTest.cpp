// qor-oneclick-cli in Simplified Chinese: its messages, its table and the image line follow the
// language while the log and the JSON's fixed words do not; and the table's cell widths of wide
// characters.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "cli/CTerminalTable.h"
#include "platform/StringTable.h"
#include "platform/Translation.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CliText, WideCharactersTakeTwoCells) {
  const std::pair<std::string, int> cases[] = {
      {"", 0},
      {"Status", 6},
      {"状态", 4},
      {"升级(&U)", 8},
      {"Version 版本 1.2", 16},
      {"é", 1},                 // two bytes, one narrow character
      {"ｱ", 1},                 // half-width katakana stays narrow
      {"Ｑ", 2},                // full-width Latin
      {"한", 2},                // Hangul syllable
      {"\xF0\xA0\x80\x80", 2},  // a character of the supplementary ideographs
      {"\xE4\xB8", 2},          // a cut sequence: each byte one cell
      {"\x80x", 2},             // a stray continuation byte
  };
  for (const auto& [text, cells] : cases) EXPECT_EQ(CTerminalTable::TextWidth(text), cells) << text;
}

TEST(CliText, TheTableLinesUpWideHeadingsAndTexts) {
  CTerminalTable::Row row;
  row.text[COL_TYPE] = "无线模块的固件";
  row.text[COL_CURRENT] = "1.0";
  row.text[COL_UPGRADE] = "2.0";
  row.text[COL_STATUS] = "等待升级";
  CTerminalTable::Row other = row;
  other.text[COL_TYPE] = "BOOT";
  const std::vector<std::string> lines = CTerminalTable::RenderLines({row, other}, false);
  ASSERT_EQ(lines.size(), 3u);
  // the second column starts in the same cell on every line
  const size_t first = CTerminalTable::TextWidth(lines[1].substr(0, lines[1].find("1.0")));
  const size_t second = CTerminalTable::TextWidth(lines[2].substr(0, lines[2].find("1.0")));
  EXPECT_EQ(first, second) << lines[1] << "\n" << lines[2];
}

#ifdef QOR_BUILD_LOCALE_DIR
TEST(CliText, AFailedBarSaysFailedInTheLanguageAndKeepsItsWidth) {
  ASSERT_EQ(LoadUserTranslations({QOR_BUILD_LOCALE_DIR}, "qor-oneclick",
                                 [](const char* name) -> const char* {
                                   return std::string(name) == "LANGUAGE" ? "zh_CN" : nullptr;
                                 }),
            "zh_CN");
  CTerminalTable::Row row;
  row.text[COL_TYPE] = "BOOT";
  row.text[COL_PERCENT] = "37%";
  row.text[COL_STATUS] = "Download failed (00:12)";
  row.colour = kColourRed;
  const std::string line = CTerminalTable::RenderLines({row}, false)[1];
  SetActiveCatalogue(CMessageCatalogue(), "");
  const size_t open = line.find('[');
  const size_t close = line.find(']');
  ASSERT_NE(open, std::string::npos);
  ASSERT_NE(close, std::string::npos);
  const std::string bar = line.substr(open + 1, close - open - 1);
  EXPECT_EQ(bar, "------- 失败 -------") << line;
  EXPECT_EQ(CTerminalTable::TextWidth(bar), 20);
}
#endif

TEST(CliLanguage, HelpAndErrorsFollowTheLanguage) {
  struct Case {
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    int status;
    std::string outPart;
    std::string errPart;
  };
  const Case cases[] = {
      {{{"LANGUAGE", "zh_CN"}}, {"--help"}, 0, "用法：qor-oneclick-cli", ""},
      {{{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "zh_CN.UTF-8"}},
       {"--help"},
       0,
       "用法",
       ""},
      {{{"LANGUAGE", "zh_CN"}}, {"--bogus"}, 2, "", "未知选项：--bogus"},
      {{{"LANGUAGE", "zh_CN"}}, {"check", "--udp-port", "0"}, 2, "", "端口号无效"},
      {{{"LANGUAGE", "en"}}, {"--help"}, 0, "Usage: qor-oneclick-cli", ""},
      {{{"LANGUAGE", "fr:en"}}, {"--bogus"}, 2, "", "unknown option: --bogus"},
      {{{"LANGUAGE", "zh_CN"}, {"LC_ALL", "C"}}, {"--help"}, 0, "用法", ""},
      {{{"LANGUAGE", ""}, {"LC_ALL", "C"}, {"LANG", "zh_CN.UTF-8"}}, {"--help"}, 0, "Usage:", ""},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& [k, v] : c.env) trace += k + "=" + v + " ";
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    ChildProcess child;
    ASSERT_TRUE(child.Start(QOR_CLI_PATH, c.args, c.env));
    int code = -1;
    ASSERT_TRUE(child.Wait(30000, &code));
    EXPECT_EQ(code, c.status);
    if (!c.outPart.empty()) {
      EXPECT_TRUE(Contains(child.Stdout(), c.outPart)) << child.Stdout();
    }
    if (!c.errPart.empty()) {
      EXPECT_TRUE(Contains(child.Stderr(), c.errPart)) << child.Stderr();
    }
  }
}

TEST(CliLanguage, AChineseUpgradeShowsChineseAndLogsEnglish) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes"}, "", {{"LANGUAGE", "zh_CN"}}));
  ASSERT_EQ(run.Finish(), 0) << run.Diagnostics();
  const std::string out = run.Out();
  // the image line, the headings, the module names and the final status, in Chinese
  for (const char* part : {"升级文件：", "（由 --images 指定）", "类型", "当前版本", "状态", "用时",
                           "无线模块的固件", "下载成功 (", "所有模块均已升级。", "日志："})
    EXPECT_TRUE(Contains(out, part)) << part << "\n" << run.Diagnostics();
  EXPECT_FALSE(Contains(out, "Download successfully")) << out;
  // the log keeps its English status lines and names the image folder in English
  const std::string log = ReadTextFile(run.LogPath());
  EXPECT_TRUE(Contains(log, LoadEnglishStringById(IDS_DOWNLOAD_SUCCESSFULLY) + " (")) << log;
  EXPECT_TRUE(Contains(log, LoadEnglishStringById(IDS_DOWNLOADING_FIRMWARE))) << log;
  EXPECT_TRUE(Contains(log, "Images: " + run.Stage().ImageFolder() + " (given with --images)")) << log;
  EXPECT_FALSE(Contains(log, "下载成功")) << log;
  EXPECT_FALSE(Contains(log, "升级文件：")) << log;
}

TEST(CliLanguage, AWarningAboutTheImagesIsChineseAndTheImageLineNamesTheFolder) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  const std::string empty = run.TempDir() + "/empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);
  // the emulator's endpoints, but an empty image folder
  std::vector<std::string> args = {"check", "--images", empty};
  const std::vector<std::string> target = run.TargetArgs(false);
  args.insert(args.end(), target.begin(), target.end());
  ASSERT_TRUE(run.Child().Start(
      QOR_CLI_PATH, args,
      {{"LANGUAGE", "zh_CN"}, {"NO_COLOR", ""}, {"XDG_STATE_HOME", run.TempDir() + "/state"}}));
  EXPECT_EQ(run.Finish(), 3) << run.Diagnostics();
  EXPECT_TRUE(Contains(run.Err(), "警告：当前目录中没有找到有效的 .bin 文件")) << run.Err();
  EXPECT_TRUE(Contains(run.Out(), "升级文件：" + empty + "（由 --images 指定）")) << run.Out();
}

}  // namespace
