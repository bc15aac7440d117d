// Background tasks: every task runs once, none waits behind another that
// blocks, and idle threads are reused.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/tasks.h"

namespace {

using namespace std::chrono_literals;

// Generous: a loaded machine may be slow, but a broken pool never gets there.
constexpr auto kGuard = 60s;

// A counter that tasks raise and the test waits on.
class Count {
 public:
  void add() {
    std::lock_guard lock(mu_);
    ++n_;
    changed_.notify_all();
  }
  bool waitFor(size_t n) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, kGuard, [&] { return n_ >= n; });
  }
  size_t value() {
    std::lock_guard lock(mu_);
    return n_;
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  size_t n_ = 0;
};

// A gate that blocked tasks wait at until the test opens it.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mu_);
    open_ = true;
    changed_.notify_all();
  }
  bool pass() {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, kGuard, [&] { return open_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  bool open_ = false;
};

bool waitForIdleThread() {
  auto until = std::chrono::steady_clock::now() + kGuard;
  while (support::taskThreads().idle == 0) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(Tasks, EveryTaskRunsExactlyOnceWhileManyThreadsSubmit) {
  constexpr size_t kSubmitters = 8;
  constexpr size_t kEach = 2000;
  std::vector<std::atomic<int>> runs(kSubmitters * kEach);
  Count done;
  std::vector<std::thread> submitters;
  for (size_t s = 0; s < kSubmitters; ++s) {
    submitters.emplace_back([&, s] {
      for (size_t i = 0; i < kEach; ++i) {
        support::runInBackground([&, slot = s * kEach + i] {
          runs[slot].fetch_add(1);
          done.add();
        });
      }
    });
  }
  for (std::thread& t : submitters) t.join();
  ASSERT_TRUE(done.waitFor(runs.size())) << done.value() << " of " << runs.size() << " ran";
  for (size_t slot = 0; slot < runs.size(); ++slot) {
    ASSERT_EQ(runs[slot].load(), 1) << "task " << slot;
  }
}

// Each task is blocked until all of them are running at once: only a pool
// that grows whenever every thread is busy gets them all there.
TEST(Tasks, BlockedTasksAllRunAtTheSameTime) {
  constexpr size_t kTasks = 64;
  Count arrived;
  Count finished;
  Gate gate;
  std::atomic<int> timedOut{0};
  for (size_t i = 0; i < kTasks; ++i) {
    support::runInBackground([&] {
      arrived.add();
      if (!gate.pass()) timedOut.fetch_add(1);
      finished.add();
    });
  }
  bool allArrived = arrived.waitFor(kTasks);
  EXPECT_GE(support::taskThreads().threads, kTasks);
  gate.open();
  ASSERT_TRUE(finished.waitFor(kTasks));
  EXPECT_TRUE(allArrived) << arrived.value() << " of " << kTasks << " were running";
  EXPECT_EQ(timedOut.load(), 0);
}

// A task that waits for one it started itself, many levels deep: with threads
// that were all busy the inner task would never start.
struct Chain {
  static constexpr int kDepth = 32;
  Count finished;
  // Runs one level: starts the next and waits for it to end.
  static void level(const std::shared_ptr<Chain>& chain, int depth) {
    if (depth < kDepth) {
      auto inner = std::make_shared<Gate>();
      support::runInBackground([chain, inner, depth] {
        level(chain, depth + 1);
        inner->open();
      });
      inner->pass();
    }
    chain->finished.add();
  }
};

TEST(Tasks, ATaskCanWaitForATaskItStarted) {
  auto chain = std::make_shared<Chain>();
  support::runInBackground([chain] { Chain::level(chain, 1); });
  EXPECT_TRUE(chain->finished.waitFor(Chain::kDepth))
      << chain->finished.value() << " of " << Chain::kDepth << " levels ended";
}

TEST(Tasks, ALaterTaskIsNotHeldBackByABlockedOne) {
  Gate blocker;
  Count started;
  Count later;
  support::runInBackground([&] {
    started.add();
    blocker.pass();
    started.add();
  });
  ASSERT_TRUE(started.waitFor(1));
  support::runInBackground([&] { later.add(); });
  bool ran = later.waitFor(1);
  blocker.open();
  ASSERT_TRUE(started.waitFor(2));
  EXPECT_TRUE(ran);
}

TEST(Tasks, AnIdleThreadIsReusedRatherThanANewOneStarted) {
  Count done;
  support::runInBackground([&] { done.add(); });
  ASSERT_TRUE(done.waitFor(1));
  ASSERT_TRUE(waitForIdleThread());
  const size_t before = support::taskThreads().threads;
  size_t most = before;
  for (size_t i = 2; i <= 200; ++i) {
    ASSERT_TRUE(waitForIdleThread());
    support::runInBackground([&] { done.add(); });
    ASSERT_TRUE(done.waitFor(i));
    most = std::max(most, support::taskThreads().threads);
  }
  // Threads idle for long may end meanwhile, but none is started.
  EXPECT_LE(most, before);
}

}  // namespace
