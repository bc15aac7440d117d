#include "support/memory.h"

#include <malloc.h>

// Under a sanitizer, which brings its own allocator, these calls reach only
// glibc's own few arenas, or nothing, and are harmless.

namespace support {

void setUpAllocator() {
  // Small blocks merge with their free neighbours as they are freed, so the
  // free end of an arena grows and can be cut off.
  mallopt(M_MXFAST, 0);
  // Fixed, so that an arena's free end beyond it goes back as it is freed:
  // glibc otherwise raises it after every large block it frees, up to
  // 64 MiB per arena, kept for good. Blocks from 128 KiB are mapped apart.
  mallopt(M_TRIM_THRESHOLD, 128 * 1024);
}

// malloc_trim gives back every whole free page inside the arenas, which the
// allocator never does by itself.
void releaseFreeMemory() {
  malloc_trim(0);
}

}  // namespace support
