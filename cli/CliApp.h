#pragma once

#include <cstdio>

#include "cli/CliOptions.h"

class CSignalWatch;

// Runs one command of the terminal front end to its end and returns the exit status (CliExit).
//
// The Check and the Upgrade run each run on one worker std::thread, joined before this returns; the
// calling (main) thread draws the table and watches the signals meanwhile. An interrupt during the
// Check stops it between two of its steps and ends the command with 128 + the signal number; during
// the Upgrade run it is refused with "The upgrade is in process. Please wait!" and the run goes on
// to its end. out receives the table (or the JSON object), err the warnings and the prompt; the
// confirmation is read from inputFd.
int RunCliCommand(const CliOptions& options, CSignalWatch& signals, FILE* out, FILE* err, int inputFd);
