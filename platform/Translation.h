#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Translated texts for the user, from GNU message catalogues (".mo" files made by msgfmt from the
// ".po" files in resources/translations). The English text is the key; a text without a translation
// stays English. Only what the user reads is translated: log lines and everything sent to the router
// keep their fixed texts.
//
// The catalogue is chosen once at start, before any worker thread exists, and read by every thread
// afterwards without a lock. No locale is set (setlocale would change how numbers are parsed).

// Marks a text for the extraction of the catalogue's template without translating it (tables).
#define N_(text) text

// A message catalogue read from a ".mo" file of either byte order. Singular texts only; a message
// with plural forms is found by its singular and yields its first form.
class CMessageCatalogue {
 public:
  // False with a reason when the file cannot be read or is not a well-formed catalogue; the
  // catalogue is then empty.
  bool Load(const std::string& path, std::string* why = nullptr);
  // Parses the bytes of a catalogue file.
  bool Parse(std::string_view bytes, std::string* why = nullptr);
  // The translation of english, or nullptr when there is none (an empty translation counts as none).
  const std::string* Find(std::string_view english) const;
  size_t Size() const { return m_Texts.size(); }

 private:
  std::map<std::string, std::string, std::less<>> m_Texts;
};

// The languages the user asks for, best first: the colon-separated list in LANGUAGE, else the first
// of LC_ALL, LC_MESSAGES and LANG that is set. "C" and "POSIX" (with or without a codeset) ask for
// the untranslated texts and end the list. getenv is replaceable for tests.
using EnvLookup = std::function<const char*(const char*)>;
std::vector<std::string> RequestedLanguages(const EnvLookup& getenv);

// The catalogue names to try for one language, most specific first: "zh_CN.UTF-8@mod" gives
// "zh_CN@mod", "zh_CN", "zh@mod", "zh". Empty for a name that is no language.
std::vector<std::string> LanguageCandidates(const std::string& language);

// The folders where the catalogues of an installed or unpacked copy are found, for a program in
// executableFolder: <executableFolder>/../share/locale, then the folder of the installation prefix.
std::vector<std::string> DefaultLocaleDirs(const std::string& executableFolder);

// Chooses the catalogue <dir>/<name>/LC_MESSAGES/<domain>.mo for the first requested language that
// has one (English, "en...", ends the search with no catalogue) and makes it the active one. Returns
// the catalogue name taken ("zh_CN"), or "" for English.
std::string LoadUserTranslations(const std::vector<std::string>& localeDirs, const std::string& domain,
                                 const EnvLookup& getenv);
// The same with the real environment and the domain "qor-oneclick".
std::string LoadUserTranslations(const std::vector<std::string>& localeDirs);

// Replaces the active catalogue (empty: English) and its name; for start-up and tests.
void SetActiveCatalogue(CMessageCatalogue catalogue, const std::string& name);
// The active catalogue's name ("zh_CN"), or "" while the texts are English.
const std::string& ActiveLanguage();

// The translation of english in the active catalogue, or english itself.
std::string Tr(const char* english);

// Replaces %1 to %9 in pattern by the arguments (a translation may reorder them); "%%" is a percent
// sign; a placeholder without an argument stays as it is.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);
