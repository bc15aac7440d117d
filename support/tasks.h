// Background tasks. Each task runs concurrently with its caller and with
// every other task, and may block for as long as it likes: the pool behind
// them reuses idle threads and starts a new one whenever all are busy, so no
// task ever waits behind another.
//
// Where the system gives no more threads, a task waits on a bounded list for
// the next thread to be had: one that finishes its task, or one the pool
// starts on a short back-off. A task either starts within a few seconds, or
// the process says "cannot start a thread: <reason>" (support/fatal.h) and
// ends with status 1: it can never wait for ever, however long the tasks
// that hold the threads run. Submitting never blocks, unless the process
// could not even start the thread that retries; then the caller retries
// until the task has a thread or the process ends.
//
// Once a burst of tasks is over, the memory they freed is given back to the
// system (support/burst_release.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace support {

// Runs `task` on a thread of the process's pool and returns at once.
void runInBackground(std::function<void()> task);

// How long a task may wait for a thread before the process ends.
inline constexpr std::chrono::seconds kLongestWaitForThread{5};
// How many tasks may wait for a thread at once: one more ends the process at
// once, as a process that gets no threads cannot catch up with them.
inline constexpr size_t kMaxWaitingTasks = size_t{1} << 16;

// The pool's threads right now, and how many of them have no task.
struct TaskThreads {
  size_t threads = 0;
  size_t idle = 0;
};
TaskThreads taskThreads();

// How often the pool has given the memory its tasks freed back to the system,
// and whether it is waiting for a burst to be over to do so again.
struct MemoryReleases {
  size_t made = 0;
  bool pending = false;
};
MemoryReleases memoryReleases();

}  // namespace support
