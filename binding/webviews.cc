// Web-view operations: the runtime's preload scripts, creation with its
// callbacks, the operations on an existing web view and the queue of messages
// that pages post to the application.
#include "binding/webviews.h"

#include <cstdint>
#include <optional>
#include <string>

#include "binding/callbacks.h"
#include "binding/nimbrel.h"
#include "binding/nm_helpers.h"
#include "support/file.h"
#include "support/path.h"

namespace nimbrel {

WebviewOptions NewWebviewOptions(uint32_t windowId, const std::string& url, const Rect& frame) {
  WebviewOptions options;
  options.WindowID = windowId;
  options.URL = url;
  options.Frame = frame;
  options.Renderer = "native";
  options.ViewFlag = true;
  options.AllowProtocol1 = true;
  return options;
}

uint32_t AllowAllNavigation(uint32_t /*webviewId*/, const std::string& /*url*/) {
  return 1;
}

void NoopWebviewPostMessage(uint32_t /*webviewId*/, const std::string& /*message*/) {}

// Both scripts come from the resources directory; ExeDir is not used.
support::Status Core::ConfigureWebviewRuntimeFromExecutableDir(const BundlePaths& paths,
                                                               uint32_t number) const {
  auto full = support::readFile(support::joinPath({paths.ResourcesDir, "preload-full.js"}));
  if (!full) return full.error();
  auto sandboxed =
      support::readFile(support::joinPath({paths.ResourcesDir, "preload-sandboxed.js"}));
  if (!sandboxed) return sandboxed.error();
  auto cFull = cString(*full, "preload-full.js");
  if (!cFull) return cFull.error();
  auto cSandboxed = cString(*sandboxed, "preload-sandboxed.js");
  if (!cSandboxed) return cSandboxed.error();
  if (!nm_call_configure_webview_runtime(symbol("configureWebviewRuntime"), number, cFull->c(),
                                         cSandboxed->c())) {
    return lastCallFailed();
  }
  return {};
}

support::Result<uint32_t> Core::CreateWebview(WebviewOptions options) const {
  auto renderer = cString(options.Renderer, "renderer");
  if (!renderer) return renderer.error();
  auto url = cString(options.URL, "webview url");
  if (!url) return url.error();
  auto partition = cString(options.Partition, "partition");
  if (!partition) return partition.error();
  auto secretKey = cString(options.SecretKey, "secret key");
  if (!secretKey) return secretKey.error();
  auto preload = cString(options.Preload, "preload");
  if (!preload) return preload.error();
  auto viewsRoot = cString(options.ViewsRoot, "views root");
  if (!viewsRoot) return viewsRoot.error();

  WebviewCallbacks& c = options.Callbacks;
  // VeskBridge has no slot of its own: it is the host bridge when none is set.
  if (!c.HostBridge) c.HostBridge = c.VeskBridge;

  // Applies to the next createWebview, which follows at once.
  nm_call_bool_bool(symbol("setNextWebviewAllowedProtocols"), cbool(options.AllowProtocol1),
                    cbool(options.AllowProtocol2));

  const Rect& f = options.Frame;
  uint32_t id = nm_call_create_webview(
      symbol("createWebview"), options.WindowID, options.SecondID, renderer->c(), url->c(), f.X,
      f.Y, f.Width, f.Height, cbool(options.ViewFlag), partition->c(),
      cbool(bool(c.DecideNavigation)), cbool(bool(c.Event)), cbool(bool(c.EventBridge)),
      cbool(bool(c.HostBridge)), cbool(bool(c.InternalBridge)), secretKey->c(), preload->c(),
      viewsRoot->c(), cbool(options.Flag1), cbool(options.Flag2), cbool(options.Flag3),
      cbool(options.Flag4));
  if (id == 0) return lastCallFailed();
  // Navigations the core asked about while createWebview ran were allowed.
  registerWebviewCallbacks(id, std::move(options.Callbacks));
  return id;
}

support::Status Core::ReloadWebview(uint32_t webviewId) const {
  nm_call_u32(symbol("webviewReload"), webviewId);
  return ensureLastCallSucceeded();
}

support::Status Core::SetWebviewNavigationRules(uint32_t webviewId,
                                                const std::string& rulesJSON) const {
  auto rules = cString(rulesJSON, "navigation rules json");
  if (!rules) return rules.error();
  nm_call_u32_string(symbol("setWebviewNavigationRules"), webviewId, rules->c());
  return ensureLastCallSucceeded();
}

support::Status Core::ToggleWebviewDevtools(uint32_t webviewId) const {
  nm_call_u32(symbol("webviewToggleDevTools"), webviewId);
  return ensureLastCallSucceeded();
}

support::Status Core::SetWebviewPageZoom(uint32_t webviewId, double zoom) const {
  nm_call_u32_f64(symbol("webviewSetPageZoom"), webviewId, zoom);
  return ensureLastCallSucceeded();
}

double Core::GetWebviewPageZoom(uint32_t webviewId) const {
  return nm_call_u32_f64_ret(symbol("webviewGetPageZoom"), webviewId);
}

support::Status Core::EvaluateJavaScriptWithNoCompletion(uint32_t webviewId,
                                                         const std::string& script) const {
  auto cScript = cString(script, "javascript");
  if (!cScript) return cScript.error();
  nm_call_u32_string(symbol("evaluateJavaScriptWithNoCompletion"), webviewId, cScript->c());
  return ensureLastCallSucceeded();
}

std::optional<HostMessage> Core::PopNextQueuedHostMessageString() const {
  uint32_t webviewId = 0;
  char* text = nm_call_pop_host_message(symbol("popNextQueuedHostMessage"), &webviewId);
  if (text == nullptr) return std::nullopt;
  HostMessage message{webviewId, text};
  // The text is ours once popped; the core wants it back for freeing.
  nm_call_free_core_string(symbol("freeCoreString"), text);
  return message;
}

}  // namespace nimbrel
