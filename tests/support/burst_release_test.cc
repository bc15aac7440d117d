// The release of a burst's memory, played on the pool's reports and the test
// clock: it comes once the burst is over, even while a trickle of tasks goes
// on, and however the burst's last tasks end it is armed once.
#include "support/burst_release.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "support/timer.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kThreadLifetime = 10s;
// Far more tasks than make a burst.
constexpr uint64_t kBurstTasks = 100000;

void tasksDone(support::BurstRelease& release, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) release.taskDone();
}

// The memory that requests let go of as they come, what the application
// kept for a while after the burst, goes back too: with requests still
// coming, the release waits for twice the time that makes a burst over.
TEST(BurstRelease, ABurstIsGivenBackOnceItIsOverWhileATrickleGoesOn) {
  struct Case {
    const char* name;
    uint64_t perSecond;
    int earliestSecond;  // after the burst
  };
  const Case cases[] = {
      {"a quiet pool", 0, 10},
      {"a page that asks a few times a second", 5, 10},
      {"a page that asks a few dozen times a second", 80, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Its timers go with the clock, before it.
    support::BurstRelease release(kThreadLifetime);
    support::TimerTestClock clock;
    for (int t = 0; t < 64; ++t) release.threadStarted();
    tasksDone(release, kBurstTasks);
    EXPECT_TRUE(release.counts().pending);
    int releasedAt = -1;
    for (int second = 1; second <= 60; ++second) {
      tasksDone(release, c.perSecond);
      clock.advance(1s);
      if (releasedAt < 0 && release.counts().made > 0) releasedAt = second;
    }
    EXPECT_EQ(release.counts().made, 1u) << "within a minute after the burst";
    EXPECT_GE(releasedAt, c.earliestSecond);
  }
}

// How many tasks make a burst: those after which the release is armed.
uint64_t tasksThatMakeABurst() {
  support::BurstRelease release(kThreadLifetime);
  support::TimerTestClock clock;
  uint64_t count = 0;
  while (!release.counts().pending && count < kBurstTasks) {
    release.taskDone();
    ++count;
  }
  return count;
}

// The burst's last tasks end on many threads at the same moment; each of
// them may see the burst, and only one may arm the release.
TEST(BurstRelease, TasksThatFinishTogetherArmOneRelease) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 300;
  const uint64_t burst = tasksThatMakeABurst();
  ASSERT_LT(burst, kBurstTasks);
  // Watching without sleeping, so that they go at the same moment.
  std::atomic<int> round{0};
  std::atomic<int> finished{0};
  std::unique_ptr<support::BurstRelease> release;
  std::vector<std::thread> finishing;
  for (int t = 0; t < kThreads; ++t) {
    finishing.emplace_back([&] {
      for (int r = 1; r <= kRounds; ++r) {
        while (round.load(std::memory_order_acquire) < r) std::this_thread::yield();
        release->taskDone();
        finished.fetch_add(1, std::memory_order_acq_rel);
      }
    });
  }
  size_t armedTwice = 0;
  for (int r = 1; r <= kRounds; ++r) {
    release = std::make_unique<support::BurstRelease>(kThreadLifetime);
    {
      support::TimerTestClock clock;
      tasksDone(*release, burst - 1);
      round.store(r, std::memory_order_release);
      while (finished.load(std::memory_order_acquire) < r * kThreads) std::this_thread::yield();
      for (int second = 0; second < 60; ++second) clock.advance(1s);
      if (release->counts().made != 1) ++armedTwice;
    }
  }
  for (std::thread& t : finishing) t.join();
  EXPECT_EQ(armedTwice, 0u) << "of " << kRounds << " rounds";
}

}  // namespace
