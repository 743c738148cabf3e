#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// The one JSON writer of the project: the CLI's result object and the image tool's report are built
// as JsonValue documents and printed with JsonDump. Keys keep the order in which they were set; key
// names are lowerCamelCase everywhere.
using JsonValue = nlohmann::ordered_json;

// A string value for text that came from anywhere (a device, an image header, a file name): valid
// UTF-8 stays as it is, any other byte sequence is read as Latin-1 (TextFrom8Bit), so the document is
// always valid UTF-8 and no byte of the text is lost.
JsonValue JsonText(std::string_view text);

// The document as text: one line without a trailing newline, or indented by indent blanks per level.
// Every control character inside a string is escaped as \u00XX, DEL and the C1 controls (U+0080 to
// U+009F) included, so a document shown on a terminal cannot drive it.
std::string JsonDump(const JsonValue& value, int indent = -1);
