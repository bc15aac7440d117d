#include "events.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "trace.h"

namespace standin {

namespace {

constexpr size_t kMaxLoggedDeliveries = 100000;
// How long a caller that waits for its deliveries tries to start the thread.
constexpr auto kLongestWaitForThread = std::chrono::seconds(5);

struct Task {
  Delivery delivery;
  std::shared_ptr<std::promise<void>> done;  // set for the marker of deliverNow
};

class EventThread {
 public:
  void post(Deliveries deliveries, std::shared_ptr<std::promise<void>> done) {
    std::lock_guard lock(mu_);
    startLocked();
    for (Delivery& d : deliveries) queue_.push_back(Task{std::move(d), nullptr});
    if (done) queue_.push_back(Task{Delivery{}, std::move(done)});
    cv_.notify_one();
  }

  void hold(std::thread::id owner, Deliveries deliveries) {
    std::lock_guard lock(mu_);
    for (Delivery& d : deliveries) held_.emplace_back(owner, std::move(d));
    holding_.store(!held_.empty(), std::memory_order_release);
  }

  void release(const std::thread::id* owner) {
    // Every core call releases; almost always nothing is held. A thread's own
    // deliveries were held by itself, so it sees them without the lock.
    if (!holding_.load(std::memory_order_acquire)) return;
    std::lock_guard lock(mu_);
    if (held_.empty()) return;
    startLocked();
    std::deque<std::pair<std::thread::id, Delivery>> kept;
    for (auto& [who, d] : held_) {
      if (!owner || who == *owner) {
        queue_.push_back(Task{std::move(d), nullptr});
      } else {
        kept.emplace_back(who, std::move(d));
      }
    }
    held_ = std::move(kept);
    holding_.store(!held_.empty(), std::memory_order_release);
    cv_.notify_one();
  }

  // The system's refusal, when the thread still cannot be started after a
  // few seconds of tries on a short back-off; empty once it runs.
  std::string waitUntilStarted() {
    using namespace std::chrono_literals;
    const auto until = std::chrono::steady_clock::now() + kLongestWaitForThread;
    std::chrono::milliseconds pause = 1ms;
    std::unique_lock lock(mu_);
    while (!startLocked()) {
      if (std::chrono::steady_clock::now() >= until) return refusal_;
      lock.unlock();
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(100ms));
      lock.lock();
    }
    return {};
  }

  bool isWorker() {
    std::lock_guard lock(mu_);
    return started_ && std::this_thread::get_id() == worker_;
  }

  json log() {
    std::lock_guard lock(logMu_);
    json out = json::array();
    for (const json& entry : log_) out.push_back(entry);
    return out;
  }

  void clearLog() {
    std::lock_guard lock(logMu_);
    log_.clear();
  }

  static void runOne(Delivery& d, EventThread& self) {
    if (!d.callback.empty()) {
      if (traceOn()) traceLine("callback " + formatCall(d.callback, d.args));
      json entry = {{"callback", std::move(d.callback)}, {"args", std::move(d.args)}};
      std::lock_guard lock(self.logMu_);
      self.log_.push_back(std::move(entry));
      if (self.log_.size() > kMaxLoggedDeliveries) self.log_.pop_front();
    }
    if (d.run) d.run();
  }

 private:
  // False while the system gives no thread: what is queued stays queued, and
  // the next delivery tries again.
  bool startLocked() {
    if (started_) return true;
    try {
      // The thread lives as long as the process; the library is never
      // unloaded.
      std::thread worker([this] { loop(); });
      worker_ = worker.get_id();
      worker.detach();
    } catch (const std::system_error& e) {
      refusal_ = e.code().message();
      return false;
    }
    started_ = true;
    return true;
  }

  void loop() {
    std::unique_lock lock(mu_);
    for (;;) {
      cv_.wait(lock, [this] { return !queue_.empty(); });
      Task task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      if (task.done) {
        task.done->set_value();
      } else {
        try {
          runOne(task.delivery, *this);
        } catch (const std::exception& e) {
          writeStderrLine(std::string("event thread: ") + e.what());
        }
      }
      task = Task{};
      lock.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Task> queue_;
  std::deque<std::pair<std::thread::id, Delivery>> held_;
  std::atomic<bool> holding_{false};  // !held_.empty()
  bool started_ = false;
  std::thread::id worker_;
  std::string refusal_;  // why the thread could not be started

  std::mutex logMu_;
  std::deque<json> log_;
};

EventThread& eventThread() {
  static EventThread* thread = new EventThread;
  return *thread;
}

// Releases what a thread still holds back when it ends.
struct HeldAtExit {
  std::thread::id owner = std::this_thread::get_id();
  ~HeldAtExit() { eventThread().release(&owner); }
};

void waitForQueued(Deliveries deliveries) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  eventThread().post(std::move(deliveries), std::move(done));
  if (std::string refusal = eventThread().waitUntilStarted(); !refusal.empty()) {
    throw DeliveryError("event thread: cannot start a thread: " + refusal);
  }
  finished.wait();
}

}  // namespace

void deliverLater(Deliveries deliveries) {
  if (deliveries.empty()) return;
  eventThread().post(std::move(deliveries), nullptr);
}

void deliverNow(Deliveries deliveries) {
  if (eventThread().isWorker()) {
    for (Delivery& d : deliveries) EventThread::runOne(d, eventThread());
    return;
  }
  waitForQueued(std::move(deliveries));
}

void holdForCaller(Deliveries deliveries) {
  if (deliveries.empty()) return;
  thread_local HeldAtExit releaseAtExit;
  eventThread().hold(releaseAtExit.owner, std::move(deliveries));
}

void releaseHeldDeliveries() {
  std::thread::id self = std::this_thread::get_id();
  eventThread().release(&self);
}

void releaseAllHeldDeliveries() {
  eventThread().release(nullptr);
}

void drainDeliveries() {
  releaseAllHeldDeliveries();
  if (eventThread().isWorker()) return;
  waitForQueued({});
}

bool onEventThread() {
  return eventThread().isWorker();
}

json deliveryLog() {
  return eventThread().log();
}

void clearDeliveryLog() {
  eventThread().clearLog();
}

}  // namespace standin
