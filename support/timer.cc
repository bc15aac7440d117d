#include "support/timer.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "support/tasks.h"

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
  std::shared_ptr<OneShotTimer::State> add(Clock::time_point due, std::function<void()> fn) {
    auto state = std::make_shared<OneShotTimer::State>();
    state->fn = std::move(fn);
    std::lock_guard lock(mu_);
    state->entry = due_.emplace(due, state);
    if (!started_) {
      started_ = true;
      std::thread([this] { run(); }).detach();
    }
    changed_.notify_one();
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

 private:
  void run() {
    std::unique_lock lock(mu_);
    for (;;) {
      if (due_.empty()) {
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
      std::shared_ptr<OneShotTimer::State> state = std::move(next->second);
      due_.erase(next);
      state->pending = false;
      runInBackground(std::move(state->fn));
    }
  }

  std::mutex mu_;
  std::condition_variable changed_;
  std::multimap<Clock::time_point, std::shared_ptr<OneShotTimer::State>> due_;
  bool started_ = false;
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
  auto state = timerThread().add(Clock::now() + delay, std::move(fn));
  return std::make_shared<OneShotTimer>(std::move(state));
}

}  // namespace support
