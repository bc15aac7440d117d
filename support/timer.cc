#include "support/timer.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "support/tasks.h"
#include "support/thread_start.h"

namespace support {

using Clock = std::chrono::steady_clock;

struct OneShotTimer::State {
  std::function<void()> fn;
  std::multimap<Clock::time_point, std::shared_ptr<State>>::iterator entry;
  bool pending = true;
};

namespace {

class TimerThread {
 public:
  std::shared_ptr<OneShotTimer::State> add(std::chrono::milliseconds delay,
                                           std::function<void()> fn) {
    auto state = std::make_shared<OneShotTimer::State>();
    state->fn = std::move(fn);
    bool first = false;
    {
      std::lock_guard lock(mu_);
      state->entry = due_.emplace(now() + delay, state);
      first = !started_;
      started_ = true;
      changed_.notify_one();
    }
    if (first) startLoop();
    return state;
  }

  bool stop(OneShotTimer::State& state) {
    std::function<void()> dropped;
    {
      std::lock_guard lock(mu_);
      if (!state.pending) return false;
      state.pending = false;
      dropped = std::move(state.fn);
      due_.erase(state.entry);
    }
    return true;  // what the function captured goes outside the lock
  }

  // ---- A test's clock (TimerTestClock) ----

  void hold() {
    std::unique_lock lock(mu_);
    if (holders_++ == 0) heldAt_ = Clock::now();
    settled_.wait(lock, [this] { return running_ == 0; });
  }

  void release() {
    std::vector<std::function<void()>> dropped;
    {
      std::lock_guard lock(mu_);
      for (auto& [due, state] : due_) {
        state->pending = false;
        dropped.push_back(std::move(state->fn));
      }
      due_.clear();
      if (--holders_ == 0) {
        heldAt_.reset();
        changed_.notify_one();
      }
    }
  }

  void advance(std::chrono::milliseconds by) {
    std::unique_lock lock(mu_);
    *heldAt_ += by;
    for (;;) {
      auto next = due_.begin();
      if (next == due_.end() || *heldAt_ < next->first) return;
      std::function<void()> fn = take(next);
      lock.unlock();
      fn();
      fn = nullptr;  // what it captured goes outside the lock too
      lock.lock();
    }
  }

 private:
  // The time now, as the test holds it or as the clock says; under `mu_`.
  Clock::time_point now() const { return heldAt_.value_or(Clock::now()); }

  std::function<void()> take(
      std::multimap<Clock::time_point, std::shared_ptr<OneShotTimer::State>>::iterator entry) {
    std::shared_ptr<OneShotTimer::State> state = std::move(entry->second);
    due_.erase(entry);
    state->pending = false;
    return std::move(state->fn);
  }

  void startLoop() {
    if (support::startThread([this] { run(); })) return;
    // The system gives no thread now: the loop waits for one as a task does,
    // and the process ends if none comes (support/tasks.h). It then holds
    // that thread of the pool for good.
    runInBackground([this] { run(); });
  }

  void run() {
    std::unique_lock lock(mu_);
    for (;;) {
      // A test that holds the time runs the timers itself.
      if (due_.empty() || heldAt_) {
        changed_.wait(lock);
        continue;
      }
      auto next = due_.begin();
      if (Clock::now() < next->first) {
        // A copy: the wait reads the time again after waking, when a stop may
        // have erased the entry it came from.
        const Clock::time_point due = next->first;
        changed_.wait_until(lock, due);
        continue;
      }
      ++running_;
      runInBackground([this, fn = take(next)]() mutable {
        fn();
        fn = nullptr;
        std::lock_guard done(mu_);
        if (--running_ == 0) settled_.notify_all();
      });
    }
  }

  std::mutex mu_;
  std::condition_variable changed_;
  std::multimap<Clock::time_point, std::shared_ptr<OneShotTimer::State>> due_;
  bool started_ = false;
  // Functions handed to background tasks that have not returned yet.
  int running_ = 0;
  std::condition_variable settled_;
  // Set while a test holds the time, by as many clocks as `holders_`.
  std::optional<Clock::time_point> heldAt_;
  int holders_ = 0;
};

// Never destroyed: timers may still be pending while the process exits.
TimerThread& timerThread() {
  static TimerThread* t = new TimerThread;
  return *t;
}

}  // namespace

bool OneShotTimer::stop() {
  return timerThread().stop(*state_);
}

std::shared_ptr<OneShotTimer> startTimer(std::chrono::milliseconds delay,
                                         std::function<void()> fn) {
  return std::make_shared<OneShotTimer>(timerThread().add(delay, std::move(fn)));
}

TimerTestClock::TimerTestClock() {
  timerThread().hold();
}

TimerTestClock::~TimerTestClock() {
  timerThread().release();
}

void TimerTestClock::advance(std::chrono::milliseconds by) {
  timerThread().advance(by);
}

}  // namespace support
