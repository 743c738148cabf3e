#include "cli/TerminalColumns.h"

#include <sys/ioctl.h>
#include <unistd.h>

int TerminalColumns(FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}
