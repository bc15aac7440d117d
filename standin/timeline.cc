#include "timeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>

namespace standin {

namespace {

struct Stamp {
  std::string fn;
  json args;
  int64_t t = 0;
};

struct Timeline {
  std::mutex mu;
  std::vector<std::string> chosen;
  // A deque: growing it moves no stamp while the calls being stamped wait.
  std::deque<Stamp> stamps;
  // Every core call asks; the common answer (nothing chosen) takes no lock.
  std::atomic<bool> on{false};
  // Raised whenever `chosen` changes, so that each thread can keep a copy of
  // its own and look at it without the lock (the calls of a measurement come
  // from many threads at once).
  std::atomic<uint64_t> version{0};
};

// The calling thread's copy of the chosen names.
struct ChosenCopy {
  uint64_t version = 0;
  std::vector<std::string> names;
};
thread_local ChosenCopy tlsChosen;

Timeline& timeline() {
  static Timeline* t = new Timeline;
  return *t;
}

}  // namespace

int64_t monotonicNanos(std::chrono::steady_clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

int64_t monotonicNanos() {
  return monotonicNanos(std::chrono::steady_clock::now());
}

void stampCalls(std::vector<std::string> fns) {
  Timeline& tl = timeline();
  std::lock_guard lock(tl.mu);
  tl.chosen = std::move(fns);
  tl.stamps.clear();
  tl.version.fetch_add(1, std::memory_order_release);
  tl.on.store(!tl.chosen.empty(), std::memory_order_release);
}

void stampIfChosen(const char* fn, const json& args) {
  Timeline& tl = timeline();
  if (!tl.on.load(std::memory_order_acquire)) return;
  int64_t now = monotonicNanos();
  uint64_t version = tl.version.load(std::memory_order_acquire);
  if (tlsChosen.version != version) {
    std::lock_guard lock(tl.mu);
    tlsChosen.names = tl.chosen;
    tlsChosen.version = tl.version.load(std::memory_order_relaxed);
  }
  const std::vector<std::string>& chosen = tlsChosen.names;
  if (std::find(chosen.begin(), chosen.end(), fn) == chosen.end()) return;
  Stamp stamp{fn, args, now};
  std::lock_guard lock(tl.mu);
  tl.stamps.push_back(std::move(stamp));
}

json callStamps(size_t since, bool clear) {
  Timeline& tl = timeline();
  std::vector<Stamp> taken;
  size_t total = 0;
  {
    std::lock_guard lock(tl.mu);
    total = tl.stamps.size();
    if (since < total) taken.assign(tl.stamps.begin() + static_cast<long>(since), tl.stamps.end());
    if (clear) tl.stamps.clear();
  }
  json list = json::array();
  for (Stamp& s : taken) {
    list.push_back({{"fn", std::move(s.fn)}, {"args", std::move(s.args)}, {"t", s.t}});
  }
  return {{"stamps", std::move(list)}, {"total", total}};
}

}  // namespace standin
