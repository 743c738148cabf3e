#pragma once

#include "platform/Translation.h"
#include "upgrade/CUpgradeEngine.h"
#include "upgrade/WindowInterfaces.h"

// The Upgrade worker's entry: one pass over the modules that the last Check chose, from opening the
// router link to closing it, flushing the log and posting NOTIFY_UPGRADE_DONE to the host. The busy
// marker is 3 until the end-of-run steps start. Only the family of router images that the Check
// showed is transferred; images of the other family are left out and the log says so. Returns 0.
//
// The images sent are the copies the Check read and verified. Before anything is sent, the file of
// every chosen image is compared with the one the Check read; if one changed, its path and
// kImageChangedText are logged and shown (the text in the user's language) as one warning, nothing
// is sent (the link is not even opened), the rows stay as the Check left them, and the run ends as a
// refused start (GetLastRunRefused) with the separator line, the log flushed and NOTIFY_UPGRADE_DONE.
//
// The log is flushed after the run's opening lines, at every final status and, with a sync to the
// disk, at the end of the run.
//
// After it returns, engine.GetModuleOutcome(m) tells what happened to each module,
// UpgradeRunSucceeded(engine) whether every chosen module ended with "Download successfully", and
// engine.GetLastRunFailure() why not.
//
// No failure is silent:
// - a link that cannot be opened shows 119 in red on the first chosen row (the log says why);
// - each module starts with no failure recorded, so a failure id belongs to the module that
//   recorded it (a failed hand-shake of the firmware does not colour the dashboard's row);
// - a failed NVRAM erase is logged, marks the wireless rows it skips with kSkippedAfterNvramText
//   and is shown as a warning (kNvramEraseFailedWarning) once the end-of-run steps are done.
unsigned RunUpgrade(CUpgradeEngine& engine, IDialogHost& host);

// True when the last run opened the link, every chosen module ended with status 103 and the NVRAM
// erase (when one was due) succeeded.
bool UpgradeRunSucceeded(const CUpgradeEngine& engine);

// What a failed NVRAM erase leaves: the log line, the text of each wireless row it skips (black),
// the warning and the reason the front ends give (all but the log line shown in the user's language).
inline constexpr const char* kNvramEraseFailedLog =
    "Erasing the NVRAM of the router module failed: the router confirmed none of the 3 requests";
inline constexpr const char* kSkippedAfterNvramText = N_("Skipped: the router's NVRAM could not be erased");
inline constexpr const char* kNvramEraseFailedWarning =
    N_("The router's NVRAM could not be erased after its modules were written.");
inline constexpr const char* kWirelessSkippedWarning = N_(" The wireless modules were skipped.");
inline constexpr const char* kNvramEraseFailedReason = N_("The router's NVRAM could not be erased");
// Follows the path of an image whose file changed since the Check, in the warning and the log.
inline constexpr const char* kImageChangedText = N_(" changed since the Check: press Check again");

// The log line written when images of the hidden router family were left out.
inline constexpr const char* kOtherFamilyLeftOutLog =
    "Images of the second router family were left out: the Check read only the first family";
