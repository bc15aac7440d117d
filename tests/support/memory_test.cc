// The allocator as the process sets it up: what a thread frees goes back to
// the system as it is freed, small blocks too, and after a large block came
// and went too.
#include "support/memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/resident_memory.h"

namespace {

using testing_support::kMiB;
using testing_support::residentBytes;

constexpr size_t kUsed = 24 * kMiB;
constexpr size_t kLargeBlock = 16 * kMiB;

void* volatile keep;

struct Footprint {
  size_t start = 0;
  size_t inUse = 0;
  size_t freed = 0;
};

// On a thread of its own, and so in an arena of its own: blocks taken from
// the arena's end, all in use at once, then all freed.
Footprint useAndFree(size_t blockSize, bool largeBlockFirst) {
  Footprint f;
  f.start = residentBytes();
  std::thread([&] {
    if (largeBlockFirst) {
      void* large = std::malloc(kLargeBlock);
      keep = large;  // or the compiler may leave the block out
      std::memset(large, 1, kLargeBlock);
      std::free(large);
    }
    std::vector<void*> blocks(kUsed / blockSize);
    for (void*& b : blocks) {
      b = std::malloc(blockSize);
      std::memset(b, 1, blockSize);
    }
    f.inUse = residentBytes();
    for (void* b : blocks) std::free(b);
  }).join();
  f.freed = residentBytes();
  return f;
}

TEST(Allocator, WhatAThreadFreesGoesBackAsItIsFreed) {
  if (testing_support::kSanitizerAllocator) {
    GTEST_SKIP() << "a sanitizer's allocator keeps freed memory by design: resident memory "
                    "says nothing about glibc's here";
  }
  support::setUpAllocator();
  struct Case {
    const char* name;
    size_t blockSize;
    bool largeBlockFirst;
  };
  const Case cases[] = {
      // glibc keeps these apart, unmerged, in its "fast bins" by default.
      {"small blocks", 48, false},
      // By default a freed large block lets the arena keep twice its size
      // of free end.
      {"larger blocks after a large one", 512, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Footprint f = useAndFree(c.blockSize, c.largeBlockFirst);
    const size_t used = f.inUse > f.start ? f.inUse - f.start : 0;
    ASSERT_GE(used, kUsed / 2) << "the blocks were not resident: nothing to show";
    EXPECT_LE(f.freed, f.start + used / 4)
        << "resident MiB: " << f.start / kMiB << " before, " << f.inUse / kMiB << " in use, "
        << f.freed / kMiB << " once freed";
  }
}

}  // namespace
