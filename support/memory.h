// The process's allocator, where it is specific to the platform.
#pragma once

namespace support {

// Sets the allocator up so that what a burst of work frees can go back to the
// system: by default glibc keeps small freed blocks apart, unmerged, and lets
// each thread's arena keep an ever larger unused end. Call it once, first
// thing in main, before any thread starts.
void setUpAllocator();

// Hands the memory that the program has freed but the allocator still keeps
// back to the system, so that resident memory falls to what is in use. It
// may take milliseconds on a large heap: call it when the process is quiet,
// never on a path that answers someone.
void releaseFreeMemory();

}  // namespace support
