#include <windows.h>
// windows.h first: io.h's handle call needs its types
#include <io.h>

#include "cli/TerminalColumns.h"

// The console window's visible width, not its buffer's (which is often far wider and would let the
// table's lines wrap).
int TerminalColumns(FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(handle, &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 0;
}
