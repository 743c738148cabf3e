#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/JsonWriter.h"
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
  std::optional<int> percent;             // the "%" column as a number, absent while empty
  std::string status;                     // the Status column as shown, elapsed time included
  std::string colour;                     // black, blue, red, grey
  int statusId = 0;                       // the status text's id (RowRecord::statusId)
  std::optional<int64_t> elapsedSeconds;  // the step's seconds, once its final status shows
  std::optional<std::string> advice;      // what to do next, for a failure (upgrade/Advice.h)
  std::optional<std::string> adviceCode;  // the failure's stable name
  std::optional<std::string> imagePath;   // the image the row's module would be (or was) written with
  std::optional<std::string> imageSha256;
};

// The path and SHA-256 of each module's image in a plan, by module type; computed once per command
// from the verified copies that are (or would be) sent.
struct ImageDigest {
  std::string path;
  std::string sha256;
};
using ImageDigests = std::array<std::optional<ImageDigest>, kModuleCount>;
ImageDigests DigestsOf(const ModulePlan& plan);

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
  // Why the command did not succeed, in a few words ("No router is detected", "The router's NVRAM
  // could not be erased", "<row>: <status text>"); absent after a success.
  std::optional<std::string> reason;
  std::optional<std::string> reasonCode;  // its stable name (upgrade/Advice.h)
  std::optional<std::string> advice;      // what to do next
  // Why no router answered: the cause's stable name and its text; absent when one answered or none
  // was looked for.
  std::optional<std::string> networkDiagnosis;
  std::optional<std::string> networkDiagnosisText;
  // The interfaces found in each discovery address's subnet before the search.
  struct Subnet {
    std::string discoveryAddress;
    std::string subnet;
    std::vector<std::string> interfaces;
  };
  std::vector<Subnet> subnets;
};

// The version of the documents' layout (the JSON object and the event lines); raised when a key
// changes its meaning or goes away (new keys may be added without it).
inline constexpr int kCliSchemaVersion = 1;

// The modules of the rows the Check showed, in row order: type, name and versions from the plan (the
// versions only for a module with an image, as its row shows them), percentage, status and colour
// from what the reporter shows of the row now. None when the Check did not get as far as its rows.
std::vector<CliModuleResult> ModuleResultsOf(const CheckResult& check, const std::vector<RowRecord>& rows,
                                             const ImageDigests* digests = nullptr);
// One module's entry of the JSON (also the event stream's rows).
JsonValue ModuleResultToJson(const CliModuleResult& module);

// One JSON object (UTF-8, one line, no trailing newline), written with the project's JSON writer
// (platform/JsonWriter.h): control characters are escaped and text that is not UTF-8 is read as
// Latin-1, so the output always parses. The keys are described by docs/qor-oneclick-cli.schema.json:
// schemaVersion, toolVersion, command, result, exitStatus, reason, reasonCode, advice (or null),
// router (ip, mac, text, or null), network, imageFolder, skipped [{path, reason}], modules [{type,
// name, currentVersion, upgradeVersion, percent, status, statusId, colour, elapsedSeconds, advice,
// adviceCode, image}], log (null when not written) and logError.
std::string CliResultToJson(const CliResult& result);
// A JSON string literal with quotes.
std::string JsonString(const std::string& text);
