#pragma once

#include <cstdio>

// The width in columns of the terminal that stream writes to, or 0 when it is not a terminal or the
// system cannot tell: cli/posix/TerminalColumns.cpp (TIOCGWINSZ), cli/win32/TerminalColumns.cpp
// (the console window's width).
int TerminalColumns(FILE* stream);
