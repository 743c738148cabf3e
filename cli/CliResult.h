#pragma once

#include <optional>
#include <string>
#include <vector>

#include "upgrade/CRowReporter.h"
#include "upgrade/CheckProcedure.h"

// What a command found and did, as the --json object reports it. Filled by the application from the
// Check's result (router, plan), the rows the engine's reporter shows and the engine's outcome, once
// every worker has ended.
struct CliModuleResult {
  int type = 9;      // ModuleType of the row
  std::string name;  // the row's first column
  std::string currentVersion;
  std::string upgradeVersion;
  std::optional<int> percent;  // the "%" column as a number, absent while empty
  std::string status;          // the Status column as shown, elapsed time included
  std::string colour;          // black, blue, red, grey
};

struct CliResult {
  std::string command;  // check, upgrade, demo
  // upgrade-offered, version-conflict, check-stopped, declined, upgraded, upgrade-failed,
  // interrupted
  std::string result;
  int exitStatus = 0;
  bool routerFound = false;
  std::string routerIp;
  std::string routerMac;
  std::optional<std::string> routerText;  // the discovery answer's text, when the Check reports it
  // The folder the images were scanned in (absolute); absent with embedded images or before a scan.
  std::optional<std::string> imageFolder;
  // The files ending in ".bin" that the scan skipped, and why.
  struct Skipped {
    std::string path;
    std::string reason;
  };
  std::vector<Skipped> skipped;
  std::vector<CliModuleResult> modules;
  // The log file when everything logged reached it; else absent, and logError says why.
  std::optional<std::string> logPath;
  std::optional<std::string> logError;
  // Why the upgrade failed, in a few words ("The router's NVRAM could not be erased",
  // "<row>: <status text>"); absent unless the result is upgrade-failed.
  std::optional<std::string> reason;
};

// The modules of the rows the Check showed, in row order: type, name and versions from the plan (the
// versions only for a module with an image, as its row shows them), percentage, status and colour
// from what the reporter shows of the row now. None when the Check did not get as far as its rows.
std::vector<CliModuleResult> ModuleResultsOf(const CheckResult& check, const std::vector<RowRecord>& rows);

// One JSON object (UTF-8, one line, no trailing newline), written with the project's JSON writer
// (platform/JsonWriter.h): control characters are escaped and text that is not UTF-8 is read as
// Latin-1, so the output always parses. Keys: command, result, exitStatus, reason (or null), router
// (ip, mac, text, or null), imageFolder, skipped [{path, reason}], modules [{type, name, currentVersion,
// upgradeVersion, percent, status, colour}], log (null when not written) and logError.
std::string CliResultToJson(const CliResult& result);
// A JSON string literal with quotes.
std::string JsonString(const std::string& text);
