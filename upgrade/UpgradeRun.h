#pragma once

#include "upgrade/CUpgradeEngine.h"
#include "upgrade/WindowInterfaces.h"

// The Upgrade worker's entry: one pass over the modules that the last Check chose, from opening the
// router link to closing it, flushing the log and posting NOTIFY_UPGRADE_DONE to the host. The busy
// marker is 3 until the end-of-run steps start. Only the family of router images that the Check
// showed is transferred; images of the other family are left out and the log says so. Returns 0.
//
// After it returns, engine.GetModuleOutcome(m) tells what happened to each module and
// UpgradeRunSucceeded(engine) whether every chosen module ended with "Download successfully".
unsigned RunUpgrade(CUpgradeEngine& engine, IDialogHost& host);

// True when the last run opened the link, every chosen module ended with status 103 and the NVRAM
// erase (when one was due) succeeded.
bool UpgradeRunSucceeded(const CUpgradeEngine& engine);

// The log line written when images of the hidden router family were left out.
inline constexpr const char* kOtherFamilyLeftOutLog =
    "Images of the second router family were left out: the Check read only the first family";
