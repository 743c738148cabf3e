#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CSignalWatch.h"
#include "cli/CliApp.h"
#include "cli/CliOptions.h"
#include "image/Catalogue.h"
#include "platform/Translation.h"
#include "platform/Version.h"

namespace {

// A descriptor 0, 1 or 2 that the caller left closed would be taken by the next open (a socket, the
// signal descriptor), and the prompt or the table would then read from or write into it.
void KeepStandardDescriptorsOpen() {
#ifdef _WIN32
  // Windows gives a program without a console or a redirection no standard handles at all, and the
  // C library's descriptors 0 to 2 then stay unused: nothing to keep. The console shows UTF-8 (the
  // table's lines and bars, translated texts) and the table's colour sequences.
  ::SetConsoleOutputCP(CP_UTF8);
  for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE console = ::GetStdHandle(which);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && ::GetConsoleMode(console, &mode))
      ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
#else
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
#endif
}

}  // namespace

int main(int argc, char** argv) {
  KeepStandardDescriptorsOpen();
  LoadUserTranslations(DefaultLocaleDirs(GetExecutableFolder()));
  // before any thread exists, so every thread inherits the blocked signals
  CSignalWatch signals;
  std::vector<std::string> args(argv + 1, argv + argc);
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(args, options, error)) {
    std::fprintf(stderr, "qor-oneclick-cli: %s\n\n%s", error.c_str(), CliUsage().c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(CliUsage().c_str(), stdout);
    return kExitOk;
  }
  if (options.version) {
    std::fputs(VersionLine("qor-oneclick-cli").c_str(), stdout);
    return kExitOk;
  }
  if (!signals.IsValid()) {
    std::fprintf(stderr, "qor-oneclick-cli: %s\n", Tr("cannot watch for interrupts").c_str());
    return kExitSetupFailed;
  }
  return RunCliCommand(options, signals, stdout, stderr, STDIN_FILENO);
}
