#include "platform/TextCodec.h"

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // overlong forms, surrogates and values past U+10FFFF are not UTF-8
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::string TextFrom8Bit(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string TextFrom8Bit(std::span<const uint8_t> bytes) {
  return TextFrom8Bit(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string PrintableText(std::string_view raw, bool keepLineBreaks) {
  const std::string text = TextFrom8Bit(raw);
  std::string out;
  out.reserve(text.size());
  static constexpr char kHex[] = "0123456789abcdef";
  auto escape = [&out](unsigned codePoint) {
    out += "\\x";
    out += kHex[(codePoint >> 4) & 0xF];
    out += kHex[codePoint & 0xF];
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      if (keepLineBreaks && (c == '\t' || c == '\n' || c == '\r')) {
        out += static_cast<char>(c);
      } else {
        escape(c);
      }
      continue;
    }
    // U+0080 to U+009F are the two bytes C2 80 to C2 9F in UTF-8 (the text is valid UTF-8 here)
    if (c == 0xC2 && i + 1 < text.size()) {
      const unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        escape(next);
        ++i;
        continue;
      }
    }
    out += static_cast<char>(c);
  }
  return out;
}
