#pragma once

#include <cstdio>

#include "cli/CliOptions.h"

// qor-oneclick-cli report: writes the support bundle (upgrade/SupportReport.h) with the log that
// --log names (else the technician's log), the last Check saved beside it, and the images that
// --images names (else those a Check would use). Prints "Support report: <path>" and returns
// kExitOk, or prints why on err and returns kExitFailed.
int RunReportCommand(const CliOptions& options, FILE* out, FILE* err);
