#pragma once

#include <ostream>
#include <string>
#include <vector>

// The command line of qor-mkimage (args without the program name). Writes results to out and
// complaints to err. Exit codes: 0 done (for info: every file valid), 1 an info file is invalid or
// an output could not be written, 2 bad usage.
int RunMkImage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The --help text.
std::string MkImageUsage();
