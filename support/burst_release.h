// Gives the memory that a burst of background tasks freed back to the system
// once the burst is over. The allocator keeps what every pool thread's arena
// once held, so a page that was busy for a moment would otherwise leave the
// process hundreds of megabytes larger for good.
//
// The pool's threads report to it with relaxed counters; nothing of it runs
// on the caller's side of runInBackground. After a burst (many tasks, or many
// new threads, since the last release) it arms one timer, which looks every
// period at how many tasks ran meanwhile. The burst is over once the periods
// have stayed far below its busiest one, or quiet, for longer than an idle
// thread lives: a steady trickle of requests may go on, but the burst's
// surplus threads have ended and handed their caches back. It releases then,
// or, while requests still trickle in, as long again later, once, and arms
// nothing more. The timer's own tasks are far too few to count as a burst, so
// a release never calls up another.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "support/tasks.h"

namespace support {

class BurstRelease {
 public:
  // `threadLifetime`: how long an idle pool thread waits before it ends.
  explicit BurstRelease(std::chrono::milliseconds threadLifetime);

  // A pool thread has started.
  void threadStarted() { started_.fetch_add(1, std::memory_order_relaxed); }
  // A pool thread has finished a task.
  void taskDone();
  MemoryReleases counts() const;

 private:
  struct Pending;
  void arm(std::shared_ptr<Pending> pending);
  void check(const std::shared_ptr<Pending>& pending);

  const int calmChecks_;  // calm periods in a row before the release
  std::atomic<uint64_t> started_{0};
  std::atomic<uint64_t> done_{0};
  // The totals at the last release.
  std::atomic<uint64_t> startedAtRelease_{0};
  std::atomic<uint64_t> doneAtRelease_{0};
  // While a Pending lives: at most one timer is ever waiting.
  std::atomic<bool> pending_{false};
  std::atomic<size_t> made_{0};
};

}  // namespace support
