#include "upgrade/SleepInhibitor.h"

// Windows has no login manager to hand out a sleep lock as a descriptor, and this build asks no
// other service for one: the upgrade goes on and the log says that sleep was not blocked.
int CLogindInhibitor::Acquire(std::string& error) {
  error = "not supported on this system";
  return -1;
}
