// What the web views of application windows report: navigations (which keep
// each window's current page), refused navigations and new-window requests
// (opened by the system or in a further window), and downloads (announced to
// the page). Also the external origins a page declares, which become every
// web view's navigation rules.
#include "shell/webview_events.h"

#include "shell/links.h"
#include "shell/shell.h"
#include "support/json.h"
#include "support/lower_case.h"
#include "support/tasks.h"

namespace shell {
namespace {

// The schemes the system's handlers open, tried in this order.
constexpr std::string_view kSystemSchemes[] = {"https:", "http:", "mailto:", "tel:"};

// ["^<origin>/*", ...]; [] for none, never null.
support::Result<std::string> navigationRules(const std::vector<std::string>& origins) {
  support::json::Writer w;
  w.beginArray();
  for (const std::string& origin : origins) w.string("^" + origin + "/*");
  w.endArray();
  return w.finish();
}

}  // namespace

std::string eventURL(std::string_view detail) {
  if (detail.empty() || detail.front() != '{') return std::string(detail);
  std::string url;
  support::Status decoded =
      support::json::decodeObject(detail, [&](support::json::Object& o) { o.field("url", url); });
  return decoded ? url : "";
}

std::string baseName(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

std::optional<navigationDetail> decodeNavigationDetail(std::string_view detail) {
  navigationDetail d;
  support::Status decoded = support::json::decodeObject(detail, [&](support::json::Object& o) {
    o.field("url", d.url);
    o.field("allowed", d.allowed);
  });
  if (!decoded) return std::nullopt;
  return d;
}

downloadDetail decodeDownloadDetail(std::string_view detail) {
  downloadDetail d;
  (void)support::json::decodeObject(detail, [&](support::json::Object& o) {
    o.field("filename", d.filename);
    o.field("destinationPath", d.destinationPath);
  });
  return d;
}

std::string downloadName(const downloadDetail& d) {
  return d.destinationPath.empty() ? d.filename : baseName(d.destinationPath);
}

void shell::onWebviewEvent(const windowPtr& window, const std::string& event,
                           const std::string& detail) {
  if (event == "did-navigate" || event == "did-commit-navigation") {
    // A new page starts with no delivered requests, whatever its address.
    window->navigated();
    std::string url = eventURL(detail);
    if (!url.empty()) window->setURL(std::move(url));
    return;
  }
  auto self = shared_from_this();
  if (event == "will-navigate") {
    std::optional<navigationDetail> d = decodeNavigationDetail(detail);
    if (!d || d->allowed || originOf(d->url).empty()) return;
    support::runInBackground([self, url = d->url] { (void)self->core->OpenExternal(url); });
  } else if (event == "new-window-open") {
    support::runInBackground([self, url = eventURL(detail)] { self->openURL(url); });
  } else if (event == "download-completed" || event == "download-failed") {
    const bool success = event == "download-completed";
    support::runInBackground(
        [self, window, detail, success] { self->downloaded(window, detail, success); });
  }
}

void shell::openURL(const std::string& url) {
  const std::string target = originOf(url);
  // An address without a web origin is never the app's own, even should the
  // shell's origin somehow be empty.
  if (!target.empty() && target == origin) {
    (void)openWindow(url, true, false);
    return;
  }
  const std::string lower = support::toLowerUnicode(url);
  for (std::string_view scheme : kSystemSchemes) {
    if (lower.starts_with(scheme)) {
      (void)core->OpenExternal(url);
      return;
    }
  }
}

void shell::downloaded(const windowPtr& window, const std::string& detail, bool success) {
  const downloadDetail d = decodeDownloadDetail(detail);
  std::optional<int64_t> id;
  if (success && !d.destinationPath.empty()) {
    std::lock_guard lock(mu);
    downloads.push_back(d.destinationPath);
    id = static_cast<int64_t>(downloads.size() - 1);
  }
  const std::string name = downloadName(d);
  emit(window, "bk:download", [&](support::json::Writer& w) {
    w.beginObject();
    if (id) w.key("id").integer(*id);
    w.key("name").string(name);
    w.key("success").boolean(success);
    w.endObject();
  });
}

void shell::applyNavigationRules(const windowPtr& window, const std::vector<std::string>& origins) {
  auto rules = navigationRules(origins);
  if (!rules) return;
  (void)core->SetWebviewNavigationRules(window->view, *rules);
}

void shell::setExternalOrigins(const std::vector<std::string>& addresses) {
  std::vector<std::string> kept;
  for (const std::string& address : addresses) {
    std::string o = originOf(address);
    // A "*" is the rules' wildcard: such a text is a pattern, not an origin.
    if (o.empty() || o == origin || o.find('*') != std::string::npos) continue;
    kept.push_back(std::move(o));
  }
  std::vector<windowPtr> targets;
  {
    std::lock_guard lock(mu);
    external = kept;
    for (const auto& [id, window] : windows) targets.push_back(window);
  }
  for (const windowPtr& window : targets) applyExternalOrigins(window);
}

void shell::applyExternalOrigins(const windowPtr& window) {
  // Two declarations close together, or a declaration and a window being
  // opened, may apply their rules in either order; whoever finishes with a
  // list that is no longer the declared one applies the declared one again,
  // so every window ends with the latest rules.
  std::vector<std::string> origins;
  {
    std::lock_guard lock(mu);
    origins = external;
  }
  for (;;) {
    applyNavigationRules(window, origins);
    std::lock_guard lock(mu);
    if (external == origins) return;
    origins = external;
  }
}

}  // namespace shell
