#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>

// A seam for tests: the file operations of the tool (reading an image, writing the log, the image
// tool's and the support report's writes, renames and syncs) ask here first whether to fail, so a
// test can make the N-th read, write, rename or sync fail with the error a full disk, a failing
// disk or a refused permission gives (ENOSPC, EIO, EACCES). Nothing is armed in a program that
// does not arm it: the question is then one relaxed atomic load.
enum class FileOp { Read, Write, Rename, Sync };
constexpr int kFileOpKinds = 4;

// 0 to go on with the operation, or the error number it must fail with (the call then sets errno to
// it and fails as that system call would). Counts the operation. Any thread.
int TakeFileFault(FileOp op);

// Fails the failAt-th operation of that kind from now on (1 = the next one) with error; resets the
// counts. failAt 0 only counts.
void ArmFileFault(FileOp op, uint64_t failAt, int error);
// Runs action just before the at-th operation of that kind from now on (1 = the next one), on the
// thread that makes it; the operation then goes on. A test changes a file there while the tool reads
// it. Resets the counts and replaces an armed fault.
void ArmFileAction(FileOp op, uint64_t at, std::function<void()> action);
// Stops failing, acting and counting.
void DisarmFileFaults();
// Operations of the kind counted since the last arming.
uint64_t FileOpsCounted(FileOp op);
// Whether the armed fault has been given out.
bool FileFaultFired();
const char* FileOpName(FileOp op);

// Makes the system call, unless the fault armed for this operation is due: then fails as the call
// would, with -1 and errno set.
template <typename Call>
auto CallUnlessFaulted(FileOp op, Call call) -> decltype(call()) {
  if (const int error = TakeFileFault(op)) {
    errno = error;
    return static_cast<decltype(call())>(-1);
  }
  return call();
}
