#include "support/ProcessCounts.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {
size_t CountEntries(const char* folder) {
  size_t count = 0;
  if (DIR* dir = opendir(folder)) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}
}  // namespace

size_t OpenDescriptors() { return CountEntries("/proc/self/fd"); }

size_t Threads() { return CountEntries("/proc/self/task"); }

size_t ThreadsSettledTo(size_t expected) {
  for (int i = 0; i < 200 && Threads() > expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return Threads();
}

long ResidentKiB() {
  long pages = 0;
  long resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
