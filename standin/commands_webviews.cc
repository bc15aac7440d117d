// What pages do: posts to the host, navigations, new-window requests,
// downloads and any other web-view event; and what pages received.
#include <mutex>

#include "commands.h"
#include "events.h"
#include "export_helpers.h"
#include "state.h"
#include "webview_model.h"

namespace standin {

namespace {

bool plainTextForm(const json& cmd) {
  std::string form = optString(cmd, "form").value_or("object");
  if (form != "object" && form != "text") throw CommandError("\"form\" must be object or text");
  return form == "text";
}

// Runs `work` on the web view under the lock, then makes its callbacks and
// waits for them.
template <typename Work>
size_t onPage(const json& cmd, Work work) {
  uint32_t id = needU32(cmd, "webview");
  Deliveries out;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    Webview* v = findIn(m.webviews, id);
    if (!v) throw CommandError(missing("web view", id));
    work(m, *v, out);
  }
  size_t made = out.size();
  deliverNow(std::move(out));
  return made;
}

void addMessage(const char* name, WebviewMessageFn fn, uint32_t id, const std::string& message,
                Deliveries& out) {
  if (!fn) return;
  out.push_back({name, json::array({id, message}), [fn, id, message] { fn(id, message.c_str()); }});
}

json post(const json& cmd) {
  std::string message = needString(cmd, "message");
  std::string via = optString(cmd, "via").value_or("both");
  if (via != "both" && via != "queue" && via != "host-bridge" && via != "event-bridge" &&
      via != "internal-bridge") {
    throw CommandError("\"via\" must be both, queue, host-bridge, event-bridge or internal-bridge");
  }
  bool queued = false;
  size_t made = onPage(cmd, [&](Model& m, Webview& v, Deliveries& out) {
    if (via == "both" || via == "queue") {
      m.hostQueue.emplace_back(v.id, message);
      queued = true;
    }
    if (via == "both" || via == "host-bridge")
      addMessage("hostBridge", v.cb.hostBridge, v.id, message, out);
    if (via == "event-bridge") addMessage("eventBridge", v.cb.eventBridge, v.id, message, out);
    if (via == "internal-bridge") {
      addMessage("internalBridge", v.cb.internalBridge, v.id, message, out);
    }
  });
  return {{"queued", queued}, {"callbacks", made}};
}

json navigate(const json& cmd) {
  uint32_t id = needU32(cmd, "webview");
  std::string url = needString(cmd, "url");
  bool plainText = plainTextForm(cmd);
  {
    std::lock_guard lock(model().mu);
    if (!model().webviews.count(id)) throw CommandError(missing("web view", id));
  }
  NavigationOutcome outcome = NavigationOutcome::kGone;
  deliverNow({{"", json(), [&] { outcome = navigateOnEventThread(id, url, plainText); }}});
  return {{"outcome", outcomeName(outcome)}};
}

json newWindow(const json& cmd) {
  std::string url = needString(cmd, "url");
  bool plainText = plainTextForm(cmd);
  size_t made = onPage(cmd, [&](Model&, Webview& v, Deliveries& out) {
    addWebviewEvent(v, "new-window-open", urlDetail(url, plainText), out);
  });
  return {{"callbacks", made}};
}

json download(const json& cmd) {
  auto success = cmd.find("success");
  if (success == cmd.end() || !success->is_boolean()) {
    throw CommandError("\"success\" must be a boolean");
  }
  json detail = json::object();
  if (auto name = optString(cmd, "filename")) detail["filename"] = *name;
  if (auto path = optString(cmd, "destinationPath")) detail["destinationPath"] = *path;
  const char* event = success->get<bool>() ? "download-completed" : "download-failed";
  size_t made = onPage(cmd, [&](Model&, Webview& v, Deliveries& out) {
    addWebviewEvent(v, event, dumpJson(detail), out);
  });
  return {{"callbacks", made}};
}

json webviewEvent(const json& cmd) {
  std::string event = needString(cmd, "event");
  std::string detail = needString(cmd, "detail");
  size_t made = onPage(
      cmd, [&](Model&, Webview& v, Deliveries& out) { addWebviewEvent(v, event, detail, out); });
  return {{"callbacks", made}};
}

json scripts(const json& cmd) {
  json out;
  onPage(cmd, [&](Model&, Webview& v, Deliveries&) { out = v.scripts; });
  return {{"scripts", out}};
}

json clearScripts(const json& cmd) {
  onPage(cmd, [](Model&, Webview& v, Deliveries&) { v.scripts.clear(); });
  return json::object();
}

}  // namespace

void addWebviewCommands(CommandTable& table) {
  table["post"] = post;
  table["navigate"] = navigate;
  table["new-window"] = newWindow;
  table["download"] = download;
  table["webview-event"] = webviewEvent;
  table["scripts"] = scripts;
  table["clear-scripts"] = clearScripts;
}

}  // namespace standin
