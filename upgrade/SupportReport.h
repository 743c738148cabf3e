#pragma once

#include <ctime>
#include <string>

#include "platform/JsonWriter.h"

class CImageSet;

// The support report: one .tar.gz a technician sends to the support desk, which lets it place a log
// without asking what was run where. Everything in it is about the tool, the PC's network set-up
// and the images, never the images themselves nor other data of the host:
//   <top>/manifest.txt       what is in the bundle, and why a part is missing
//   <top>/version.txt        the tool's version and build, the front end, the system's kernel
//   <top>/os-release.txt     the OS release (/etc/os-release)
//   <top>/network.txt        network interfaces with their state and addresses, and the IPv4 routes
//   <top>/QorUpgradeLog.txt  the technician's log (its last kLogTailBytes when longer)
//   <top>/last-check.json    the result document of the last Check, when one was saved
//   <top>/images.json        every image file: name, path, size, module type, version, SHA-256
// where <top> is the bundle's file name without ".tar.gz".
struct SupportReportInput {
  std::string frontEnd;                       // "qor-oneclick-cli", "qor-oneclick"
  std::string logPath;                        // the technician's log; may not exist yet
  std::string lastCheckPath;                  // the saved Check document; "" or missing: none
  std::string imageFolder;                    // the folder of the images; "" with embedded images or none
  const CImageSet* embeddedImages = nullptr;  // the images compiled into the program, when used
};

inline constexpr size_t kLogTailBytes = size_t{16} << 20;

// Writes the bundle to outputPath: a temporary file in the same folder, synced and renamed into
// place, mode 0600 (a log names the routers it saw). false with why in error; nothing is left behind.
bool WriteSupportReport(const SupportReportInput& input, const std::string& outputPath, std::string& error);

// "qor-support-YYYYMMDD-HHMMSS.tar.gz" in local time.
std::string DefaultSupportReportName(std::time_t now);

// The network interfaces (name, up or down, running, IPv4 and IPv6 addresses with their prefix
// length) and the IPv4 routes (destination/prefix, gateway, interface): addresses only, no hardware
// addresses, host names or other data of the PC.
std::string NetworkSummary();

// The images of a folder (every ".bin" file, valid or not), or the embedded ones.
JsonValue ImagesSummary(const std::string& folder, const CImageSet* embeddedImages);

// Where a front end keeps the last Check's document: beside its log, "QorLastCheck.json".
std::string LastCheckPathFor(const std::string& logPath);
// Writes the document there (temporary file renamed into place, mode 0600); false with why.
bool SaveLastCheck(const std::string& logPath, const std::string& document, std::string& error);
