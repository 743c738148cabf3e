// The live table fitted to the terminal's width: no line may run past the last column (the
// terminal would break it and the redraw, which counts lines, would leave garbage), and nothing a
// technician needs is lost: the percentage, every word of the status, the start of each name.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CTerminalTable.h"
#include "upgrade/WindowInterfaces.h"

namespace {

std::string WithoutColours(const std::string& line) {
  return std::regex_replace(line, std::regex("\033\\[[0-9;]*m"), "");
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<CTerminalTable::Row> SampleRows() {
  CTerminalTable::Row router;
  router.text = {"Router application", "1.2.0.5 (build 20241107-long)", "1.2.7.1", "45%",
                 "Transmitting upgrading data of router module, please wait"};
  router.colour = kColourBlack;
  CTerminalTable::Row failed;
  failed.text = {"Wireless firmware", "11.1.0.6", "11.1.20.7", "100%",
                 "Failed to receive the result of upgrading the wireless module firmware (00:42)"};
  failed.colour = kColourRed;
  CTerminalTable::Row wide;
  wide.text = {"无线模块固件", "11.1.0.6", "11.1.20.7", "7%",
               "正在传输无线模块的升级数据，请稍候，不要断开电源或网线"};
  wide.colour = kColourBlue;
  return {router, failed, wide};
}

}  // namespace

TEST(TableWidth, EveryLineFitsAndKeepsWhatMatters) {
  struct Case {
    int width;
    bool barShown;
  };
  const Case cases[] = {{0, true},   {200, true}, {100, false}, {80, false},
                        {60, false}, {40, false}, {24, false}};
  const std::vector<CTerminalTable::Row> rows = SampleRows();
  for (const Case& c : cases) {
    for (bool colour : {false, true}) {
      SCOPED_TRACE("width " + std::to_string(c.width) + (colour ? " colour" : ""));
      const std::vector<std::string> lines = CTerminalTable::RenderLines(rows, colour, {}, c.width);
      std::string all;
      for (const std::string& raw : lines) {
        const std::string line = WithoutColours(raw);
        if (c.width > 0) {
          EXPECT_LE(CTerminalTable::TextWidth(line), c.width) << "[" << line << "]";
        }
        all += line + "\n";
      }
      if (c.width == 0) {
        EXPECT_EQ(lines.size(), rows.size() + 1);
      }
      EXPECT_EQ(all.find("[#########...........]") != std::string::npos, c.barShown) << all;
      // the percentages stay, and the status words come out in order (a wrap only splits at blanks
      // or inside a word wider than the column)
      std::string joined;
      for (const std::string& line : lines) joined += WithoutColours(line) + " ";
      for (const CTerminalTable::Row& row : rows) {
        EXPECT_NE(all.find(row.text[COL_PERCENT]), std::string::npos) << all;
        size_t from = 0;
        for (const std::string& word : Words(row.text[COL_STATUS])) {
          if (CTerminalTable::TextWidth(word) > 20) continue;  // may be split over lines at 24
          const size_t at = joined.find(word, from);
          ASSERT_NE(at, std::string::npos) << word << "\n" << all;
          from = at + word.size();
        }
        // a shortened name keeps its start
        EXPECT_NE(all.find(row.text[COL_TYPE].substr(0, 3)), std::string::npos) << all;
      }
    }
  }
}

// Every part of a wrapped status carries its row's colour, and the colour codes take no cell.
TEST(TableWidth, WrappedStatusKeepsItsColourOnEveryLine) {
  const std::vector<std::string> lines = CTerminalTable::RenderLines(SampleRows(), true, {}, 60);
  int red = 0;
  for (const std::string& line : lines) {
    if (line.find("\033[1;31m") != std::string::npos) {
      ++red;
      EXPECT_NE(line.find("\033[0m"), std::string::npos) << line;
    }
  }
  EXPECT_GE(red, 2) << "the failed row's status is wrapped at 60 columns and coloured on each line";
}

TEST(TableWidth, FitAndWrapCountTerminalCells) {
  struct Case {
    std::string text;
    int cells;
    std::string fitted;
  };
  const Case fits[] = {
      {"Router application", 18, "Router application"},
      {"Router application", 10, "Router ap~"},
      {"无线模块固件", 7, "无线模~"},  // a wide character never straddles the edge
      {"abc", 0, ""},
  };
  for (const Case& c : fits) {
    EXPECT_EQ(CTerminalTable::FitText(c.text, c.cells), c.fitted) << c.text << " " << c.cells;
    EXPECT_LE(CTerminalTable::TextWidth(CTerminalTable::FitText(c.text, c.cells)), std::max(c.cells, 0));
  }
  EXPECT_EQ(CTerminalTable::WrapText("one two three", 7), (std::vector<std::string>{"one two", "three"}));
  EXPECT_EQ(CTerminalTable::WrapText("abcdefghij", 4), (std::vector<std::string>{"abcd", "efgh", "ij"}));
  EXPECT_EQ(CTerminalTable::WrapText("正在传输数据", 5), (std::vector<std::string>{"正在", "传输", "数据"}));
}
