#include "platform/Translation.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <utility>

#include "platform/ByteOrder.h"

#ifndef QOR_LOCALEDIR
#define QOR_LOCALEDIR "/usr/share/locale"
#endif

namespace {

constexpr uint32_t kMagic = 0x950412DEu;
constexpr uint32_t kMagicSwapped = 0xDE120495u;
// a catalogue of the tool's few hundred texts is a few tens of kilobytes
constexpr std::streamoff kMaxCatalogueBytes = 16 * 1024 * 1024;

bool Fail(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

struct ActiveState {
  std::shared_ptr<const CMessageCatalogue> catalogue = std::make_shared<CMessageCatalogue>();
  std::string name;
};

ActiveState& Active() {
  static ActiveState state;
  return state;
}

bool IsUntranslatedLocale(const std::string& name) {
  const std::string base = name.substr(0, name.find_first_of(".@"));
  return base == "C" || base == "POSIX";
}

}  // namespace

bool CMessageCatalogue::Load(const std::string& path, std::string* why) {
  m_Texts.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(why, "the file cannot be opened");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxCatalogueBytes) return Fail(why, "the file is too large for a catalogue");
  in.seekg(0, std::ios::beg);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!in.read(bytes.data(), size)) return Fail(why, "the file cannot be read");
  return Parse(bytes, why);
}

bool CMessageCatalogue::Parse(std::string_view bytes, std::string* why) {
  m_Texts.clear();
  if (bytes.size() < 28) return Fail(why, "too short for a catalogue header");
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  uint32_t magic = 0;
  bytes::ReadU32LE(data, 0, magic);
  if (magic != kMagic && magic != kMagicSwapped)
    return Fail(why, "not a message catalogue (wrong magic number)");
  // the catalogue's words are in the byte order of the machine that wrote it, told by the magic
  const bool bigEndian = magic == kMagicSwapped;
  auto word = [&](uint64_t at) {
    uint32_t v = 0;
    if (bigEndian) {
      bytes::ReadU32BE(data, at, v);
    } else {
      bytes::ReadU32LE(data, at, v);
    }
    return v;
  };
  // major revisions 0 and 1 share the layout of the tables read here
  if ((word(4) >> 16) > 1) return Fail(why, "unknown catalogue revision");
  const uint64_t count = word(8);
  const uint64_t englishTexts = word(12);
  const uint64_t translations = word(16);
  const uint64_t size = bytes.size();
  if (englishTexts + count * 8 > size || translations + count * 8 > size)
    return Fail(why, "the string tables lie outside the file");

  // a string is (length, offset) and must end with a NUL inside the file
  auto text = [&](uint64_t entry, std::string_view& out) {
    const uint64_t length = word(entry);
    const uint64_t offset = word(entry + 4);
    if (offset + length >= size || bytes[static_cast<size_t>(offset + length)] != '\0') return false;
    out = bytes.substr(static_cast<size_t>(offset), static_cast<size_t>(length));
    return true;
  };
  for (uint64_t i = 0; i < count; ++i) {
    std::string_view english;
    std::string_view translation;
    if (!text(englishTexts + i * 8, english) || !text(translations + i * 8, translation)) {
      m_Texts.clear();
      return Fail(why, "a string lies outside the file");
    }
    // plural forms follow the first after a NUL; the header has the empty key
    english = english.substr(0, english.find('\0'));
    translation = translation.substr(0, translation.find('\0'));
    if (english.empty() || translation.empty()) continue;
    m_Texts.emplace(std::string(english), std::string(translation));
  }
  return true;
}

const std::string* CMessageCatalogue::Find(std::string_view english) const {
  auto it = m_Texts.find(english);
  return it == m_Texts.end() ? nullptr : &it->second;
}

std::vector<std::string> RequestedLanguages(const EnvLookup& getenv) {
  auto value = [&](const char* name) {
    const char* v = getenv(name);
    return std::string(v != nullptr ? v : "");
  };
  std::vector<std::string> list;
  std::string languages = value("LANGUAGE");
  if (languages.empty()) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      languages = value(name);
      if (!languages.empty()) break;
    }
  }
  size_t start = 0;
  while (start <= languages.size()) {
    size_t end = languages.find(':', start);
    if (end == std::string::npos) end = languages.size();
    const std::string item = languages.substr(start, end - start);
    if (!item.empty()) {
      if (IsUntranslatedLocale(item)) break;
      list.push_back(item);
    }
    start = end + 1;
  }
  return list;
}

std::vector<std::string> LanguageCandidates(const std::string& language) {
  std::string name = language;
  std::string modifier;
  if (const size_t at = name.find('@'); at != std::string::npos) {
    modifier = name.substr(at);
    name.resize(at);
  }
  if (const size_t dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  std::string base = name.substr(0, name.find('_'));
  // a language is two or three letters; anything else (a path, "..") never names a folder
  if (base.size() < 2 || base.size() > 3) return {};
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return {};
  for (char c : modifier.substr(modifier.empty() ? 0 : 1))
    if (!std::isalnum(static_cast<unsigned char>(c))) return {};

  std::vector<std::string> out;
  auto add = [&](const std::string& candidate) {
    for (const std::string& c : out)
      if (c == candidate) return;
    out.push_back(candidate);
  };
  if (!modifier.empty()) add(name + modifier);
  add(name);
  if (!modifier.empty()) add(base + modifier);
  add(base);
  return out;
}

std::vector<std::string> DefaultLocaleDirs(const std::string& executableFolder) {
  std::vector<std::string> dirs;
  if (!executableFolder.empty()) dirs.push_back(executableFolder + "/../share/locale");
  dirs.emplace_back(QOR_LOCALEDIR);
  return dirs;
}

std::string LoadUserTranslations(const std::vector<std::string>& localeDirs, const std::string& domain,
                                 const EnvLookup& getenv) {
  for (const std::string& language : RequestedLanguages(getenv)) {
    const std::vector<std::string> candidates = LanguageCandidates(language);
    // English is the texts' own language
    if (!candidates.empty() && candidates.back() == "en") break;
    for (const std::string& name : candidates) {
      for (const std::string& dir : localeDirs) {
        CMessageCatalogue catalogue;
        if (catalogue.Load(dir + "/" + name + "/LC_MESSAGES/" + domain + ".mo") && catalogue.Size() > 0) {
          SetActiveCatalogue(std::move(catalogue), name);
          return name;
        }
      }
    }
  }
  SetActiveCatalogue(CMessageCatalogue(), "");
  return "";
}

std::string LoadUserTranslations(const std::vector<std::string>& localeDirs) {
  return LoadUserTranslations(localeDirs, "qor-oneclick", [](const char* name) { return std::getenv(name); });
}

void SetActiveCatalogue(CMessageCatalogue catalogue, const std::string& name) {
  Active().catalogue = std::make_shared<const CMessageCatalogue>(std::move(catalogue));
  Active().name = name;
}

const std::string& ActiveLanguage() { return Active().name; }

std::string Tr(const char* english) {
  if (english == nullptr) return std::string();
  const std::string* found = Active().catalogue->Find(english);
  return found != nullptr ? *found : std::string(english);
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      const char next = pattern[i + 1];
      if (next == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (next >= '1' && next <= '9' && static_cast<size_t>(next - '1') < args.size()) {
        out += *(args.begin() + (next - '1'));
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}
