#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CSignalWatch.h"
#include "cli/CliApp.h"
#include "cli/CliOptions.h"

int main(int argc, char** argv) {
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
  if (!signals.IsValid()) {
    std::fprintf(stderr, "qor-oneclick-cli: cannot watch for interrupts\n");
    return kExitSetupFailed;
  }
  return RunCliCommand(options, signals, stdout, stderr, STDIN_FILENO);
}
