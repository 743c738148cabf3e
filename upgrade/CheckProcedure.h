#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "image/Catalogue.h"
#include "image/ImageSet.h"
#include "protocol/CTelnetClient.h"
#include "upgrade/CUpgradeEngine.h"
#include "upgrade/ModulePlan.h"
#include "upgrade/NetworkPreflight.h"
#include "upgrade/WindowInterfaces.h"

// The Check: finds the images, discovers the router, reads the current version of every module that
// has an image, decides per module and shows the rows. It returns what it found (CheckResult), which
// the Upgrade run and the front ends take as input. The GUI and the CLI run this same code on their
// Check worker thread; it reaches the window only through the host and the engine's reporter.
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
  IDialogHost& host;
  CTelnetClient& telnet;
  // The session: its link reads the wireless versions, its reporter writes the rows, its log
  // takes the Check's lines. The Check sets the router found as the session's router.
  CUpgradeEngine& engine;
  // The image slots the scan fills (or the embedded images already loaded in them).
  CImageSet& images;
  // True when the front end loaded the embedded images: no folder is scanned.
  bool hasEmbeddedImages = false;
  // Folder scanned for images ending in ".bin" (the executable's folder by default).
  std::string imageFolder;
  // Set by the front end to stop the worker early (not owned; may be null).
  const std::atomic<bool>* stopRequested = nullptr;
  // Shows what the Check is doing now through the host (unless a stop was requested).
  void Progress(const std::string& text) const {
    if (!StopRequested()) host.ShowCheckStep(text);
  }

  bool StopRequested() const { return stopRequested != nullptr && stopRequested->load(); }
};

// The wireless module's answer to the Check's hand-shake.
struct WirelessState {
  bool answered = false;
  // the flags of the answer; both 1 after a hand-shake that was not answered
  int inDownloader = 0;
  int offline = 0;
  // the router link could not be opened for the hand-shake (warning 119 was shown)
  bool linkFailed = false;
};

// What a Check found.
struct CheckResult {
  // What the image scan looked at (folder, files skipped and why); empty with embedded images.
  ImageScanReport scan;
  // The router that answered the discovery (found false when none did).
  RouterInfo router;
  // Every module's row, image, versions and decision; the images are the context's image set.
  ModulePlan plan;
  // The wireless module as the Check's hand-shake found it (when a wireless image was present).
  WirelessState wireless;
  // Whether the rows were shown (the Check got as far as its decisions).
  bool listed = false;
  // Whether the Upgrade may be offered: the rows were shown and no module's versions conflict.
  bool offered = false;
  // Whether the Check ended on the front end's stop request.
  bool stopped = false;
  // This PC's interfaces against the discovery addresses, looked at before the discovery.
  NetworkPreflight network;
  // How the search went per discovery address (addresses not reached before an answer are absent).
  std::vector<DiscoverySend> sends;
  // Why no router answered (cause None when one did, or when the Check did not search).
  NoRouterDiagnosis noRouter;
  // The failure the Check ended on, as an advice-table id (upgrade/Advice.h): 134, 135 or 137; 0 when
  // it got as far as its rows, or was stopped.
  int failureId = 0;
};

// The Check worker's entry: RunCheck, a flush of the log (the Check's entries reach the file before
// anything else can happen), then the buttons, the focus notification (5 after success, 4 after
// failure), the loop-test timer after a success in loop-test mode, and the foreground.
CheckResult CheckThreadProc(const CheckContext& context);

// The whole procedure.
CheckResult RunCheck(const CheckContext& context);

// Discovery series: three tries per discovery address, 100 ms after each failed try. The router
// that answered first; found is false when none did. sends (optional) receives how the search went
// for each address tried.
RouterInfo DiscoverRouter(const CheckContext& context, std::vector<DiscoverySend>* sends = nullptr);

// Reads the current versions of the shown router family into the plan (modules 0 to 6); fallback
// where nothing was read. Versions of the other family stay empty.
void ReadRouterVersions(const CheckContext& context, ModulePlan& plan, const std::string& fallback);
// Reads the wireless versions into the plan (modules 7 and 8) through the engine's router link,
// and returns the module's state from the hand-shake.
WirelessState ReadWirelessVersions(const CheckContext& context, ModulePlan& plan,
                                   const std::string& forceLoadText);

// The warning shown when no router answered: the string table's text 137 first, then the diagnosis.
std::string NoRouterWarningText(const NoRouterDiagnosis& diagnosis);

// The log line of a Check that ended on the front end's stop request.
inline constexpr const char* kCheckStoppedLog = "The Check was stopped on request";
