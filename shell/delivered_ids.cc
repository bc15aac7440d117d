#include "shell/delivered_ids.h"

#include <algorithm>
#include <limits>

namespace shell {
namespace {

// Once this many ids are held, those far below the newest go.
constexpr size_t kTrimAt = 512;
constexpr int64_t kKeepBelow = 256;
// How many awaited ids each request looks at, to let go of those whose wait
// is over. More than one: each request adds at most one.
constexpr size_t kExpireStep = 256;
// What waits for copies is let go of whole, once none waits, when it has held
// more than this many.
constexpr size_t kStoreKeptUpTo = 1024;

size_t index(route by) {
  return by == route::hostBridge ? 0 : 1;
}

route other(route by) {
  return by == route::hostBridge ? route::queue : route::hostBridge;
}

}  // namespace

void deliveryRoutes::arrived(route by, bool fresh, deliveryClock::time_point now) {
  if (!firstAt_) firstAt_ = now;
  seen_[index(by)] = true;
  // The other road no longer brings its requests alone.
  alone_[index(other(by))].reset();
  if (!fresh) return;
  std::optional<aloneRun>& run = alone_[index(by)];
  if (!run || now - run->last > kRoadPause) {
    run = aloneRun{now, now};
  } else {
    run->last = std::max(run->last, now);
  }
}

bool deliveryRoutes::copyMayFollow(route by, deliveryClock::time_point now) const {
  if (!seen_[index(other(by))]) return !firstAt_ || now - *firstAt_ < kCopyWait;
  // Only the other road bringing nothing while this one kept bringing new
  // requests, for a whole copy's wait, says that it is no longer used.
  const std::optional<aloneRun>& run = alone_[index(by)];
  return !run || now - run->last > kRoadPause || now - run->from < kCopyWait;
}

bool deliveredIds::first(int64_t id, route by, bool copyMayFollow, deliveryClock::time_point now) {
  // A few at a time: every request of the page waits on the window's lock
  // while this runs, and a burst's worth at once would hold them all up.
  (void)expire(now, kExpireStep);
  if (awaited_) {
    if (auto at = awaited_->ids.find(id); at != awaited_->ids.end() && at->second.by != by) {
      // The other road's copy: nothing more is on its way.
      awaited_->ids.erase(at);
      dropStoreOnceEmpty();
      return false;
    }
  }
  // By the road it took before, an id is a request of its own: refused
  // while the trimmed ids hold it, as by either road.
  if (accepted_.count(id)) return false;
  accept(id);
  if (copyMayFollow) await(id, by, now);
  return true;
}

void deliveredIds::accept(int64_t id) {
  if (accepted_.size() >= kTrimAt) {
    // Every id at or below id - 256 goes. Near the bottom of the range the
    // bound stays at the smallest id instead of wrapping round to the top,
    // which would forget every id.
    const int64_t bound = id < std::numeric_limits<int64_t>::min() + kKeepBelow
                              ? std::numeric_limits<int64_t>::min()
                              : id - kKeepBelow;
    const auto end = accepted_.upper_bound(bound);
    for (auto at = accepted_.begin(); at != end; ++at) acceptedOrder_.erase(at->second);
    accepted_.erase(accepted_.begin(), end);
  }
  if (accepted_.size() >= kMaxAccepted) {
    // Ids that do not rise: the one that came first goes, never the newest.
    const auto oldest = acceptedOrder_.begin();
    accepted_.erase(oldest->second);
    acceptedOrder_.erase(oldest);
  }
  const uint64_t arrival = nextArrival_++;
  accepted_.emplace(id, arrival);
  acceptedOrder_.emplace_hint(acceptedOrder_.end(), arrival, id);
}

void deliveredIds::await(int64_t id, route by, deliveryClock::time_point now) {
  if (!awaited_) awaited_ = std::make_unique<awaitedStore>();
  auto& [pool, ids, order, longest] = *awaited_;
  if (order.size() >= kMaxAwaited) {
    const awaitedSince& oldest = order.front();
    if (auto at = ids.find(oldest.id); at != ids.end() && at->second.mark == oldest.mark) {
      ids.erase(at);
    }
    order.pop_front();
  }
  const uint64_t mark = nextMark_++;
  ids.insert_or_assign(id, awaitedCopy{by, mark});
  order.push_back(awaitedSince{id, mark, now});
  longest = std::max(longest, order.size());
}

bool deliveredIds::expire(deliveryClock::time_point now, size_t most) {
  if (!awaited_) return false;
  auto& [pool, ids, order, longest] = *awaited_;
  bool more = false;
  for (size_t step = 0; !order.empty(); ++step) {
    const awaitedSince& oldest = order.front();
    auto at = ids.find(oldest.id);
    const bool live = at != ids.end() && at->second.mark == oldest.mark;
    if (live && now - oldest.at < kCopyWait) break;
    if (step == most) {
      more = true;
      break;
    }
    if (live) ids.erase(at);
    order.pop_front();
  }
  dropStoreOnceEmpty();
  return more;
}

std::optional<deliveryClock::time_point> deliveredIds::nextWaitEnd() const {
  if (!awaited_ || awaited_->ids.empty()) return std::nullopt;
  // The front may be a stale mark, older than any id that waits: the end
  // given is then early, never late.
  return awaited_->order.front().at + kCopyWait;
}

void deliveredIds::dropStoreOnceEmpty() {
  if (awaited_ && awaited_->ids.empty() && awaited_->longest > kStoreKeptUpTo) awaited_.reset();
}

void deliveredIds::clear() {
  accepted_.clear();
  acceptedOrder_.clear();
  awaited_.reset();
}

}  // namespace shell
