#pragma once

// What a long run samples of its own process to show that nothing piles up: open descriptors,
// threads and resident memory, read from /proc (Linux; 0 where there is no /proc).

#include <cstddef>

// The open descriptors (the listing's own one included in every sample alike).
size_t OpenDescriptors();
size_t Threads();
// The thread count once it has come down to expected, or what it is after 2 s: a thread that has
// just been joined may still be listed for a moment while the kernel releases it.
size_t ThreadsSettledTo(size_t expected);
// Resident memory in KiB.
long ResidentKiB();
