// How the programs that exchange large texts with the server set up the allocator.
#pragma once

#include <malloc.h>

namespace lirvo {

// Requests, replies and exports run to megabytes, one after another. By default glibc gives blocks
// that large their own mapping and returns them at once, so that each new one is faulted in again
// page by page (for an export of 20,000 vouchers that cost as much as converting it). Called at
// the start of main: blocks up to 32 MiB (glibc's largest setting) come from the heap, freed
// memory is kept for the next one unless more than 256 MiB lies unused, and every thread shares
// one heap, so that what one thread freed serves the next reply whichever thread handles it (the
// stand-in's first export on each of its workers otherwise faulted in a heap of its own).
inline void KeepFreedMemory() {
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

}  // namespace lirvo
