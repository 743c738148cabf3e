// The advice table against the failures the tool reports and against the help guide's failure
// table, in English and in every translated guide: the guide tells the same next step as the program.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "upgrade/Advice.h"

namespace upgrade_test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text of an HTML cell: tags dropped, the entities the guide uses decoded.
std::string CellText(std::string html) {
  std::string text;
  bool inTag = false;
  for (char c : html) {
    if (c == '<') inTag = true;
    if (!inTag) text += c;
    if (c == '>') inTag = false;
  }
  for (const auto& [entity, character] : std::vector<std::pair<std::string, std::string>>{
           {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, entity.size(), character);
  }
  return text;
}

struct HelpRow {
  std::vector<std::string> messages;  // the first cell, split at its separators
  std::string advice;
};

// The rows of the table after the guide's heading "6." (what to do when something fails).
std::vector<HelpRow> FailureTable(const std::string& html) {
  std::vector<HelpRow> rows;
  const size_t section = html.find("<h2>6.");
  if (section == std::string::npos) return rows;
  const size_t end = html.find("</table>", section);
  for (size_t at = html.find("<tr><td>", section); at < end; at = html.find("<tr><td>", at + 1)) {
    const size_t first = at + 8;
    const size_t firstEnd = html.find("</td><td>", first);
    const size_t secondEnd = html.find("</td></tr>", firstEnd);
    if (firstEnd == std::string::npos || secondEnd == std::string::npos) break;
    HelpRow row;
    std::string messages = CellText(html.substr(first, firstEnd - first));
    // "; " in English, "；" in Chinese
    for (const std::string& separator : {std::string("; "), std::string("\xEF\xBC\x9B")}) {
      for (size_t cut = messages.find(separator); cut != std::string::npos; cut = messages.find(separator)) {
        row.messages.push_back(messages.substr(0, cut));
        messages.erase(0, cut + separator.size());
      }
    }
    row.messages.push_back(messages);
    row.advice = CellText(html.substr(firstEnd + 9, secondEnd - firstEnd - 9));
    rows.push_back(row);
  }
  return rows;
}

// The argument of the entries with a placeholder, as the guide writes it for the default endpoints.
std::string DefaultArgument(int id) { return id == ADVICE_NO_INTERFACE ? "192.168.1.x" : "1280"; }

TEST(Advice, EveryFailureTheToolReportsHasAdviceAndAStableName) {
  std::vector<int> failures = {IDS_NO_VALID_IMAGE,   IDS_DUPLICATE_IMAGES, IDS_NO_ROUTER,
                               IDS_VERSION_MISMATCH, IDS_HELP_MISSING,     ADVICE_NVRAM_ERASE_FAILED,
                               ADVICE_IMAGE_CHANGED, ADVICE_NO_INTERFACE,  ADVICE_SEND_FAILED,
                               ADVICE_NO_ANSWER};
  for (int id = IDS_TCP_CONNECT_FAILED; id <= IDS_NV_RESTORE_CHECK_FAILED; ++id) failures.push_back(id);
  std::vector<std::string> codes;
  for (int id : failures) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(AdviceText(id).empty());
    const std::string code = AdviceCode(id);
    ASSERT_FALSE(code.empty());
    EXPECT_EQ(code.find_first_not_of("abcdefghijklmnopqrstuvwxyz-"), std::string::npos) << code;
    for (const std::string& other : codes) EXPECT_NE(code, other);
    codes.push_back(code);
    // a failure with a text of the string table is named by it in the guide
    if (id < 1000) {
      EXPECT_EQ(FindAdvice(id)->message, LoadEnglishStringById(id));
    }
  }
  EXPECT_EQ(AdviceTable().size(), failures.size());
  // progress and success are no failures
  for (int id : std::vector<int>{0, IDS_DOWNLOAD_SUCCESSFULLY, IDS_WAITING_UPGRADE, IDS_NOT_FOUND,
                                 IDS_TRANSMITTING_ROUTER}) {
    EXPECT_EQ(FindAdvice(id), nullptr) << id;
    EXPECT_EQ(AdviceText(id), "");
  }
}

// Every entry appears in the guide's failure table, named by its message, with the same advice.
void ExpectGuideMatchesTable(const std::string& guidePath) {
  const std::vector<HelpRow> rows = FailureTable(ReadFile(guidePath));
  ASSERT_GT(rows.size(), 5u) << guidePath;
  size_t matched = 0;
  for (const AdviceEntry& entry : AdviceTable()) {
    SCOPED_TRACE(entry.code);
    const std::string message = Tr(entry.message);
    const HelpRow* found = nullptr;
    for (const HelpRow& row : rows) {
      for (const std::string& m : row.messages) {
        if (m == message) found = &row;
      }
    }
    ASSERT_NE(found, nullptr) << "the guide has no row for \"" << message << "\"";
    EXPECT_EQ(found->advice, AdviceText(entry.id, DefaultArgument(entry.id)));
    ++matched;
  }
  // and the guide tells no failure the table does not know
  size_t messages = 0;
  for (const HelpRow& row : rows) messages += row.messages.size();
  EXPECT_EQ(messages, matched);
}

TEST(Advice, TheHelpGuidesFailureTableTellsTheSame) {
  SetActiveCatalogue(CMessageCatalogue{}, "");
  ExpectGuideMatchesTable(std::string(QOR_SOURCE_DIR) + "/resources/help/QorUpgradeHelp.html");

  CMessageCatalogue chinese;
  std::string why;
  ASSERT_TRUE(chinese.Load(std::string(QOR_BUILD_LOCALE_DIR) + "/zh_CN/LC_MESSAGES/qor-oneclick.mo", &why))
      << why;
  SetActiveCatalogue(std::move(chinese), "zh_CN");
  ExpectGuideMatchesTable(std::string(QOR_SOURCE_DIR) + "/resources/help/QorUpgradeHelp.zh_CN.html");
  SetActiveCatalogue(CMessageCatalogue{}, "");
}

}  // namespace
}  // namespace upgrade_test
