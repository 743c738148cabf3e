#pragma once

#include <cstddef>
#include <string>

// The user guide as a file that the desktop's default handler can open.
//
// The guide is written once into a private directory under kHelpFileName and then used unchanged by
// later presses of F1 and later runs. It is written under a temporary name and renamed into place
// only when every byte was written, so the file at the final name is never a partly written one.

inline constexpr const char* kHelpFileName = "QorUpgradeHelp.html";

enum class HelpFileResult {
  Existing,  // a file was already there; it is used as it is
  Written,   // the guide was written now
  Failed,    // no usable file: no guide to write, or it could not be written completely
};

// path receives directory + "/" + kHelpFileName in every case.
HelpFileResult EnsureHelpFile(const std::string& directory, const unsigned char* bytes, size_t size,
                              std::string& path);
// The same under another name (the guide of another language: "QorUpgradeHelp.zh_CN.html").
HelpFileResult EnsureHelpFile(const std::string& directory, const std::string& fileName,
                              const unsigned char* bytes, size_t size, std::string& path);

// The guide to show in the user's language: the "HELP" resource named after the active language
// when the program carries one, else resource 152 (English). fileName receives its file name.
const unsigned char* HelpGuideForLanguage(const std::string& language, size_t& size, std::string& fileName);
