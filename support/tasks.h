// Background tasks. Each task runs concurrently with its caller and with
// every other task, and may block for as long as it likes: the pool behind
// them reuses idle threads and starts a new one whenever all are busy, so no
// task ever waits behind another. Only where the system gives no more
// threads does a task wait, for the next thread that finishes one. Once a
// burst of tasks has settled, the memory they freed is given back to the
// system (support/burst_release.h).
#pragma once

#include <cstddef>
#include <functional>

namespace support {

// Runs `task` on a thread of the process's pool and returns at once.
void runInBackground(std::function<void()> task);

// The pool's threads right now, and how many of them have no task.
struct TaskThreads {
  size_t threads = 0;
  size_t idle = 0;
};
TaskThreads taskThreads();

// How often the pool has given the memory its tasks freed back to the system,
// and whether it is waiting for a burst to settle to do so again.
struct MemoryReleases {
  size_t made = 0;
  bool pending = false;
};
MemoryReleases memoryReleases();

}  // namespace support
