#include "shell/window.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace shell {

void appWindow::setActive(bool active) {
  std::lock_guard lock(mu);
  active_ = active;
}

bool appWindow::isActive() {
  std::lock_guard lock(mu);
  return active_;
}

void appWindow::sendReport(const std::function<void()>& send) {
  std::lock_guard lock(reportMu_);
  send();
}

namespace {

// The sweep comes this long after the oldest wait ends, to take those that
// end meanwhile along.
constexpr deliveryClock::duration kSweepAfter = std::chrono::seconds(1);
// Ids a sweep lets go of each time it holds the window's lock.
constexpr size_t kSweepStep = 4096;

}  // namespace

void appWindow::navigated() {
  std::lock_guard lock(mu);
  handled_.clear();
}

void appWindow::markClosed() {
  // A burst's worth of ids is let go of outside the lock.
  deliveredIds dropped;
  std::lock_guard lock(mu);
  closed_ = true;
  std::swap(dropped, handled_);
  routes_ = deliveryRoutes();
  if (sweep_) sweep_->stop();
  sweep_ = nullptr;
}

std::string appWindow::currentURL() {
  std::lock_guard lock(mu);
  return url_;
}

void appWindow::setURL(std::string url) {
  std::lock_guard lock(mu);
  url_ = std::move(url);
  urlStamp_.store(nextURLStamp(), std::memory_order_release);
}

uint64_t appWindow::nextURLStamp() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

bool appWindow::firstDelivery(int64_t requestId, route by, deliveryClock::time_point now) {
  std::lock_guard lock(mu);
  // A request that got its window just before it closed has no page to
  // answer, and what would tell a copy of it has gone.
  if (closed_) return false;
  const bool fresh = handled_.first(requestId, by, routes_.copyMayFollow(by, now), now);
  routes_.arrived(by, fresh, now);
  sweepLater(now);
  return fresh;
}

void appWindow::sweepLater(deliveryClock::time_point now) {
  if (sweep_ || closed_) return;
  const std::optional<deliveryClock::time_point> waitEnd = handled_.nextWaitEnd();
  if (!waitEnd) return;
  std::weak_ptr<appWindow> self = weak_from_this();
  if (self.expired()) return;  // a record no one shares is nobody's window
  const auto delay = std::chrono::ceil<std::chrono::milliseconds>(
      std::clamp(*waitEnd - now, {}, kCopyWait) + kSweepAfter);
  // The timer's own time says when it is due: the wait is over by then
  // however the timers' time is kept.
  const deliveryClock::time_point due = now + delay;
  sweep_ = support::startTimer(delay, [self, due] {
    if (windowPtr window = self.lock()) window->sweep(due);
  });
}

void appWindow::sweep(deliveryClock::time_point due) {
  for (bool more = true; more;) {
    // The lock is let go of between steps, for the requests that wait on it.
    std::lock_guard lock(mu);
    const deliveryClock::time_point now = std::max(deliveryClock::now(), due);
    more = handled_.expire(now, kSweepStep);
    if (!more) {
      sweep_ = nullptr;
      sweepLater(now);
    }
  }
}

size_t appWindow::deliveredIdsHeld() {
  std::lock_guard lock(mu);
  return handled_.held();
}

void appWindow::setShadow(bool shadowed) {
  std::lock_guard lock(mu);
  shadowed_ = shadowed;
  shadowSet_ = true;
}

std::optional<bool> appWindow::shadow() {
  std::lock_guard lock(mu);
  if (!shadowSet_) return std::nullopt;
  return shadowed_;
}

void appWindow::restartSaveTimer(std::function<void()> save) {
  std::lock_guard lock(mu);
  if (save_) save_->stop();
  save_ = support::startTimer(std::chrono::milliseconds(500), std::move(save));
}

windowPtr windowHandle::closedReport() {
  std::lock_guard lock(mu_);
  if (untilClosed_) return std::exchange(untilClosed_, nullptr);
  return weak_.lock();
}

}  // namespace shell
