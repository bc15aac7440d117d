// Which page requests a window has already run, when each request may come
// twice: the core hands a page's posts to the shell by its host-bridge
// callback, by its queue of host messages, or by both.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <memory_resource>
#include <optional>

namespace shell {

// The two roads by which a page's post reaches the shell.
enum class route : uint8_t { hostBridge, queue };

using deliveryClock = std::chrono::steady_clock;

// How long a request's copy by the other road is waited for. Far beyond
// the lag of a real burst (about a second for 100,000 requests posted at
// once), and the longest that anything is held for a copy.
inline constexpr deliveryClock::duration kCopyWait = std::chrono::seconds(10);
// A road that brings no new request for this long has paused with its page:
// what it brought before the pause no longer counts as bringing messages
// alone.
inline constexpr deliveryClock::duration kRoadPause = std::chrono::seconds(1);

// Which roads the core uses for one web view. A road that has brought
// messages stays in use until the other road has brought new requests alone,
// without a pause, for the copy's wait: a quiet page changes nothing, while a
// core that switches roads, or loses messages on one, holds nothing for long.
// Before a road has brought anything a copy may follow by it for the copy's
// wait after the view's first message: a road may start late.
class deliveryRoutes {
 public:
  // `fresh`: the message was a request of its own, neither a copy nor one
  // refused.
  void arrived(route by, bool fresh, deliveryClock::time_point now);
  // Whether a message that comes by `by` at `now` may come again by the other
  // road.
  bool copyMayFollow(route by, deliveryClock::time_point now) const;

 private:
  // New requests that one road brought while the other brought nothing,
  // with no pause between them.
  struct aloneRun {
    deliveryClock::time_point from;
    deliveryClock::time_point last;
  };

  std::optional<deliveryClock::time_point> firstAt_;  // by either road
  bool seen_[2] = {false, false};                     // by each road
  std::optional<aloneRun> alone_[2];                  // of each road
};

// The request ids accepted on one page. They are trimmed to the newest once
// there are many; apart from them, an id whose copy by the other road may
// still come is held until that copy comes, so that a late copy is known
// whatever the trimming forgot: for a bounded number of ids, and for the
// copy's wait, after which the requests that follow let go of it, a few
// hundred at each (and the window's sweep, on a page that went quiet).
class deliveredIds {
 public:
  // At most this many ids wait for their copies; the oldest goes first. A
  // burst of 100,000 requests posted at once fits.
  static constexpr size_t kMaxAwaited = size_t{1} << 18;
  // Ids that do not rise as they come are not trimmed by the rule; beyond
  // this many the oldest go, by arrival.
  static constexpr size_t kMaxAccepted = size_t{1} << 16;

  // True the first time `id` comes on this page, by either road.
  // `copyMayFollow`: whether it may come again by the road it did not take.
  bool first(int64_t id, route by, bool copyMayFollow,
             deliveryClock::time_point now = deliveryClock::now());
  // The page changed: a new page starts with no ids.
  void clear();
  // The entries held: accepted ids, and ids awaiting their copies.
  size_t held() const { return accepted_.size() + (awaited_ ? awaited_->ids.size() : 0); }
  // When the wait of the oldest id awaiting its copy ends; none while no id
  // waits.
  std::optional<deliveryClock::time_point> nextWaitEnd() const;
  // Lets go of at most `most` ids whose wait is over at `now`, and of the
  // stale marks met on the way; true when it stopped at `most`, so that more
  // may be left.
  bool expire(deliveryClock::time_point now, size_t most);

 private:
  void accept(int64_t id);
  void await(int64_t id, route by, deliveryClock::time_point now);

  // Each accepted id with the number of its arrival, and the same by
  // arrival, so that the oldest can go first.
  std::map<int64_t, uint64_t> accepted_;
  std::map<uint64_t, int64_t> acceptedOrder_;
  uint64_t nextArrival_ = 0;

  struct awaitedCopy {
    route by;  // the road the id came by; its copy comes by the other
    uint64_t mark;
  };
  struct awaitedSince {
    int64_t id;
    uint64_t mark;
    deliveryClock::time_point at;
  };
  // What waits for copies, in memory of its own: a burst's worth of it,
  // spread among what the burst's requests freed, would keep all of that
  // from going back to the system while it waits. It goes whole once
  // nothing waits any more.
  struct awaitedStore {
    std::pmr::unsynchronized_pool_resource pool;
    // Ordered rather than hashed: a hash table doubles in one go, which
    // under the window's lock holds up every request of the page at once.
    std::pmr::map<int64_t, awaitedCopy> ids{&pool};
    // The ids awaited, oldest first; an entry whose mark is no longer its
    // id's in `ids` is stale (the copy came, or the id was awaited again).
    std::pmr::deque<awaitedSince> order{&pool};
    size_t longest = 0;  // the most `order` has held
  };
  // Lets the store go when nothing in it waits and it has grown to more
  // than a few requests' worth: one that stays small is kept for the next.
  void dropStoreOnceEmpty();

  std::unique_ptr<awaitedStore> awaited_;  // null while nothing was awaited
  uint64_t nextMark_ = 0;
};

}  // namespace shell
