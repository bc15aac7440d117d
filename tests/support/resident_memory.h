// The test process's resident memory, for tests of what the allocator gives
// back to the system.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <sstream>

#include "tests/test_support.h"

namespace testing_support {

// Whether a sanitizer replaces the allocator: it keeps freed memory by
// design, so resident memory says nothing about glibc's then.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizerAllocator = true;
#else
inline constexpr bool kSanitizerAllocator = false;
#endif
#else
inline constexpr bool kSanitizerAllocator = false;
#endif

inline constexpr size_t kMiB = size_t{1} << 20;

// Resident bytes of this process.
inline size_t residentBytes() {
  std::istringstream statm(readAll("/proc/self/statm"));
  size_t pages = 0;
  size_t resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace testing_support
