// The message catalogues: reading ".mo" files (and refusing broken ones), choosing the language from
// the environment, finding the catalogue, the translated string table and the text formatting.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "support/TempDir.h"

namespace {

// A catalogue file as msgfmt writes it: header, the two string tables, then the strings.
std::string MakeCatalogue(const std::vector<std::pair<std::string, std::string>>& texts,
                          bool bigEndian = false, uint32_t revision = 0) {
  std::string out;
  auto word = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = bigEndian ? 24 - 8 * i : 8 * i;
      out += static_cast<char>((v >> shift) & 0xFF);
    }
  };
  const auto count = static_cast<uint32_t>(texts.size());
  const uint32_t msgids = 28;
  const uint32_t translations = msgids + 8 * count;
  uint32_t offset = translations + 8 * count;
  word(0x950412DEu);
  word(revision);
  word(count);
  word(msgids);
  word(translations);
  word(0);
  word(0);
  std::string strings;
  std::vector<std::pair<uint32_t, uint32_t>> first;
  std::vector<std::pair<uint32_t, uint32_t>> second;
  for (const auto& [english, translated] : texts) {
    first.emplace_back(static_cast<uint32_t>(english.size()), offset + static_cast<uint32_t>(strings.size()));
    strings += english + '\0';
  }
  for (const auto& [english, translated] : texts) {
    second.emplace_back(static_cast<uint32_t>(translated.size()),
                        offset + static_cast<uint32_t>(strings.size()));
    strings += translated + '\0';
  }
  for (const auto& [length, at] : first) {
    word(length);
    word(at);
  }
  for (const auto& [length, at] : second) {
    word(length);
    word(at);
  }
  return out + strings;
}

void PutWord(std::string& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Restores the English texts when a test ends.
struct EnglishAfterwards {
  ~EnglishAfterwards() { SetActiveCatalogue(CMessageCatalogue(), ""); }
};

EnvLookup Env(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> const char* {
    auto it = values.find(name);
    return it == values.end() ? nullptr : it->second.c_str();
  };
}

void WriteCatalogue(const std::string& localeDir, const std::string& language, const std::string& bytes) {
  const std::string dir = localeDir + "/" + language + "/LC_MESSAGES";
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  std::ofstream(dir + "/qor-oneclick.mo", std::ios::binary) << bytes;
}

TEST(MessageCatalogue, ReadsBothByteOrdersAndSkipsTheHeaderAndEmptyTranslations) {
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"", "Content-Type: text/plain; charset=UTF-8\n"},
      {"Handshake failed", "握手失败"},
      {"Not found", ""},
      {std::string("one file\0%1 files", 17), std::string("%1 个文件\0unused", 18)},
  };
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    CMessageCatalogue catalogue;
    std::string why;
    ASSERT_TRUE(catalogue.Parse(MakeCatalogue(texts, big), &why)) << why;
    EXPECT_EQ(catalogue.Size(), 2u);
    ASSERT_NE(catalogue.Find("Handshake failed"), nullptr);
    EXPECT_EQ(*catalogue.Find("Handshake failed"), "握手失败");
    EXPECT_EQ(catalogue.Find("Not found"), nullptr);
    EXPECT_EQ(catalogue.Find(""), nullptr);
    ASSERT_NE(catalogue.Find("one file"), nullptr);
    EXPECT_EQ(*catalogue.Find("one file"), "%1 个文件");
    EXPECT_EQ(catalogue.Find("Handshake"), nullptr);
  }
}

TEST(MessageCatalogue, RefusesBrokenFilesAndKeepsNothingOfThem) {
  const std::string good = MakeCatalogue({{"Type", "类型"}, {"Status", "状态"}});
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", ""});
  cases.push_back({"header cut short", good.substr(0, 27)});
  {
    std::string b = good;
    b[0] = 'X';
    cases.push_back({"wrong magic", b});
  }
  cases.push_back({"unknown revision", MakeCatalogue({{"Type", "类型"}}, false, 2u << 16)});
  {
    std::string b = good;
    PutWord(b, 8, 0x10000000u);  // count far beyond the file
    cases.push_back({"tables beyond the file", b});
  }
  {
    std::string b = good;
    PutWord(b, 12, 0xFFFFFFF0u);  // table offset near the top of 32 bits
    cases.push_back({"table offset wraps", b});
  }
  {
    std::string b = good;
    PutWord(b, 28 + 4, static_cast<uint32_t>(b.size()) + 100);  // first string's offset
    cases.push_back({"string beyond the file", b});
  }
  {
    std::string b = good;
    PutWord(b, 28, 0xFFFFFFFFu);  // first string's length
    cases.push_back({"string length wraps", b});
  }
  {
    std::string b = good;
    b.back() = 'x';  // the last translation loses its NUL
    cases.push_back({"string without its end", b});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMessageCatalogue catalogue;
    ASSERT_TRUE(catalogue.Parse(good));
    std::string why;
    EXPECT_FALSE(catalogue.Parse(c.bytes, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(catalogue.Size(), 0u);
    EXPECT_EQ(catalogue.Find("Type"), nullptr);
  }
  CMessageCatalogue missing;
  std::string why;
  EXPECT_FALSE(missing.Load("/nonexistent/qor-oneclick.mo", &why));
  EXPECT_FALSE(why.empty());
}

TEST(Translation, LanguagesComeFromLanguageThenTheLocaleVariables) {
  struct Case {
    std::map<std::string, std::string> env;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{}, {}},
      {{{"LANG", "zh_CN.UTF-8"}}, {"zh_CN.UTF-8"}},
      {{{"LANG", "en_GB.UTF-8"}, {"LC_MESSAGES", "zh_CN"}}, {"zh_CN"}},
      {{{"LANG", "en_GB"}, {"LC_MESSAGES", "de_DE"}, {"LC_ALL", "zh_TW"}}, {"zh_TW"}},
      {{{"LANGUAGE", "zh_CN:en"}, {"LANG", "de_DE"}}, {"zh_CN", "en"}},
      {{{"LANGUAGE", ":zh_CN::fr:"}}, {"zh_CN", "fr"}},
      {{{"LANGUAGE", ""}, {"LANG", "zh_CN"}}, {"zh_CN"}},
      {{{"LANG", "C"}}, {}},
      {{{"LANG", "C.UTF-8"}}, {}},
      {{{"LC_ALL", "POSIX"}, {"LANG", "zh_CN"}}, {}},
      {{{"LANGUAGE", "zh_CN:C:fr"}}, {"zh_CN"}},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& [k, v] : c.env) trace += k + "=" + v + " ";
    SCOPED_TRACE(trace);
    EXPECT_EQ(RequestedLanguages(Env(c.env)), c.expected);
  }
}

TEST(Translation, CatalogueNamesGoFromTheMostSpecificToTheLanguage) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"zh_CN.UTF-8", {"zh_CN", "zh"}},
      {"zh_CN", {"zh_CN", "zh"}},
      {"zh", {"zh"}},
      {"sr_RS.UTF-8@latin", {"sr_RS@latin", "sr_RS", "sr@latin", "sr"}},
      {"fil_PH", {"fil_PH", "fil"}},
      {"", {}},
      {"x", {}},
      {"../etc", {}},
      {"zh_CN/../../x", {}},
      {"zh@../x", {}},
      {"toolong_XX", {}},
  };
  for (const auto& [language, expected] : cases) {
    EXPECT_EQ(LanguageCandidates(language), expected) << language;
  }
}

TEST(Translation, TheFirstLanguageWithACatalogueIsTakenAndEnglishEndsTheSearch) {
  EnglishAfterwards restore;
  const TempDir firstDir;
  const TempDir secondDir;
  const std::string first = firstDir.Path();
  const std::string second = secondDir.Path();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  WriteCatalogue(second, "zh_CN", MakeCatalogue({{"Type", "类型"}}));
  WriteCatalogue(first, "zh", MakeCatalogue({{"Type", "类型（zh）"}}));
  WriteCatalogue(second, "fr", MakeCatalogue({{"Type", "Genre"}}));
  WriteCatalogue(second, "de", "not a catalogue");
  const std::vector<std::string> dirs = {first, second};

  struct Case {
    const char* language;
    const char* taken;
    const char* type;
  };
  const Case cases[] = {
      {"zh_CN.UTF-8", "zh_CN", "类型"},  // a later folder's exact match beats an earlier folder's language
      {"zh_TW", "zh", "类型（zh）"},    {"de:fr", "fr", "Genre"},  // a broken catalogue is passed over
      {"en:zh_CN", "", "Type"},         {"en_GB", "", "Type"},    {"ja", "", "Type"}, {"", "", "Type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    EXPECT_EQ(LoadUserTranslations(dirs, "qor-oneclick", Env({{"LANGUAGE", c.language}})), c.taken);
    EXPECT_EQ(ActiveLanguage(), c.taken);
    EXPECT_EQ(Tr("Type"), c.type);
    EXPECT_EQ(Tr("Status"), "Status");
  }
  EXPECT_EQ(LoadUserTranslations({"/nonexistent"}, "qor-oneclick", Env({{"LANG", "zh_CN"}})), "");
}

TEST(Translation, StringTableShowsTheTranslationAndKeepsEnglishForTheLog) {
  EnglishAfterwards restore;
  SetActiveCatalogue(CMessageCatalogue(), "");
  EXPECT_EQ(LoadStringById(IDS_HANDSHAKE_FAILED), "Handshake failed");
  CMessageCatalogue catalogue;
  ASSERT_TRUE(catalogue.Parse(MakeCatalogue({{"Handshake failed", "握手失败"}})));
  SetActiveCatalogue(std::move(catalogue), "zh_CN");
  EXPECT_EQ(LoadStringById(IDS_HANDSHAKE_FAILED), "握手失败");
  EXPECT_EQ(LoadEnglishStringById(IDS_HANDSHAKE_FAILED), "Handshake failed");
  // a text without a translation stays English; an unknown id stays empty in both forms
  EXPECT_EQ(LoadStringById(IDS_NO_ROUTER), "No router is detected");
  std::string text = "x";
  EXPECT_FALSE(LoadStringById(9999, text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(LoadEnglishStringById(9999), "");
}

#ifdef QOR_BUILD_LOCALE_DIR
// The catalogue the build compiled from resources/translations: every text of the string table has
// its Simplified Chinese translation.
TEST(Translation, TheBuiltChineseCatalogueTranslatesTheWholeStringTable) {
  EnglishAfterwards restore;
  ASSERT_EQ(LoadUserTranslations({QOR_BUILD_LOCALE_DIR}, "qor-oneclick", Env({{"LANG", "zh_CN.UTF-8"}})),
            "zh_CN");
  const std::vector<int> ids = StringTableIds();
  EXPECT_GE(ids.size(), 50u);
  for (int id : ids) {
    const std::string english = LoadEnglishStringById(id);
    const std::string shown = LoadStringById(id);
    SCOPED_TRACE(std::to_string(id) + " " + english);
    EXPECT_FALSE(shown.empty());
    // only the percent sign reads the same in both
    if (english != "%") {
      EXPECT_NE(shown, english);
    }
  }
}
#endif

TEST(Translation, FormatTextPutsTheArgumentsWhereThePatternSays) {
  struct Case {
    const char* pattern;
    std::vector<std::string> args;
    const char* expected;
  };
  const Case cases[] = {
      {"Log: %1", {"/tmp/log"}, "Log: /tmp/log"},
      {"%2 before %1", {"a", "b"}, "b before a"},
      {"100%% of %1", {"x"}, "100% of x"},
      {"%1%1", {"ab"}, "abab"},
      {"%3 stays", {"a"}, "%3 stays"},
      {"ends with %", {}, "ends with %"},
      {"%1 is %x", {"%2"}, "%2 is %x"},  // an argument is never read as a pattern
      {"", {"a"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    switch (c.args.size()) {
      case 0:
        EXPECT_EQ(FormatText(c.pattern, {}), c.expected);
        break;
      case 1:
        EXPECT_EQ(FormatText(c.pattern, {c.args[0]}), c.expected);
        break;
      default:
        EXPECT_EQ(FormatText(c.pattern, {c.args[0], c.args[1]}), c.expected);
        break;
    }
  }
}

}  // namespace
