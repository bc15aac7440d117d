#include "shell/notices.h"

#include <atomic>
#include <memory>
#include <string_view>
#include <utility>

#include "support/tasks.h"
#include "support/url.h"

namespace shell {
namespace {

// The published handler. A click task may still run a replaced handler, so
// handlers are never freed: every one published stays in `published`.
std::atomic<const noticeClickHandler*> current{nullptr};
std::mutex publishedMu;
std::vector<std::unique_ptr<const noticeClickHandler>>& published() {
  static auto* all = new std::vector<std::unique_ptr<const noticeClickHandler>>;
  return *all;
}

}  // namespace

void noticeLog::add(notice n) {
  std::lock_guard lock(mu);
  list.push_back(std::move(n));
  if (list.size() > kCapacity) list.erase(list.begin(), list.end() - kCapacity);
}

std::string noticeLog::find(const std::string& title, const std::string& subtitle,
                            const std::string& body) {
  std::lock_guard lock(mu);
  for (auto n = list.rbegin(); n != list.rend(); ++n) {
    if (n->title == title && n->subtitle == subtitle && n->body == body) return n->target;
  }
  for (auto n = list.rbegin(); n != list.rend(); ++n) {
    if (n->title == title) return n->target;
  }
  return "";
}

std::string appPath(const std::string& s) {
  std::string_view path = s;
  if (path.empty() || path.front() != '/' || path.starts_with("//")) return "";
  if (path.find_first_of("\\\r\n") != std::string_view::npos) return "";
  // The system's one URL parser decides what a reference is: no control
  // bytes, and well-formed escapes in the path and the fragment (the query
  // is not examined).
  if (!support::url::parse(path).ok()) return "";
  return s;
}

void publishNoticeClickHandler(noticeClickHandler handler) {
  auto owned = std::make_unique<const noticeClickHandler>(std::move(handler));
  const noticeClickHandler* handlerPtr = owned.get();
  {
    std::lock_guard lock(publishedMu);
    published().push_back(std::move(owned));
  }
  current.store(handlerPtr, std::memory_order_release);
}

void clickedNotice(std::string title, std::string subtitle, std::string body) {
  const noticeClickHandler* handler = current.load(std::memory_order_acquire);
  if (!handler || !*handler) return;
  support::runInBackground([handler, title = std::move(title), subtitle = std::move(subtitle),
                            body = std::move(body)] { (*handler)(title, subtitle, body); });
}

}  // namespace shell
