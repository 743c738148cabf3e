#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "image/Catalogue.h"
#include "image/ModuleTable.h"
#include "platform/Translation.h"
#include "protocol/CTelnetClient.h"
#include "upgrade/CUpgradeEngine.h"
#include "upgrade/WindowInterfaces.h"

// The Check: finds the images, discovers the router, reads the current version of every module that
// has an image, decides per module and fills the module list. The GUI and the CLI run this same code
// on their Check worker thread; it reaches the window only through the context's interfaces.
//
// Lifetime: everything the context refers to must outlive the worker. A front end that closes while
// a Check runs (or a user who interrupts it) sets stopRequested (optional) and then joins the worker
// before destroying anything; once the flag is seen the worker makes no further call to the list or
// the host. The Check changes nothing on the router, so it may stop anywhere: RunCheck installs the
// flag as its thread's stop request (platform/StopRequest.h), which every wait of the worker looks
// at per datagram, per read, per connect and per pause, and the steps test it between them. A
// Check therefore ends within about 1 s of clock time of the request, and a wait ended by the
// request is reported as no failure (no warning, no failure line in the log).
struct CheckContext {
  IModuleList& list;
  IDialogHost& host;
  CTelnetClient& telnet;
  CUpgradeEngine& engine;
  // True when the front end loaded the embedded images: no folder is scanned.
  bool hasEmbeddedImages = false;
  // Folder scanned for images ending in ".bin" (the executable's folder by default).
  std::string imageFolder;
  // Set by the front end to stop the worker early (not owned; may be null).
  const std::atomic<bool>* stopRequested = nullptr;
  // Out: the text the router sent with its discovery answer ("" until a discovery succeeded).
  std::string routerText;
  // Out: what the image scan looked at (folder, files skipped and why); empty with embedded images.
  ImageScanReport scan;

  bool StopRequested() const { return stopRequested != nullptr && stopRequested->load(); }
};

// The Check worker's entry: RunCheck, a flush of the log (the Check's entries reach the file before
// anything else can happen), then the buttons, the focus notification (5 after success, 4 after
// failure), the loop-test timer after a success in loop-test mode, and the foreground. Returns 0.
unsigned CheckThreadProc(CheckContext& context);

// The whole procedure; true when the Upgrade button may be offered (no row conflicts).
bool RunCheck(CheckContext& context);

// Discovery series: three tries per discovery address, 100 ms after each failed try. Fills the
// engine's router MAC and IP and returns the router's text.
bool DiscoverRouter(CheckContext& context, std::string& routerText);

// Fills m_CurrentVersion of rows 0 to 6 (one router family only); fallback where nothing was read.
void ReadRouterVersions(CheckContext& context, const std::string& fallback);
// Fills m_CurrentVersion of rows 7 and 8 through the engine's router link.
void ReadWirelessVersions(CheckContext& context, const std::string& forceLoadText);

// The first three numbers of a version text; digits after the last separator are not stored.
struct VersionTriple {
  int32_t first = 0;
  int32_t second = 0;
  int32_t third = 0;
  bool operator==(const VersionTriple&) const = default;
};
VersionTriple ParseVersion(const std::string& text);

// The version rule: sets row.m_Upgrade to 1 (may upgrade) or 0 (versions conflict).
void DecideUpgrade(ModuleRow& row);

// Fits the five columns: each gets the largest of the width of (n + 2) "1" characters (n = 16, 15,
// 15, 4, 20), its width after -1 and its width after -2; redraw is suspended meanwhile.
void FitModuleColumns(IModuleList& list);

// The log line of a Check that ended on the front end's stop request.
inline constexpr const char* kCheckStoppedLog = "The Check was stopped on request";

// The force-load text shown for the wireless rows when the module waits in download mode.
inline constexpr const char* kForceLoadText = N_("Can't read in force-load mode");
