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

// For tests: while one exists, the time of every timer moves only when a
// test moves it, and no timer runs by itself.
class TimerTestClock {
 public:
  // Any timer function already running has returned when this does.
  TimerTestClock();
  // Every timer still pending is dropped, never to run; when no other clock
  // is left, time is the system's again. A test thus ends its timers before
  // it removes what they would touch.
  ~TimerTestClock();
  TimerTestClock(const TimerTestClock&) = delete;
  TimerTestClock& operator=(const TimerTestClock&) = delete;

  // Moves time on by `by` and runs every timer that comes due meanwhile, on
  // this thread, in the order of their deadlines, each to its end.
  void advance(std::chrono::milliseconds by);
};

}  // namespace support
