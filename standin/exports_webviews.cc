// Web views, the web-view runtime and the queue of host messages.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "calls.h"
#include "export.h"
#include "export_helpers.h"
#include "state.h"
#include "webview_model.h"

using namespace standin;

namespace {

uint32_t takeWebviewId(Model& m) {
  while (m.nextWebviewId == 0 || m.webviews.count(m.nextWebviewId)) ++m.nextWebviewId;
  return m.nextWebviewId++;
}

// Reports a fresh page load of the current address, as a reload or a move in
// the history does.
void addPageLoaded(const Webview& v, Deliveries& out) {
  std::string detail = urlDetail(v.url, false);
  addWebviewEvent(v, "did-navigate", detail, out);
  addWebviewEvent(v, "did-commit-navigation", detail, out);
}

void setWebviewFlag(const char* fn, uint32_t id, bool on, bool Webview::*flag) {
  Call call(fn, json::array({id, on}));
  if (call.refused()) return;
  onWebview(call, id, [&](Model&, Webview& v, Deliveries&) { v.*flag = on; });
}

}  // namespace

STANDIN_EXPORT bool configureWebviewRuntime(uint32_t number, const char* fullPreload,
                                            const char* sandboxedPreload) {
  Call call("configureWebviewRuntime",
            json::array({number, cText(fullPreload), cText(sandboxedPreload)}));
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  model().runtime = json{{"number", number},
                         {"fullPreload", cText(fullPreload)},
                         {"sandboxedPreload", cText(sandboxedPreload)}};
  return call.ret(true);
}

STANDIN_EXPORT void setNextWebviewAllowedProtocols(bool first, bool second) {
  Call call("setNextWebviewAllowedProtocols", json::array({first, second}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().nextAllowedProtocols = std::pair{first, second};
}

STANDIN_EXPORT uint32_t createWebview(uint32_t windowId, uint32_t secondId, const char* renderer,
                                      const char* url, double x, double y, double width,
                                      double height, bool viewFlag, const char* partition,
                                      DecideNavigationFn onDecideNavigation, WebviewEventFn onEvent,
                                      WebviewMessageFn onEventBridge, WebviewMessageFn onHostBridge,
                                      WebviewMessageFn onInternalBridge, const char* secretKey,
                                      const char* preload, const char* viewsRoot, bool flag1,
                                      bool flag2, bool flag3, bool flag4) {
  Call call("createWebview", json::array({windowId,
                                          secondId,
                                          cText(renderer),
                                          cText(url),
                                          x,
                                          y,
                                          width,
                                          height,
                                          viewFlag,
                                          cText(partition),
                                          address(onDecideNavigation),
                                          address(onEvent),
                                          address(onEventBridge),
                                          address(onHostBridge),
                                          address(onInternalBridge),
                                          cText(secretKey),
                                          cText(preload),
                                          cText(viewsRoot),
                                          flag1,
                                          flag2,
                                          flag3,
                                          flag4}));
  if (call.refused()) return call.ret(uint32_t{0});
  Model& m = model();
  std::lock_guard lock(m.mu);
  if (!m.windows.count(windowId)) {
    call.fail(missing("window", windowId));
    return call.ret(uint32_t{0});
  }
  Webview v;
  v.id = takeWebviewId(m);
  v.window = windowId;
  v.secondId = secondId;
  v.renderer = textOf(renderer);
  v.url = textOf(url);
  v.frame = {x, y, width, height};
  v.viewFlag = viewFlag;
  v.partition = textOf(partition);
  v.secretKey = textOf(secretKey);
  v.preload = textOf(preload);
  v.viewsRoot = textOf(viewsRoot);
  v.flags = {flag1, flag2, flag3, flag4};
  v.cb = {onDecideNavigation, onEvent, onEventBridge, onHostBridge, onInternalBridge};
  // The pair set just before applies to this web view only.
  v.allowedProtocols = m.nextAllowedProtocols;
  m.nextAllowedProtocols.reset();
  v.history.push_back(v.url);
  uint32_t id = v.id;
  m.webviews[id] = std::move(v);
  return call.ret(id);
}

STANDIN_EXPORT void resizeWebview(uint32_t id, double x, double y, double width, double height) {
  Call call("resizeWebview", json::array({id, x, y, width, height}));
  if (call.refused()) return;
  onWebview(call, id, [=](Model&, Webview& v, Deliveries&) {
    v.frame = Rect{x, y, width, height};
  });
}

STANDIN_EXPORT void loadURLInWebView(uint32_t id, const char* url) {
  Call call("loadURLInWebView", json::array({id, cText(url)}));
  if (call.refused()) return;
  bool exists = queryWebview(call, id, false, [](Webview&) { return true; });
  if (!exists) return;
  std::string target = textOf(url);
  deliverLater({{"", json(), [id, target] { navigateOnEventThread(id, target, false); }}});
}

STANDIN_EXPORT void loadHTMLInWebView(uint32_t id, const char* html) {
  Call call("loadHTMLInWebView", json::array({id, cText(html)}));
  if (call.refused()) return;
  onWebview(call, id, [&](Model&, Webview& v, Deliveries&) { v.html = textOf(html); });
}

STANDIN_EXPORT void setWebviewHTMLContent(uint32_t id, const char* html) {
  Call call("setWebviewHTMLContent", json::array({id, cText(html)}));
  if (call.refused()) return;
  onWebview(call, id, [&](Model&, Webview& v, Deliveries&) { v.html = textOf(html); });
}

STANDIN_EXPORT bool webviewCanGoBack(uint32_t id) {
  Call call("webviewCanGoBack", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(queryWebview(call, id, false, [](Webview& v) { return v.historyIndex > 0; }));
}

STANDIN_EXPORT bool webviewCanGoForward(uint32_t id) {
  Call call("webviewCanGoForward", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(queryWebview(call, id, false,
                               [](Webview& v) { return v.historyIndex + 1 < v.history.size(); }));
}

STANDIN_EXPORT void webviewGoBack(uint32_t id) {
  Call call("webviewGoBack", json::array({id}));
  if (call.refused()) return;
  onWebview(call, id, [](Model&, Webview& v, Deliveries& out) {
    if (v.historyIndex == 0) return;
    v.url = v.history[--v.historyIndex];
    addPageLoaded(v, out);
  });
}

STANDIN_EXPORT void webviewGoForward(uint32_t id) {
  Call call("webviewGoForward", json::array({id}));
  if (call.refused()) return;
  onWebview(call, id, [](Model&, Webview& v, Deliveries& out) {
    if (v.historyIndex + 1 >= v.history.size()) return;
    v.url = v.history[++v.historyIndex];
    addPageLoaded(v, out);
  });
}

// A reload starts a new page at the same address.
STANDIN_EXPORT void webviewReload(uint32_t id) {
  Call call("webviewReload", json::array({id}));
  if (call.refused()) return;
  onWebview(call, id, [](Model&, Webview& v, Deliveries& out) {
    ++v.reloads;
    addPageLoaded(v, out);
  });
}

STANDIN_EXPORT void webviewRemove(uint32_t id) {
  Call call("webviewRemove", json::array({id}));
  if (call.refused()) return;
  Model& m = model();
  std::lock_guard lock(m.mu);
  if (!m.webviews.erase(id)) {
    call.fail(missing("web view", id));
    return;
  }
  m.removedWebviews.push_back(id);
}

STANDIN_EXPORT void webviewSetTransparent(uint32_t id, bool on) {
  setWebviewFlag("webviewSetTransparent", id, on, &Webview::transparent);
}

STANDIN_EXPORT void webviewSetPassthrough(uint32_t id, bool on) {
  setWebviewFlag("webviewSetPassthrough", id, on, &Webview::passthrough);
}

STANDIN_EXPORT void webviewSetHidden(uint32_t id, bool on) {
  setWebviewFlag("webviewSetHidden", id, on, &Webview::hidden);
}

STANDIN_EXPORT void webviewSetSpellCheck(uint32_t id, bool on) {
  setWebviewFlag("webviewSetSpellCheck", id, on, &Webview::spellCheck);
}

STANDIN_EXPORT void setWebviewNavigationRules(uint32_t id, const char* rulesJson) {
  Call call("setWebviewNavigationRules", json::array({id, cText(rulesJson)}));
  if (call.refused()) return;
  std::vector<std::string> rules;
  if (!parseRules(textOf(rulesJson), rules)) {
    call.fail("navigation rules must be a JSON array of strings");
    return;
  }
  onWebview(call, id, [&](Model&, Webview& v, Deliveries&) {
    v.rulesText = textOf(rulesJson);
    v.rules = rules;
  });
}

STANDIN_EXPORT void webviewFindInPage(uint32_t id, const char* text, bool forward, bool matchCase) {
  Call call("webviewFindInPage", json::array({id, cText(text), forward, matchCase}));
  if (call.refused()) return;
  onWebview(call, id, [&](Model&, Webview& v, Deliveries&) {
    v.finds.push_back({{"text", cText(text)}, {"forward", forward}, {"matchCase", matchCase}});
  });
}

STANDIN_EXPORT void webviewStopFind(uint32_t id) {
  Call call("webviewStopFind", json::array({id}));
  if (call.refused()) return;
  onWebview(call, id, [](Model&, Webview&, Deliveries&) {});
}

STANDIN_EXPORT void webviewOpenDevTools(uint32_t id) {
  Call call("webviewOpenDevTools", json::array({id}));
  if (call.refused()) return;
  onWebview(call, id, [](Model&, Webview& v, Deliveries&) { v.devToolsOpen = true; });
}

STANDIN_EXPORT void webviewCloseDevTools(uint32_t id) {
  Call call("webviewCloseDevTools", json::array({id}));
  if (call.refused()) return;
  onWebview(call, id, [](Model&, Webview& v, Deliveries&) { v.devToolsOpen = false; });
}

STANDIN_EXPORT void webviewToggleDevTools(uint32_t id) {
  Call call("webviewToggleDevTools", json::array({id}));
  if (call.refused()) return;
  onWebview(call, id, [](Model&, Webview& v, Deliveries&) {
    v.devToolsOpen = !v.devToolsOpen;
    ++v.devToolsToggles;
  });
}

STANDIN_EXPORT void webviewSetPageZoom(uint32_t id, double zoom) {
  Call call("webviewSetPageZoom", json::array({id, zoom}));
  if (call.refused()) return;
  if (!std::isfinite(zoom) || zoom <= 0) {
    call.fail("page zoom must be a positive number");
    return;
  }
  onWebview(call, id, [zoom](Model&, Webview& v, Deliveries&) { v.zoom = zoom; });
}

STANDIN_EXPORT double webviewGetPageZoom(uint32_t id) {
  Call call("webviewGetPageZoom", json::array({id}));
  if (call.refused()) return call.ret(0.0);
  return call.ret(queryWebview(call, id, 0.0, [](Webview& v) { return v.zoom; }));
}

STANDIN_EXPORT void sendInternalMessageToWebview(uint32_t id, const char* message) {
  Call call("sendInternalMessageToWebview", json::array({id, cText(message)}));
  if (call.refused()) return;
  onWebview(call, id, [&](Model&, Webview& v, Deliveries&) {
    v.internalMessages.push_back(textOf(message));
  });
}

STANDIN_EXPORT void sendHostMessageToWebviewViaTransport(uint32_t id, const char* message) {
  Call call("sendHostMessageToWebviewViaTransport", json::array({id, cText(message)}));
  if (call.refused()) return;
  onWebview(call, id, [&](Model&, Webview& v, Deliveries&) {
    v.transportMessages.push_back(textOf(message));
  });
}

STANDIN_EXPORT void evaluateJavaScriptWithNoCompletion(uint32_t id, const char* script) {
  Call call("evaluateJavaScriptWithNoCompletion", json::array({id, cText(script)}));
  if (call.refused()) return;
  onWebview(call, id,
            [&](Model&, Webview& v, Deliveries&) { v.scripts.push_back(textOf(script)); });
}

// The caller owns the text and gives it back with freeCoreString.
STANDIN_EXPORT char* popNextQueuedHostMessage(uint32_t* webviewId) {
  Call call("popNextQueuedHostMessage", json::array({address(webviewId)}),
            Call::Kind::kTraceOnlyWithResult);
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  Model& m = model();
  std::lock_guard lock(m.mu);
  if (m.hostQueue.empty()) return call.ret(static_cast<char*>(nullptr));
  auto [id, text] = std::move(m.hostQueue.front());
  m.hostQueue.pop_front();
  char* out = static_cast<char*>(malloc(text.size() + 1));
  if (!out) {
    call.fail("out of memory");
    return call.ret(static_cast<char*>(nullptr));
  }
  memcpy(out, text.c_str(), text.size() + 1);
  m.unfreedHostStrings.insert(out);
  if (webviewId) *webviewId = id;
  return call.ret(out);
}

// Frees only strings the core handed out, and each once; an injected failure
// still frees, so a test never leaks through it.
STANDIN_EXPORT void freeCoreString(char* text) {
  Call call("freeCoreString", json::array({address(text)}));
  if (!text) return;
  Model& m = model();
  std::lock_guard lock(m.mu);
  if (!m.unfreedHostStrings.erase(text)) {
    call.fail("freeCoreString: not a string of the core");
    return;
  }
  free(text);
}
