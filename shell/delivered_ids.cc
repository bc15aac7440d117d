#include "shell/delivered_ids.h"

#include <limits>

namespace shell {
namespace {

// Once this many settled ids are held, those far below the newest go.
constexpr size_t kTrimAt = 512;
constexpr int64_t kKeepBelow = 256;

size_t index(route by) {
  return by == route::hostBridge ? 0 : 1;
}

route other(route by) {
  return by == route::hostBridge ? route::queue : route::hostBridge;
}

int64_t ticks(deliveryRoutes::clock::time_point t) {
  // Never 0, which means "none yet".
  const int64_t n = t.time_since_epoch().count();
  return n == 0 ? 1 : n;
}

}  // namespace

void deliveryRoutes::arrived(route by, clock::time_point now) {
  int64_t none = 0;
  firstAt_[index(by)].compare_exchange_strong(none, ticks(now), std::memory_order_relaxed);
}

bool deliveryRoutes::copyMayFollow(route by, clock::time_point now) const {
  if (firstAt_[index(other(by))].load(std::memory_order_relaxed) != 0) return true;
  const int64_t first = firstAt_[index(by)].load(std::memory_order_relaxed);
  // Nothing noted by this road either: no grounds yet to call the other
  // unused.
  if (first == 0) return true;
  return now.time_since_epoch().count() - first < clock::duration(kFirstCopyGrace).count();
}

bool deliveredIds::first(int64_t id, route by, bool copyMayFollow) {
  if (auto at = awaited_.find(id); at != awaited_.end()) {
    // The other road's copy has come: nothing more is on its way.
    if (at->second != by) {
      awaited_.erase(at);
      settle(id);
    }
    return false;
  }
  if (settled_.count(id)) return false;
  if (!copyMayFollow) {
    // The other road turned out unused: what was held for it never comes.
    for (const auto& [held, road] : awaited_) settle(held);
    awaited_.clear();
    settle(id);
  } else {
    awaited_.emplace(id, by);
  }
  return true;
}

void deliveredIds::settle(int64_t id) {
  if (settled_.size() >= kTrimAt) {
    // Every id at or below id - 256 goes. Near the bottom of the range the
    // bound stays at the smallest id instead of wrapping round to the top,
    // which would forget every id.
    const int64_t bound = id < std::numeric_limits<int64_t>::min() + kKeepBelow
                              ? std::numeric_limits<int64_t>::min()
                              : id - kKeepBelow;
    settled_.erase(settled_.begin(), settled_.upper_bound(bound));
  }
  settled_.insert(id);
}

void deliveredIds::clear() {
  settled_.clear();
  awaited_.clear();
}

}  // namespace shell
