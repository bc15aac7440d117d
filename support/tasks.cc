#include "support/tasks.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/burst_release.h"
#include "support/fatal.h"
#include "support/thread_start.h"

namespace support {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A thread that found nothing to do for this long ends.
constexpr auto kIdleLifetime = 10s;
// A thread that has just finished a task watches for the next one this long
// before it goes to sleep: under a stream of short tasks the next one usually
// comes first, and handing it over then costs no wake-up.
constexpr auto kWatchTime = 50us;
// More threads watching at once would only take processors from the tasks.
constexpr int kMaxWatching = 2;
// The back-off between tries to start a thread for a waiting task: a thread
// of the process that ends is soon seen, and a system that refuses costs
// little.
constexpr auto kFirstRetry = 1ms;
constexpr auto kLongestRetry = 100ms;

// One thread of the pool. A task is handed to one idle thread of its own, so
// it never waits behind another task, however long that one takes.
struct Worker {
  enum State { kWatching, kSleeping, kHanded };
  std::atomic<int> state{kWatching};
  std::function<void()> task;  // written by the hand-over, before kHanded
  std::mutex mu;               // for sleeping only
  std::condition_variable handed;
};

// A task for which no thread could be started, and since when.
struct Waiting {
  std::function<void()> task;
  Clock::time_point since;
};

class Pool {
 public:
  void submit(std::function<void()> task) {
    std::unique_lock lock(mu_);
    if (idle_.empty()) {
      // In line behind the tasks already waiting for a thread.
      if (!waiting_.empty()) {
        waitForThread(std::move(task), lock);
        return;
      }
      // The thread that retries for waiting tasks comes first, while threads
      // can still be had: once they cannot, nothing else would retry.
      if (!retrying_) retrying_ = startRetrier().ok();
      ++threads_;
      lock.unlock();
      std::shared_ptr<Worker> worker = workerFor(std::move(task));
      Status started = startWorker(worker);
      if (started) return;
      task = std::move(worker->task);
      lock.lock();
      --threads_;
      if (idle_.empty()) {
        refusal_ = started.error().message;
        waitForThread(std::move(task), lock);
        return;
      }
    }
    handToIdle(std::move(task), lock);
  }

  TaskThreads counts() {
    std::lock_guard lock(mu_);
    return {threads_, idle_.size()};
  }

  MemoryReleases releases() const { return release_.counts(); }

 private:
  void work(const std::shared_ptr<Worker>& self) {
    release_.threadStarted();
    for (;;) {
      std::function<void()> task = std::move(self->task);
      self->task = nullptr;
      task();
      task = nullptr;  // what it captured goes before the thread waits again
      // Before the thread counts as idle: a pool seen all idle has noted
      // every task it ran.
      release_.taskDone();
      {
        std::lock_guard lock(mu_);
        if (!waiting_.empty()) {
          self->task = std::move(waiting_.front().task);
          waiting_.pop_front();
          continue;
        }
        self->state.store(Worker::kWatching, std::memory_order_relaxed);
        idle_.push_back(self);
      }
      if (!watch(*self) && !sleep(self)) return;
    }
  }

  // Watches for a hand-over without sleeping for a short while; true when a
  // task came.
  bool watch(Worker& self) {
    bool handed = false;
    if (watching_.fetch_add(1, std::memory_order_relaxed) < kMaxWatching) {
      const auto until = Clock::now() + kWatchTime;
      while (!(handed = self.state.load(std::memory_order_acquire) == Worker::kHanded) &&
             Clock::now() < until) {
        std::this_thread::yield();
      }
    }
    watching_.fetch_sub(1, std::memory_order_relaxed);
    return handed;
  }

  // Sleeps until a task is handed over; false when none came for the idle
  // lifetime and the thread is to end.
  bool sleep(const std::shared_ptr<Worker>& self) {
    std::unique_lock sleeping(self->mu);
    int watching = Worker::kWatching;
    if (!self->state.compare_exchange_strong(watching, Worker::kSleeping,
                                             std::memory_order_acq_rel)) {
      return true;  // handed over meanwhile
    }
    auto handed = [&] { return self->state.load(std::memory_order_acquire) == Worker::kHanded; };
    if (self->handed.wait_for(sleeping, kIdleLifetime, handed)) return true;
    {
      std::lock_guard lock(mu_);
      for (auto it = idle_.begin(); it != idle_.end(); ++it) {
        if (*it == self) {
          idle_.erase(it);
          --threads_;
          return false;
        }
      }
    }
    // A hand-over took this thread just as its time ran out; the task is on
    // its way.
    self->handed.wait(sleeping, handed);
    return true;
  }

  // Under `lock`, which it lets go: hands `task` to the thread idle for the
  // shortest time, the one most likely watching.
  void handToIdle(std::function<void()> task, std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<Worker> worker = std::move(idle_.back());
    idle_.pop_back();
    lock.unlock();
    worker->task = std::move(task);
    if (worker->state.exchange(Worker::kHanded, std::memory_order_acq_rel) == Worker::kSleeping) {
      std::lock_guard sleeping(worker->mu);
      worker->handed.notify_one();
    }
  }

  static std::shared_ptr<Worker> workerFor(std::function<void()> task) {
    auto worker = std::make_shared<Worker>();
    worker->task = std::move(task);
    worker->state.store(Worker::kHanded, std::memory_order_relaxed);
    return worker;
  }

  // Refused, the worker keeps its task.
  Status startWorker(const std::shared_ptr<Worker>& worker) {
    return startThread([this, worker] { work(worker); });
  }

  Status startRetrier() {
    return startThread([this] {
      std::unique_lock lock(mu_);
      retryWaiting(lock, true);
    });
  }

  // Under `lock`: the system gives no thread for `task`, which waits for the
  // next one to be had.
  void waitForThread(std::function<void()> task, std::unique_lock<std::mutex>& lock) {
    if (waiting_.size() >= kMaxWaitingTasks) giveUp(lock);
    waiting_.push_back({std::move(task), Clock::now()});
    if (!retrying_) retrying_ = startRetrier().ok();
    if (retrying_) {
      if (waiting_.size() == 1) retry_.notify_all();
      return;
    }
    // Nobody else could start a thread later: this caller does.
    retryWaiting(lock, false);
  }

  // Under `lock`: starts threads for the waiting tasks, oldest first, as soon
  // as the system gives them. The retrier does so for good; a caller only
  // until no task waits or the retrier could be started.
  void retryWaiting(std::unique_lock<std::mutex>& lock, bool forGood) {
    std::chrono::milliseconds pause = kFirstRetry;
    for (;;) {
      if (waiting_.empty()) {
        if (!forGood) return;
        retry_.wait(lock, [this] { return !waiting_.empty(); });
        pause = kFirstRetry;
        continue;
      }
      if (Clock::now() - waiting_.front().since >= kLongestWaitForThread) giveUp(lock);
      Waiting next = std::move(waiting_.front());
      waiting_.pop_front();
      ++threads_;
      lock.unlock();
      std::shared_ptr<Worker> worker = workerFor(std::move(next.task));
      Status started = startWorker(worker);
      lock.lock();
      if (started) {
        pause = kFirstRetry;
        continue;
      }
      --threads_;
      refusal_ = started.error().message;
      // A thread that finished its task meanwhile found none waiting.
      if (!idle_.empty()) {
        handToIdle(std::move(worker->task), lock);
        lock.lock();
        continue;
      }
      next.task = std::move(worker->task);
      waiting_.push_front(std::move(next));
      if (!forGood && !retrying_ && (retrying_ = startRetrier().ok())) {
        retry_.notify_all();
        return;
      }
      // A thread that finishes its task meanwhile takes the oldest itself.
      retry_.wait_for(lock, pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(kLongestRetry));
    }
  }

  [[noreturn]] void giveUp(std::unique_lock<std::mutex>& lock) {
    const std::string why = refusal_;
    lock.unlock();
    endProcess("cannot start a thread: " + why);
  }

  std::mutex mu_;
  std::vector<std::shared_ptr<Worker>> idle_;  // the most recently idle last
  std::deque<Waiting> waiting_;                // oldest first
  // Whether the retrier runs, and what the system said when it last refused.
  bool retrying_ = false;
  std::string refusal_;
  std::condition_variable retry_;  // a task waits, or a retry may go on
  size_t threads_ = 0;
  std::atomic<int> watching_{0};
  BurstRelease release_{kIdleLifetime};
};

// Never destroyed: tasks may still be running while the process exits.
Pool& pool() {
  static Pool* p = new Pool;
  return *p;
}

}  // namespace

void runInBackground(std::function<void()> task) {
  pool().submit(std::move(task));
}

TaskThreads taskThreads() {
  return pool().counts();
}

MemoryReleases memoryReleases() {
  return pool().releases();
}

}  // namespace support
