// Which page requests a window has already run, when each request may come
// twice: the core hands a page's posts to the shell by its host-bridge
// callback, by its queue of host messages, or by both.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>

namespace shell {

// The two roads by which a page's post reaches the shell.
enum class route : uint8_t { hostBridge, queue };

// Which roads the core uses. A core sends every post the same way, so once a
// message has come by each road, every request comes twice; until the other
// road has brought anything, it may only be slower to bring its first.
class deliveryRoutes {
 public:
  using clock = std::chrono::steady_clock;

  // The time the other road is given to bring its first message before it
  // is taken to be unused. A road's first message waits behind no backlog,
  // so this bounds a start-up lag, not the size of a burst.
  static constexpr clock::duration kFirstCopyGrace = std::chrono::seconds(5);

  // Notes a message that came by `by`.
  void arrived(route by, clock::time_point now = clock::now());
  // Whether a message that came by `by` may come again by the other road.
  bool copyMayFollow(route by, clock::time_point now = clock::now()) const;

 private:
  // The time of each road's first message; none yet while 0.
  std::atomic<int64_t> firstAt_[2] = {0, 0};
};

// The request ids accepted on one page. An id whose second copy may still
// come is held until it does, however many requests are in flight; the
// others are trimmed to the newest once there are many.
class deliveredIds {
 public:
  // True the first time `id` comes on this page, by either road.
  // `copyMayFollow`: whether it may come again by the road it did not take.
  bool first(int64_t id, route by, bool copyMayFollow);
  void clear();
  size_t held() const { return settled_.size() + awaited_.size(); }

 private:
  void settle(int64_t id);

  // Ids not expected again; trimmed.
  std::set<int64_t> settled_;
  // Ids whose copy by the other road is still to come, with the road they
  // took; never trimmed, so a copy however late is known.
  std::map<int64_t, route> awaited_;
};

}  // namespace shell
