// One-shot timers. Every timer of the process shares one thread that waits
// for the next deadline; a timer that comes due runs its function as a
// background task (support/tasks.h), so a slow function holds up no other
// timer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace support {

class OneShotTimer {
 public:
  // Keeps the function from running if it has not started yet; true when it
  // did so. A function that has already started runs to its end.
  bool stop();

  struct State;
  explicit OneShotTimer(std::shared_ptr<State> state) : state_(std::move(state)) {}

 private:
  std::shared_ptr<State> state_;
};

// Runs `fn` once, `delay` from now, unless the timer is stopped first.
std::shared_ptr<OneShotTimer> startTimer(std::chrono::milliseconds delay, std::function<void()> fn);

}  // namespace support
