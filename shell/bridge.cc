// The host bridge: the preload's configuration, the two roads by which page
// requests arrive, their acceptance, and delivery of replies and events.
#include "shell/bridge.h"

#include "binding/webviews.h"

#include <chrono>
#include <thread>

#include "shell/links.h"
#include "shell/resources.h"
#include "shell/shell.h"
#include "support/file.h"
#include "support/tasks.h"

namespace shell {
namespace {

constexpr std::string_view kPreloadResource = "views/preload/index.js";
constexpr std::string_view kPlaceholderDouble = "\"__BK_DESKTOP_CONFIG__\"";
constexpr std::string_view kPlaceholderSingle = "'__BK_DESKTOP_CONFIG__'";
constexpr std::string_view kReceiveCall = "window.__bkDesktopReceive&&window.__bkDesktopReceive(";

// Whether the window's current page is on `origin`. Every request and every
// delivery asks, and a page's address seldom changes, so each thread keeps the
// origin of the last address it looked at until that address changes. The
// stamp is read before the address, so an address changed in between only
// makes the next call look again.
bool pageOnOrigin(const windowPtr& window, const std::string& origin) {
  thread_local uint64_t lastStamp = 0;
  thread_local std::string lastOrigin;
  const uint64_t stamp = window->urlStamp();
  if (stamp != lastStamp) {
    lastOrigin = originOf(window->currentURL());
    lastStamp = stamp;
  }
  return lastOrigin == origin;
}

}  // namespace

std::optional<request> decodeRequest(std::string_view text) {
  request r;
  support::Status status = support::json::decodeObject(text, [&](support::json::Object& o) {
    o.field("bk", r.Token);
    o.field("id", r.ID);
    o.field("cmd", r.Cmd);
    o.field("args", r.Args);
  });
  if (!status) return std::nullopt;
  return r;
}

std::string preloadConfigLiteral(std::string_view origin, std::string_view token) {
  support::json::Writer config;
  config.beginObject();
  config.key("origin").string(origin);
  config.key("platform").string("macos");
  config.key("screenSource").string("");
  config.key("token").string(token);
  config.endObject();
  return support::json::quote(config.text());
}

std::optional<std::string> injectPreloadConfig(std::string_view script, std::string_view literal) {
  std::string out;
  bool replaced = false;
  size_t at = 0;
  while (at < script.size()) {
    std::string_view rest = script.substr(at);
    if (rest.starts_with(kPlaceholderDouble) || rest.starts_with(kPlaceholderSingle)) {
      out += literal;
      at += kPlaceholderDouble.size();
      replaced = true;
    } else {
      out += script[at++];
    }
  }
  if (!replaced) return std::nullopt;
  return out;
}

std::string deliveryScript(std::string_view json) {
  std::string script;
  script.reserve(kReceiveCall.size() + json.size() + 1);
  script += kReceiveCall;
  script += json;
  script += ')';
  return script;
}

support::Result<std::string> shell::loadPreload() const {
  std::string path = findResource(bundle.ResourcesDir, std::string(kPreloadResource));
  if (path.empty()) {
    return support::makeError("the preload (views/preload/index.js) is missing from the bundle");
  }
  auto script = support::readFile(path);
  if (!script) return script.error();
  auto injected = injectPreloadConfig(*script, preloadConfigLiteral(origin, token));
  if (!injected) return support::makeError("the preload has no settings placeholder");
  return *injected;
}

void shell::drainHostMessages() {
  for (;;) {
    std::optional<nimbrel::HostMessage> message = core->PopNextQueuedHostMessageString();
    if (!message) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (windowPtr window = windowForView(message->WebviewID)) {
      onHostMessage(window, message->Message, route::queue);
    }
  }
}

windowPtr shell::windowForView(uint32_t view) {
  std::lock_guard lock(mu);
  for (const auto& [id, window] : windows) {
    if (window->view == view) return window;
  }
  return nullptr;
}

void shell::hostBridge(uint32_t view, const std::string& message) {
  auto self = shared_from_this();
  support::runInBackground([self, view, message] {
    if (windowPtr window = self->windowForView(view)) {
      self->onHostMessage(window, message, route::hostBridge);
    }
  });
}

void shell::onHostMessage(const windowPtr& window, const std::string& message, route by) {
  std::optional<request> r = decodeRequest(message);
  if (!r) return;
  if (r->Token != token) return;
  if (!pageOnOrigin(window, origin)) return;
  if (!window->firstDelivery(r->ID, by)) return;
  auto self = shared_from_this();
  support::runInBackground([self, window, r = std::move(*r)] {
    commandResult result = self->command(window, r.Cmd, r.Args.text);
    self->send(window, [&](support::json::Writer& w) {
      w.beginObject();
      if (!result) {
        w.key("error").string(result.error().message);
        w.key("id").integer(r.ID);
        w.key("ok").boolean(false);
      } else {
        w.key("id").integer(r.ID);
        w.key("ok").boolean(true);
        w.key("result").raw(result->text);
      }
      w.endObject();
    });
  });
}

void shell::send(const windowPtr& window, const jsonValue& value) {
  if (!window) return;
  if (!pageOnOrigin(window, origin)) return;
  support::json::Writer w;
  value(w);
  auto text = w.finish();
  if (!text) return;
  (void)core->EvaluateJavaScriptWithNoCompletion(window->view, deliveryScript(*text));
}

void shell::emit(const windowPtr& window, std::string_view event, const jsonValue& payload) {
  send(window, [&](support::json::Writer& w) {
    w.beginObject();
    w.key("event").string(event);
    w.key("payload");
    if (payload) {
      payload(w);
    } else {
      w.null();
    }
    w.endObject();
  });
}

}  // namespace shell
