// One-shot timers: a stopped timer never runs, stopping the timer that the
// shared thread is waiting for leaves that thread sound, and the thread's
// start waits out a moment without threads.
#include "support/timer.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/thread_limit.h"

namespace {

using namespace std::chrono_literals;

// A guard against hangs, not a measure of speed.
constexpr auto kGuard = 20s;

// A function for a timer that says when it has run. The promise is shared so
// that it outlives the test's wait, however late the timer's task lets go.
struct Ran {
  std::shared_ptr<std::promise<void>> promise = std::make_shared<std::promise<void>>();
  std::future<void> future = promise->get_future();
  std::function<void()> fn() const {
    return [p = promise] { p->set_value(); };
  }
  bool waited() { return future.wait_for(kGuard) == std::future_status::ready; }
};

TEST(OneShotTimer, RunsOnceUnlessStoppedFirst) {
  Ran ran;
  auto fired = support::startTimer(1ms, ran.fn());
  ASSERT_TRUE(ran.waited());
  EXPECT_FALSE(fired->stop()) << "it had run already";

  std::atomic<int> stoppedRuns{0};
  auto stopped = support::startTimer(50ms, [&] { ++stoppedRuns; });
  EXPECT_TRUE(stopped->stop());
  EXPECT_FALSE(stopped->stop()) << "only the first stop keeps it from running";
  // A later timer's run shows the stopped one's time has come and gone.
  Ran later;
  auto after = support::startTimer(100ms, later.fn());
  ASSERT_TRUE(later.waited());
  EXPECT_EQ(stoppedRuns, 0);
}

// The thread waits for the earliest deadline; that timer is stopped and a
// new one wakes the thread, which must not look at the stopped one again.
TEST(OneShotTimer, StoppingTheTimerBeingWaitedForIsSafe) {
  for (int round = 0; round < 20; ++round) {
    auto far = support::startTimer(1h, [] { ADD_FAILURE() << "a stopped timer ran"; });
    // Lets the thread settle on the far deadline.
    std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(far->stop());
    Ran ran;
    auto near = support::startTimer(1ms, ran.fn());
    ASSERT_TRUE(ran.waited()) << "round " << round;
  }
}

// The first timer starts the timers' thread. Where the system gives none for
// a moment, it waits for one as a task does, rather than end the process.
TEST(OneShotTimer, TheFirstTimerWaitsForAThreadWhereNoneCanBeHadYet) {
  SKIP_UNLESS_THREADS_CAN_BE_LIMITED();
  constexpr uid_t kUser = testing_support::kThreadLimitedUsers + 10;
  EXPECT_EXIT(
      std::_Exit(testing_support::runWithThreadLimit(kUser, 8,
                                                     [] {
                                                       // Threads come free a moment later, well
                                                       // within the wait for one.
                                                       testing_support::ThreadSlots all(300ms);
                                                       if (all.takeAll() == 0) return 2;
                                                       Ran ran;
                                                       auto timer =
                                                           support::startTimer(1ms, ran.fn());
                                                       return ran.waited() ? 0 : 1;
                                                     })),
      testing::ExitedWithCode(0), testing::IsEmpty());
}

TEST(TimerTestClock, TimeMovesOnlyWhenTheTestMovesItAndEndsWithTheClock) {
  std::vector<int> ran;
  std::shared_ptr<support::OneShotTimer> left;
  {
    support::TimerTestClock clock;
    auto later = support::startTimer(500ms, [&] { ran.push_back(500); });
    auto sooner = support::startTimer(200ms, [&] { ran.push_back(200); });
    auto stopped = support::startTimer(100ms, [&] { ran.push_back(100); });
    ASSERT_TRUE(stopped->stop());
    clock.advance(499ms);
    EXPECT_EQ(ran, std::vector<int>({200}));
    clock.advance(1ms);
    EXPECT_EQ(ran, std::vector<int>({200, 500})) << "due at the very moment";
    left = support::startTimer(1ms, [&] { ran.push_back(1); });
  }
  EXPECT_FALSE(left->stop()) << "dropped with the clock";
  EXPECT_EQ(ran, std::vector<int>({200, 500}));
}

}  // namespace
