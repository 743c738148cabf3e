#include "platform/JsonWriter.h"

#include <cstdio>

#include "platform/TextCodec.h"

JsonValue JsonText(std::string_view text) { return JsonValue(TextFrom8Bit(text)); }

std::string JsonDump(const JsonValue& value, int indent) {
  // replace: a string set without JsonText that is not UTF-8 still gives a valid document
  const std::string text = value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
  // DEL and the C1 controls may stand raw in a JSON string; outside strings the document holds only
  // ASCII punctuation, digits, letters and white space, so every such byte lies inside a string
  std::string out;
  out.reserve(text.size());
  char escaped[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0x7F) {
      out += "\\u007f";
      continue;
    }
    if (c == 0xC2 && i + 1 < text.size()) {
      const unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        std::snprintf(escaped, sizeof escaped, "\\u%04x", next);
        out += escaped;
        ++i;
        continue;
      }
    }
    out += static_cast<char>(c);
  }
  return out;
}
