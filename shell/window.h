// One native window of the shell with its only web view.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "shell/delivered_ids.h"
#include "support/timer.h"

namespace shell {

class appWindow : public std::enable_shared_from_this<appWindow> {
 public:
  appWindow(bool isMain, std::string url, bool active)
      : main(isMain), url_(std::move(url)), urlStamp_(nextURLStamp()), active_(active) {}

  // The core's ids; 0 until the window and its web view exist. Callbacks may
  // read them on the core's thread while the opening task writes them.
  std::atomic<uint32_t> id{0};
  std::atomic<uint32_t> view{0};
  // Opened as a main window; fixed at creation.
  const bool main;

  void setActive(bool active);
  bool isActive();
  // The page navigated: its delivered request ids are forgotten.
  void navigated();
  // The window has closed: what its page held goes at once, and no request
  // of it runs any more.
  void markClosed();
  std::string currentURL();
  void setURL(std::string url);
  // Changes whenever the address does, and is never the same for two
  // addresses of any windows: who asks for each request whether the page is
  // still where it was may keep what it worked out from the address until
  // this changes, without the window's lock, which every request of a busy
  // page would otherwise queue for.
  uint64_t urlStamp() const { return urlStamp_.load(std::memory_order_acquire); }
  // True the first time `id` is seen on the current page, by either road.
  bool firstDelivery(int64_t requestId, route by = route::queue,
                     deliveryClock::time_point now = deliveryClock::now());
  // How many entries the delivered-id check holds for the current page.
  size_t deliveredIdsHeld();

  // The shadow the window should draw, as last computed.
  void setShadow(bool shadowed);
  std::optional<bool> shadow();

  // Stops a pending frame save and schedules `save` 500 ms from now.
  void restartSaveTimer(std::function<void()> save);

  // Window-state reports go out from background tasks, which may run in any
  // order. Each is worked out and sent within `send`, one at a time, so the
  // last report a page gets is the state after the last change, never an
  // older one that waited.
  void sendReport(const std::function<void()>& send);

  // Native handle for another platform's window system; never set here.
  uint64_t x11() const { return 0; }

 private:
  static uint64_t nextURLStamp();
  // Under `mu`: once the oldest awaited id's wait is over, what waited lets
  // go even if the page has gone quiet and no request comes to do it.
  void sweepLater(deliveryClock::time_point now);
  void sweep(deliveryClock::time_point due);

  std::mutex mu;
  std::string url_;
  std::atomic<uint64_t> urlStamp_;
  bool shadowed_ = false;
  bool shadowSet_ = false;
  std::shared_ptr<support::OneShotTimer> save_;
  deliveredIds handled_;
  // The roads of this window's web view: a core may use different ones for
  // different views. They outlast navigations.
  deliveryRoutes routes_;
  bool closed_ = false;
  std::shared_ptr<support::OneShotTimer> sweep_;  // pending while ids await copies
  bool active_;
  std::mutex reportMu_;  // held while a report is worked out and sent
};

using windowPtr = std::shared_ptr<appWindow>;

// What a window's callbacks hold of its record. The core's binding keeps a
// window's callbacks until the process ends, so they hold the record only
// weakly, and it goes once the window has closed and no task works on it any
// more. Only the report that the window closed holds it until it comes, so
// that it always finds the record, even one that never entered the shell's
// windows.
class windowHandle {
 public:
  explicit windowHandle(const windowPtr& window) : weak_(window), untilClosed_(window) {}

  // The record while it lives; null once it has gone.
  windowPtr get() const { return weak_.lock(); }
  // For the closed report: the record, no longer held for it.
  windowPtr closedReport();

 private:
  std::weak_ptr<appWindow> weak_;
  std::mutex mu_;
  windowPtr untilClosed_;
};

}  // namespace shell
