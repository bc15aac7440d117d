#include "timeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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
  std::vector<Stamp> stamps;
  // Every core call asks; the common answer (nothing chosen) takes no lock.
  std::atomic<bool> on{false};
};

Timeline& timeline() {
  static Timeline* t = new Timeline;
  return *t;
}

}  // namespace

int64_t monotonicNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void stampCalls(std::vector<std::string> fns) {
  Timeline& tl = timeline();
  std::lock_guard lock(tl.mu);
  tl.chosen = std::move(fns);
  tl.stamps.clear();
  tl.on.store(!tl.chosen.empty(), std::memory_order_release);
}

void stampIfChosen(const char* fn, const json& args) {
  Timeline& tl = timeline();
  if (!tl.on.load(std::memory_order_acquire)) return;
  int64_t now = monotonicNanos();
  std::lock_guard lock(tl.mu);
  if (std::find(tl.chosen.begin(), tl.chosen.end(), fn) == tl.chosen.end()) return;
  tl.stamps.push_back({fn, args, now});
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
