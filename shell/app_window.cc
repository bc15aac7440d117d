#include <limits>

#include "shell/window.h"

namespace shell {
namespace {

// Once this many ids are held, those far below the newest are forgotten.
constexpr size_t kTrimAt = 512;
constexpr int64_t kKeepBelow = 256;

}  // namespace

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

void appWindow::navigated() {
  std::lock_guard lock(mu);
  handled_.reset();
}

std::string appWindow::currentURL() {
  std::lock_guard lock(mu);
  return url_;
}

void appWindow::setURL(std::string url) {
  std::lock_guard lock(mu);
  url_ = std::move(url);
}

bool appWindow::firstDelivery(int64_t requestId) {
  std::lock_guard lock(mu);
  if (handled_ && handled_->count(requestId)) return false;
  if (!handled_) handled_.emplace();
  if (handled_->size() >= kTrimAt) {
    // Every id at or below id - 256 goes. Near the bottom of the range the
    // bound stays at the smallest id instead of wrapping round to the top,
    // which would forget every id.
    const int64_t bound = requestId < std::numeric_limits<int64_t>::min() + kKeepBelow
                              ? std::numeric_limits<int64_t>::min()
                              : requestId - kKeepBelow;
    handled_->erase(handled_->begin(), handled_->upper_bound(bound));
  }
  handled_->insert(requestId);
  return true;
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

}  // namespace shell
