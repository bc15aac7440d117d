#include "support/burst_release.h"

#include <algorithm>

#include "support/memory.h"
#include "support/timer.h"

namespace support {
namespace {

using namespace std::chrono_literals;

// A burst: this many tasks, or this many threads started, since the last
// release. Fewer leave too little behind to be worth a release.
constexpr uint64_t kManyTasks = 1000;
constexpr uint64_t kGrownThreads = 16;
constexpr std::chrono::milliseconds kPeriod = 2s;
// A period is calm when fewer tasks than this ran in it, or fewer than this
// share of the burst's busiest period: a page that still asks a few dozen
// times a second leaves nothing a release would give back.
constexpr uint64_t kQuietTasks = 100;
constexpr uint64_t kFarBelow = 10;

}  // namespace

// The one timer that waits for the burst to be over; when it goes, whether it
// ran to the release or a test's clock dropped it, another may be armed.
struct BurstRelease::Pending {
  BurstRelease& owner;
  uint64_t doneAtCheck;
  uint64_t busiest = 0;  // the most tasks that ran in one period
  int calmChecks = 0;    // in a row, and the tasks that ran in them
  uint64_t ranWhileCalm = 0;
  Pending(BurstRelease& o, uint64_t done) : owner(o), doneAtCheck(done) {}
  ~Pending() { owner.pending_.store(false, std::memory_order_release); }
};

BurstRelease::BurstRelease(std::chrono::milliseconds threadLifetime)
    : calmChecks_(static_cast<int>(threadLifetime / kPeriod) + 1) {}

void BurstRelease::taskDone() {
  const uint64_t done = done_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (pending_.load(std::memory_order_relaxed)) return;
  const uint64_t doneAtRelease = doneAtRelease_.load(std::memory_order_relaxed);
  const bool manyTasks = done - doneAtRelease >= kManyTasks;
  const bool grew = started_.load(std::memory_order_relaxed) -
                        startedAtRelease_.load(std::memory_order_relaxed) >=
                    kGrownThreads;
  if (!manyTasks && !grew) return;
  if (pending_.exchange(true, std::memory_order_acq_rel)) return;
  // The first period counts the burst from its start.
  arm(std::make_shared<Pending>(*this, doneAtRelease));
}

MemoryReleases BurstRelease::counts() const {
  return {made_.load(std::memory_order_acquire), pending_.load(std::memory_order_acquire)};
}

void BurstRelease::arm(std::shared_ptr<Pending> pending) {
  // The pool, and so this, is never destroyed.
  startTimer(kPeriod, [this, pending = std::move(pending)] { check(pending); });
}

void BurstRelease::check(const std::shared_ptr<Pending>& pending) {
  const uint64_t done = done_.load(std::memory_order_relaxed);
  const uint64_t ran = done - pending->doneAtCheck;
  pending->busiest = std::max(pending->busiest, ran);
  const bool calm = ran < std::max(kQuietTasks, pending->busiest / kFarBelow);
  pending->calmChecks = calm ? pending->calmChecks + 1 : 0;
  pending->ranWhileCalm = calm ? pending->ranWhileCalm + ran : 0;
  pending->doneAtCheck = done;
  // Requests that still come let go, as they come, of what the application
  // kept for a while after the burst (the ids it holds for late copies):
  // while they come, the release waits as long again, to give that back too.
  const int needed = pending->ranWhileCalm >= kQuietTasks ? 2 * calmChecks_ : calmChecks_;
  if (pending->calmChecks < needed) {
    arm(pending);
    return;
  }
  // Set first: tasks that run during the release count toward the next burst.
  doneAtRelease_.store(done, std::memory_order_relaxed);
  startedAtRelease_.store(started_.load(std::memory_order_relaxed), std::memory_order_relaxed);
  // It takes each arena's lock in turn for a moment; a trickle of tasks meanwhile waits that
  // long, once per burst.
  releaseFreeMemory();
  made_.fetch_add(1, std::memory_order_release);
}

}  // namespace support
