// Which page requests a window has already run, when each request may come
// twice: the core hands a page's posts to the shell by its host-bridge
// callback, by its queue of host messages, or by both.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>

namespace shell {

// The two roads by which a page's post reaches the shell.
enum class route : uint8_t { hostBridge, queue };

using deliveryClock = std::chrono::steady_clock;

// How long a request's copy by the other road is waited for. Far beyond
// the lag of a real burst (about a second for 100,000 requests posted at
// once), and the longest that anything is held for a copy.
inline constexpr deliveryClock::duration kCopyWait = std::chrono::seconds(10);

// Which roads the core uses for one web view. A copy may follow by the other
// road while that road brings messages for the view, or, before it has
// brought any, for a while after the view's first message: a road may start
// late. A road silent for the copy's wait is taken as unused until it brings
// something again, so a core that switches roads, or loses messages on one,
// holds nothing for long.
class deliveryRoutes {
 public:
  void arrived(route by, deliveryClock::time_point now);
  // Whether a message that came by `by` at `now` may come again by the other
  // road.
  bool copyMayFollow(route by, deliveryClock::time_point now) const;

 private:
  std::optional<deliveryClock::time_point> firstAt_;    // by either road
  std::optional<deliveryClock::time_point> lastAt_[2];  // by each road
};

// The request ids accepted on one page. They are trimmed to the newest once
// there are many; apart from them, an id whose copy by the other road may
// still come is held until that copy comes, so that a late copy is known
// whatever the trimming forgot: for a bounded number of ids, and for the
// copy's wait, after which the requests that follow let go of it, a few
// hundred at each.
class deliveredIds {
 public:
  // At most this many ids wait for their copies; the oldest goes first. A
  // burst of 100,000 requests posted at once fits.
  static constexpr size_t kMaxAwaited = size_t{1} << 18;
  // Ids that do not rise as they come are not trimmed by the rule; beyond
  // this many the lowest go.
  static constexpr size_t kMaxAccepted = size_t{1} << 16;

  // True the first time `id` comes on this page, by either road.
  // `copyMayFollow`: whether it may come again by the road it did not take.
  bool first(int64_t id, route by, bool copyMayFollow,
             deliveryClock::time_point now = deliveryClock::now());
  // The page changed: a new page starts with no ids.
  void clear();
  // The entries held: accepted ids, and ids awaiting their copies.
  size_t held() const { return accepted_.size() + awaited_.size(); }

 private:
  void accept(int64_t id);
  void await(int64_t id, route by, deliveryClock::time_point now);
  // Lets go of some of what waited its time for a copy, and of the stale
  // marks of copies that came.
  void expire(deliveryClock::time_point now);

  std::set<int64_t> accepted_;

  struct awaitedCopy {
    route by;  // the road the id came by; its copy comes by the other
    uint64_t mark;
  };
  // Ordered rather than hashed: a hash table doubles in one go, which under
  // the window's lock holds up every request of the page at once.
  std::map<int64_t, awaitedCopy> awaited_;
  // The ids awaited, oldest first; an entry whose mark is no longer its id's
  // in `awaited_` is stale (the copy came, or the id was awaited again).
  struct awaitedSince {
    int64_t id;
    uint64_t mark;
    deliveryClock::time_point at;
  };
  std::deque<awaitedSince> order_;
  uint64_t nextMark_ = 0;
};

}  // namespace shell
