#include "support/tasks.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace support {
namespace {

using namespace std::chrono_literals;

// A thread that found nothing to do for this long ends.
constexpr auto kIdleLifetime = 10s;

class Pool {
 public:
  void submit(std::function<void()> task) {
    std::unique_lock lock(mu_);
    queue_.push_back(std::move(task));
    // Every queued task needs a waiting thread of its own; when there are
    // not enough, a new one takes it.
    if (waiting_ >= queue_.size()) {
      lock.unlock();
      ready_.notify_one();
      return;
    }
    lock.unlock();
    std::thread([this] { work(); }).detach();
  }

 private:
  void work() {
    std::unique_lock lock(mu_);
    for (;;) {
      ++waiting_;
      bool found = ready_.wait_for(lock, kIdleLifetime, [this] { return !queue_.empty(); });
      --waiting_;
      if (!found) return;
      std::function<void()> task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      task();
      task = nullptr;  // what it captured goes before the thread waits again
      lock.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  size_t waiting_ = 0;
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

}  // namespace support
