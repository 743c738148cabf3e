#pragma once

#include <string>

// What the support report takes from the system it runs on (upgrade/posix/SupportReportSystem.cpp,
// upgrade/win32/SupportReportSystem.cpp); NetworkSummary (SupportReport.h) is the platform's too.

// The folder of a path ("." when it names none) and its last component, split at the system's
// separators.
std::string FolderOf(const std::string& path);
std::string BaseName(const std::string& path);

// Writes data to path through a temporary file in its folder, synced, then renamed into place; only
// the user may read it. false with why in error; the temporary file is removed on failure.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string& error);

// "kernel: ...\nmachine: ...\n" for the version file; empty when the system cannot tell.
std::string KernelText();

// What network.txt holds on this system, for the report's manifest.
extern const char* const kNetworkSummaryWhat;
