#pragma once

#include <optional>
#include <string>
#include <vector>

#include "upgrade/Endpoints.h"

// The command line of qor-oneclick-cli: one command word and options that may stand before or after
// it. Parsing is pure (no I/O), so every rule is testable on its own.

enum class CliCommand { None, Check, Upgrade, Demo, Report };

// Exit statuses of the program.
enum CliExit : int {
  kExitOk = 0,            // check: Upgrade may be offered; upgrade: every module "Download successfully"
  kExitFailed = 1,        // a row's versions conflict, or a module failed
  kExitUsage = 2,         // the command line is wrong
  kExitCheckStopped = 3,  // no images, duplicate images, no router; or an image changed since the Check
  kExitDeclined = 4,      // the upgrade was not confirmed: nothing was changed
  kExitSetupFailed = 5,   // the demo could not build its images or start its emulator
  kExitSignalBase = 128,  // ended by a signal outside the upgrade run: 128 + signal number
};

struct CliOptions {
  CliCommand command = CliCommand::None;
  std::optional<std::string> imagesDir;  // unset: searched (image/ImageSearch.h)
  std::optional<std::string> logPath;    // unset: QorUpgradeLog.txt in the user's state directory
  Endpoints endpoints;
  // report: the bundle to write (unset: qor-support-<date>-<time>.tar.gz in the current folder)
  std::optional<std::string> outputPath;
  bool json = false;
  bool events = false;  // JSON Lines on stdout while the command runs (cli/CEventStream.h)
  bool quiet = false;
  bool yes = false;
  bool help = false;
  bool version = false;
  // Clock scale of demo (--speed): 1 is real time; 20 makes every wait of the procedures 20 times
  // shorter. Refused for check and upgrade: against a real router it would shrink every time-out
  // (a router module's 300 s result wait to 15 s) and could leave a module half-written.
  double speed = 1.0;
  bool speedGiven = false;
};

// The environment variable that lets the tests run check and upgrade on a faster clock against the
// emulator. Honoured only when every discovery address is a loopback address (127.0.0.0/8), where
// no router can answer; refused otherwise.
inline constexpr const char* kTestClockScaleVariable = "QOR_TEST_CLOCK_SCALE";

// The clock scale the command runs at: --speed for demo, else the test variable's value (testScale,
// null when unset) under the rule above, else 1. False with a one-line reason when refused.
bool ResolveClockScale(const CliOptions& options, const char* testScale, double& scale, std::string& error);

// Parses argv[1..]. On error returns false and a one-line reason in error.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// The text printed for --help.
std::string CliUsage();

const char* CliCommandName(CliCommand command);
