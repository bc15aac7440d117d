// A process that the system gives only a handful of threads: a death test's
// child (of the threadsafe style, so that it starts afresh, with none of the
// test program's threads, pool or timers) drops to a user of its own under a
// process limit; as root the limit would not hold. The limit counts every
// thread of that user at once, so each test takes a user of its own: test
// programs run side by side.
#pragma once

#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace testing_support {

// The first of the users for thread-limited processes; each test adds a
// number of its own.
inline constexpr uid_t kThreadLimitedUsers = 4400;

// In the death test's child: becomes `user`, whose processes and threads
// number `limit` in all, runs `body` and gives what it returns as the exit
// status (125 when the child could not be limited).
inline int runWithThreadLimit(uid_t user, rlim_t limit, const std::function<int()>& body) {
  const rlimit few{limit, limit};
  if (::setrlimit(RLIMIT_NPROC, &few) != 0 || ::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 ||
      ::setuid(user) != 0) {
    return 125;
  }
  return body();
}

// Each test that uses it starts with this.
#define SKIP_UNLESS_THREADS_CAN_BE_LIMITED()                                 \
  do {                                                                       \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user"; \
    GTEST_FLAG_SET(death_test_style, "threadsafe");                          \
  } while (false)

// In the limited process: takes every thread the system still gives, each held until
// it is let go (or, with `holdFor`, for that long), so that the next thread
// anyone starts is refused.
class ThreadSlots {
 public:
  explicit ThreadSlots(std::chrono::milliseconds holdFor = std::chrono::hours(1))
      : holdFor_(holdFor) {}
  ~ThreadSlots() { letGo(); }
  ThreadSlots(const ThreadSlots&) = delete;
  ThreadSlots& operator=(const ThreadSlots&) = delete;

  // How many it took.
  size_t takeAll() {
    for (;;) {
      try {
        held_.emplace_back([this] {
          std::unique_lock lock(mu_);
          changed_.wait_for(lock, holdFor_, [this] { return free_; });
        });
      } catch (const std::system_error&) {
        return held_.size();
      }
    }
  }

  // Every thread it took has ended when this returns.
  void letGo() {
    {
      std::lock_guard lock(mu_);
      free_ = true;
      changed_.notify_all();
    }
    for (std::thread& t : held_) t.join();
    held_.clear();
  }

 private:
  const std::chrono::milliseconds holdFor_;
  std::mutex mu_;
  std::condition_variable changed_;
  bool free_ = false;
  std::vector<std::thread> held_;
};

}  // namespace testing_support
