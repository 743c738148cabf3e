#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text at the Windows boundary (platform/win32/WinText.cpp, Windows builds only). The tool holds text
// as UTF-8; the system's own calls take UTF-16, and an old console or file may hold the ANSI code
// page's bytes. Invalid input never loses the rest of a text: an unpaired or malformed unit becomes
// U+FFFD.

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
// The process's ANSI code page (CP_ACP), both ways.
std::string Utf8FromAnsi(std::string_view bytes);
std::string AnsiFromUtf8(std::string_view text);
// The system's text for an error code (GetLastError, a Windows Sockets number), without the line
// break the system ends it with; empty when the system has none.
std::string WindowsErrorText(uint32_t code);
