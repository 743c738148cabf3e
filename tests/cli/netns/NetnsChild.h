#pragma once

// What the namespace tests share: a forked child that makes its own network namespace and reports
// back through a pipe, and the shell and report helpers it uses there.

#include <functional>
#include <string>

// Runs a command line through the shell (output dropped); true on exit status 0.
bool Shell(const std::string& command);
// Writes all of text to fd.
void Report(int fd, const std::string& text);

struct ChildReport {
  bool exitedCleanly = false;  // the child exited with status 0
  std::string text;            // everything it wrote to its descriptor
};
// Forks; the child runs child(fd) and exits; the parent reads what it writes until it ends.
ChildReport RunInChild(const std::function<void(int fd)>& child);
