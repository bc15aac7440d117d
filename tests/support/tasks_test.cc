// Background tasks: every task runs once, none waits behind another that
// blocks, and idle threads are reused; once a burst of tasks has settled, the
// memory they freed goes back to the system, once.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/tasks.h"
#include "support/timer.h"
#include "tests/other_user.h"
#include "tests/support/resident_memory.h"
#include "tests/thread_limit.h"

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
  bool waitFor(size_t n, std::chrono::seconds guard = kGuard) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, guard, [&] { return n_ >= n; });
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

// Where the system gives no more threads, a task waits for one that is
// done rather than end the process. Played in a child process of another
// user whose thread limit is a handful: as root the limit would not hold.
TEST(Tasks, WithoutThreadsToStartTasksWaitForOneThatIsDone) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer ends a forked child that starts threads";
#else
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user";
  // The child has only the thread that forks: a pool that has threads here
  // would have none of them there.
  if (support::taskThreads().threads != 0) GTEST_SKIP() << "needs a pool that has not started";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit few{8, 8};
    if (::setrlimit(RLIMIT_NPROC, &few) != 0 || ::setgid(testing_support::kOtherUser) != 0 ||
        ::setuid(testing_support::kOtherUser) != 0) {
      ::_exit(2);
    }
    constexpr size_t kTasks = 64;
    Count ran;
    try {
      for (size_t i = 0; i < kTasks; ++i) {
        support::runInBackground([&] {
          std::this_thread::sleep_for(1ms);
          ran.add();
        });
      }
    } catch (...) {
      ::_exit(3);  // the child never returns into the test program
    }
    ::_exit(ran.waitFor(kTasks) && support::taskThreads().threads < kTasks ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

// ---- Where the system gives no more threads ---------------------------------

// Each test's own user: the limit counts all of a user's threads at once.
constexpr uid_t kWaitingTaskUser = testing_support::kThreadLimitedUsers;
constexpr uid_t kGiveUpUser = testing_support::kThreadLimitedUsers + 1;
constexpr rlim_t kThreadLimit = 8;
// For a task that waits while another holds its thread for up to kGuard.
constexpr auto kShorterGuard = 20s;

// The tasks that hold the pool's threads never end, as the single-instance
// listener's and the host-message drain's do not: a task that had to wait
// still runs as soon as a thread can be had, with nothing else submitted.
TEST(Tasks, AWaitingTaskRunsOnceAThreadCanBeHadWithoutAnotherSubmission) {
  SKIP_UNLESS_THREADS_CAN_BE_LIMITED();
  EXPECT_EXIT(std::_Exit(testing_support::runWithThreadLimit(
                  kWaitingTaskUser, kThreadLimit,
                  [] {
                    Gate forGood;
                    support::runInBackground([&] { forGood.pass(); });
                    testing_support::ThreadSlots others;
                    others.takeAll();
                    Count ran;
                    support::runInBackground([&] { ran.add(); });  // no thread to be had
                    others.letGo();
                    const bool alone = ran.waitFor(1, kShorterGuard);
                    forGood.open();
                    return alone ? 0 : 1;
                  })),
              testing::ExitedWithCode(0), testing::IsEmpty());
}

// A task that gets no thread for seconds ends the process with one line,
// never a silent hang; so does one more waiting task than the list holds.
TEST(Tasks, WithoutAThreadToBeHadTheProcessSaysSoAndEnds) {
  SKIP_UNLESS_THREADS_CAN_BE_LIMITED();
  struct Case {
    const char* name;
    std::function<int()> run;
  };
  const Case cases[] = {
      {"no thread from the start",
       [] {
         testing_support::ThreadSlots all;
         all.takeAll();
         Count ran;
         support::runInBackground([&] { ran.add(); });
         return ran.waitFor(1) ? 2 : 3;
       }},
      {"every thread held for good",
       [] {
         Gate forGood;
         support::runInBackground([&] { forGood.pass(); });
         testing_support::ThreadSlots others;
         others.takeAll();
         Count ran;
         support::runInBackground([&] { ran.add(); });
         const bool came = ran.waitFor(1, kShorterGuard);
         forGood.open();
         return came ? 2 : 3;
       }},
      {"more tasks waiting than the list holds",
       [] {
         Gate forGood;
         support::runInBackground([&] { forGood.pass(); });
         testing_support::ThreadSlots others;
         others.takeAll();
         Count ran;
         const size_t tasks = support::kMaxWaitingTasks + 1;
         for (size_t i = 0; i < tasks; ++i) support::runInBackground([&] { ran.add(); });
         // Well within the time a task may wait: only the list's bound ends it.
         others.letGo();
         forGood.open();
         return ran.waitFor(tasks) ? 2 : 3;
       }},
  };
  const std::string line = std::string("cannot start a thread: ") + std::strerror(EAGAIN) + "\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(std::_Exit(testing_support::runWithThreadLimit(kGiveUpUser, kThreadLimit, c.run)),
                testing::ExitedWithCode(1), testing::Eq(line));
  }
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

// ---- Memory given back after a burst ----------------------------------------

// Moves the test clock on far beyond any quiet time the pool waits for, a
// second at a time: a timer that a timer's function starts is due after the
// end of the step it ran in.
void passLongTime(support::TimerTestClock& clock) {
  for (int second = 0; second < 600; ++second) clock.advance(1s);
}

bool waitForAllThreadsIdle() {
  auto until = std::chrono::steady_clock::now() + kGuard;
  for (;;) {
    support::TaskThreads t = support::taskThreads();
    if (t.idle == t.threads) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
}

// Runs `count` tasks, each a small allocation, one after another.
void runShortTasks(size_t count) {
  Count done;
  for (size_t i = 0; i < count; ++i) {
    support::runInBackground([&done, i] {
      std::vector<char> scratch(256 + i % 512);
      done.add();
    });
  }
  ASSERT_TRUE(done.waitFor(count));
}

// Runs more tasks at once than the pool has threads, so that it grows.
void runTasksThatGrowThePool() {
  const size_t count = support::taskThreads().idle + 32;
  Count arrived;
  Count done;
  Gate gate;
  for (size_t i = 0; i < count; ++i) {
    support::runInBackground([&] {
      arrived.add();
      gate.pass();
      done.add();
    });
  }
  const bool allArrived = arrived.waitFor(count);
  gate.open();
  ASSERT_TRUE(done.waitFor(count));
  ASSERT_TRUE(allArrived);
}

// Lets the pool settle and every check it armed run: releases made meanwhile
// are not the test's.
void settle(support::TimerTestClock& clock) {
  ASSERT_TRUE(waitForAllThreadsIdle());
  passLongTime(clock);
}

TEST(TaskMemory, ABurstIsGivenBackOnceWhenItHasSettledAndASmallOneNever) {
  support::TimerTestClock clock;
  settle(clock);
  struct Case {
    const char* name;
    std::function<void()> burst;
    size_t releases;
  };
  const Case cases[] = {
      {"many short tasks", [] { runShortTasks(5000); }, 1},
      {"a few short tasks", [] { runShortTasks(10); }, 0},
      {"tasks that grow the pool", runTasksThatGrowThePool, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = support::memoryReleases().made;
    c.burst();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(waitForAllThreadsIdle());
    passLongTime(clock);
    EXPECT_EQ(support::memoryReleases().made - before, c.releases);
    EXPECT_FALSE(support::memoryReleases().pending);
    // What the release itself costs the pool, its timer's task, is no burst.
    runShortTasks(1);
    ASSERT_TRUE(waitForAllThreadsIdle());
    passLongTime(clock);
    EXPECT_EQ(support::memoryReleases().made - before, c.releases) << "it armed itself again";
    EXPECT_FALSE(support::memoryReleases().pending);
  }
}

// With the real clock the release runs on a task of the pool, which must not
// count as a burst of its own.
TEST(TaskMemory, TheReleaseRunsOnItsOwnAndLeavesNothingArmed) {
  ASSERT_TRUE(waitForAllThreadsIdle());
  const size_t before = support::memoryReleases().made;
  runShortTasks(5000);
  const auto until = std::chrono::steady_clock::now() + kGuard;
  while (support::memoryReleases().made == before && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_GT(support::memoryReleases().made, before)
      << "no release within " << kGuard.count() << " s";
  ASSERT_TRUE(waitForAllThreadsIdle());
  EXPECT_FALSE(support::memoryReleases().pending);
}

// Tasks that grow the pool fill their heaps and free all but a few small
// blocks spread through them: no heap can shrink from its end, so only the
// release gives those pages back.
TEST(TaskMemory, ResidentMemoryFallsOnceABurstHasSettled) {
  if (testing_support::kSanitizerAllocator) {
    GTEST_SKIP() << "a sanitizer's allocator keeps freed memory by design: resident memory "
                    "says nothing about the release here";
  }
  constexpr size_t kBlockSize = 1024;
  constexpr size_t kAllBlocks = 64 * 1024;  // 64 MiB
  constexpr size_t kKeepEvery = 64;
  support::TimerTestClock clock;
  settle(clock);
  const size_t tasks = support::taskThreads().idle + 16;
  // Whole runs, so that each task's last block is kept too.
  const size_t blocksEach = kAllBlocks / tasks / kKeepEvery * kKeepEvery;
  const size_t start = testing_support::residentBytes();

  std::vector<std::vector<void*>> kept(tasks);
  Count allocated;
  Count done;
  Gate gate;
  for (size_t t = 0; t < tasks; ++t) {
    support::runInBackground([&, t] {
      std::vector<void*> blocks(blocksEach);
      for (void*& b : blocks) {
        b = std::malloc(kBlockSize);
        std::memset(b, 1, kBlockSize);
      }
      allocated.add();
      gate.pass();  // every task's blocks are in use at once
      for (size_t i = 0; i < blocksEach; ++i) {
        if (i % kKeepEvery == kKeepEvery - 1) {
          kept[t].push_back(blocks[i]);
        } else {
          std::free(blocks[i]);
        }
      }
      done.add();
    });
  }
  const bool allAllocated = allocated.waitFor(tasks);
  gate.open();
  ASSERT_TRUE(done.waitFor(tasks));
  ASSERT_TRUE(allAllocated);
  ASSERT_TRUE(waitForAllThreadsIdle());
  const size_t afterBurst = testing_support::residentBytes();
  passLongTime(clock);
  const size_t settled = testing_support::residentBytes();
  for (auto& blocks : kept) {
    for (void* b : blocks) std::free(b);
  }

  using testing_support::kMiB;
  const size_t left = afterBurst > start ? afterBurst - start : 0;
  // The burst used 64 MiB and kept 1 MiB of it.
  ASSERT_GE(left, 32 * kMiB) << "the burst left too little behind to show a release";
  EXPECT_LE(settled, start + left / 2)
      << "resident MiB: " << start / kMiB << " before, " << afterBurst / kMiB
      << " after the burst, " << settled / kMiB << " once it settled";
}

}  // namespace
