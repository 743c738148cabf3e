// Texts from a router or an image file (versions, the discovery text, file names, skip reasons) as
// the terminal front end shows them: the printable form, the live table and the --json object. The
// input is cut at zero bytes into texts (the first byte picks the flags). Checks: nothing printed
// carries a C0 control, DEL or a C1 control except the table's own colour sequences and the line
// breaks a message keeps; everything printed is valid UTF-8; the JSON parses and gives back every
// text as TextFrom8Bit reads it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CTerminalTable.h"
#include "cli/CliResult.h"
#include "platform/TextCodec.h"

namespace {

// Code points of a valid UTF-8 text; aborts on anything that is not.
std::u32string Decode(const std::string& text) {
  if (!IsValidUtf8(text)) std::abort();
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) code = code << 6 | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    out.push_back(code);
    i += length;
  }
  return out;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// printed text: no control at all, or (with lineBreaks) only TAB, LF and CR
void CheckPrintable(const std::string& text, bool lineBreaks) {
  for (char32_t c : Decode(text)) {
    if (lineBreaks && (c == '\t' || c == '\n' || c == '\r')) continue;
    if (IsControl(c)) std::abort();
  }
}

// a table line: the only controls are ESC starting an SGR colour sequence "ESC [ digits ; m"
void CheckTableLine(const std::string& line) {
  const std::u32string codes = Decode(line);
  for (size_t i = 0; i < codes.size(); ++i) {
    if (!IsControl(codes[i])) continue;
    if (codes[i] != 0x1B || i + 1 >= codes.size() || codes[i + 1] != '[') std::abort();
    size_t k = i + 2;
    while (k < codes.size() && ((codes[k] >= '0' && codes[k] <= '9') || codes[k] == ';')) ++k;
    if (k >= codes.size() || codes[k] != 'm') std::abort();
    i = k;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> texts;
  while (texts.size() < 16) {
    const size_t zero = rest.find('\0');
    texts.emplace_back(rest.substr(0, zero));
    if (zero == std::string_view::npos) break;
    rest = rest.substr(zero + 1);
  }
  texts.resize(16);

  for (const std::string& text : texts) {
    CheckPrintable(PrintableText(text), false);
    CheckPrintable(PrintableText(text, true), true);
  }

  std::vector<CTerminalTable::Row> rows(2);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < 5; ++c) rows[r].text[c] = texts[(r * 5 + c) % texts.size()];
    rows[r].colour = r == 0 ? kColourRed : kColourBlue;
  }
  const CTerminalTable::RunningStep running{flags % 3 - 1, static_cast<int64_t>(flags) * 61};
  for (const std::string& line : CTerminalTable::RenderLines(rows, (flags & 0x80) != 0, running)) {
    CheckTableLine(line);
  }

  CliResult result;
  result.command = "check";
  result.result = texts[0];
  result.routerFound = (flags & 1) != 0;
  result.routerIp = texts[1];
  result.routerMac = texts[2];
  result.routerText = texts[3];
  result.imageFolder = texts[4];
  result.skipped.push_back({texts[5], texts[6]});
  CliModuleResult module;
  module.name = texts[7];
  module.currentVersion = texts[8];
  module.upgradeVersion = texts[9];
  module.status = texts[10];
  module.colour = texts[11];
  result.modules.push_back(module);
  result.logError = texts[12];
  result.reason = texts[13];
  const std::string json = CliResultToJson(result);
  CheckPrintable(json, false);
  const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
  if (parsed.is_discarded()) std::abort();
  if (parsed.value("result", std::string()) != TextFrom8Bit(texts[0])) std::abort();
  const nlohmann::json& modules = parsed["modules"];
  if (!modules.is_array() || modules.size() != 1) std::abort();
  if (modules[0].value("currentVersion", std::string()) != TextFrom8Bit(texts[8])) std::abort();
  if (modules[0].value("name", std::string()) != TextFrom8Bit(texts[7])) std::abort();
  if (parsed.value("reason", std::string()) != TextFrom8Bit(texts[13])) std::abort();
  if (parsed["skipped"][0].value("path", std::string()) != TextFrom8Bit(texts[5])) std::abort();
  CheckPrintable(JsonString(texts[14]), false);
  return 0;
}
