#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Texts on the wire, in Telnet output and in image headers are 8-bit. The tool holds text as UTF-8.
// Bytes that already form valid UTF-8 are kept as they are; otherwise every byte is taken as
// Latin-1 and converted, so no input byte is lost or turned into an invalid string.
std::string TextFrom8Bit(std::span<const uint8_t> bytes);
std::string TextFrom8Bit(std::string_view bytes);

// The bytes sent for a text (UTF-8 as it stands; the router's console and the image tool use ASCII).
inline std::string_view TextTo8Bit(std::string_view text) { return text; }

bool IsValidUtf8(std::string_view bytes);

// Text that came from a device or a file (version texts, file names), made safe to print on a
// terminal or write to the log: converted as TextFrom8Bit does, then every C0 control character
// (U+0000 to U+001F), DEL (U+007F) and C1 control character (U+0080 to U+009F) is replaced by the
// visible escape "\xNN" of its code point, so such a text can never move the cursor, retitle the
// window or recolour the screen. With keepLineBreaks, TAB, LF and CR stay as they are (a multi-line
// message, a system error text that ends with its own line break). A backslash is left alone.
std::string PrintableText(std::string_view text, bool keepLineBreaks = false);
