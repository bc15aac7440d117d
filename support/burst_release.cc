#include "support/burst_release.h"

#include "support/memory.h"
#include "support/timer.h"

namespace support {
namespace {

using namespace std::chrono_literals;

// A burst: this many tasks, or this many threads started, since the last
// release. Fewer leave too little behind to be worth a release.
constexpr uint64_t kManyTasks = 1000;
constexpr uint64_t kGrownThreads = 16;
// The pool is quiet when fewer tasks than this ran in one period.
constexpr std::chrono::milliseconds kQuietPeriod = 2s;
constexpr uint64_t kQuietTasks = 100;

}  // namespace

// The one timer that waits for the burst to settle; when it goes, whether it
// ran to the release or a test's clock dropped it, another may be armed.
struct BurstRelease::Pending {
  BurstRelease& owner;
  uint64_t doneAtCheck;
  int quietChecks = 0;
  Pending(BurstRelease& o, uint64_t done) : owner(o), doneAtCheck(done) {}
  ~Pending() { owner.pending_.store(false, std::memory_order_release); }
};

BurstRelease::BurstRelease(std::chrono::milliseconds threadLifetime)
    : quietChecks_(static_cast<int>(threadLifetime / kQuietPeriod) + 1) {}

void BurstRelease::taskDone() {
  const uint64_t done = done_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (pending_.load(std::memory_order_relaxed)) return;
  const bool manyTasks = done - doneAtRelease_.load(std::memory_order_relaxed) >= kManyTasks;
  const bool grew = started_.load(std::memory_order_relaxed) -
                        startedAtRelease_.load(std::memory_order_relaxed) >=
                    kGrownThreads;
  if (!manyTasks && !grew) return;
  if (pending_.exchange(true, std::memory_order_acq_rel)) return;
  arm(std::make_shared<Pending>(*this, done));
}

MemoryReleases BurstRelease::counts() const {
  return {made_.load(std::memory_order_acquire), pending_.load(std::memory_order_acquire)};
}

void BurstRelease::arm(std::shared_ptr<Pending> pending) {
  // The pool, and so this, is never destroyed.
  startTimer(kQuietPeriod, [this, pending = std::move(pending)] { check(pending); });
}

void BurstRelease::check(const std::shared_ptr<Pending>& pending) {
  const uint64_t done = done_.load(std::memory_order_relaxed);
  const bool quiet = done - pending->doneAtCheck < kQuietTasks;
  pending->quietChecks = quiet ? pending->quietChecks + 1 : 0;
  pending->doneAtCheck = done;
  if (pending->quietChecks < quietChecks_) {
    arm(pending);
    return;
  }
  // Set first: tasks that run during the release count toward the next burst.
  doneAtRelease_.store(done, std::memory_order_relaxed);
  startedAtRelease_.store(started_.load(std::memory_order_relaxed), std::memory_order_relaxed);
  releaseFreeMemory();
  made_.fetch_add(1, std::memory_order_release);
}

}  // namespace support
