#include "state.h"

#include <cstdlib>

#include "style_mask.h"

namespace standin {

json rectJson(const Rect& r) {
  return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

Model& model() {
  static Model* m = [] {
    Model* made = new Model;
    made->displays = defaultDisplays();
    return made;
  }();
  return *m;
}

json defaultDisplays() {
  // One 1440 x 900 display at scale 2 with a 25-pixel menu bar on top.
  json display = {{"id", 1},
                  {"bounds", rectJson({0, 0, 1440, 900})},
                  {"workArea", rectJson({0, 25, 1440, 875})},
                  {"scaleFactor", 2},
                  {"isPrimary", true}};
  return json::array({display});
}

void resetModelLocked(Model& m, bool handlersToo) {
  m.app.reset();
  m.exitOnLastWindowClosed.reset();
  if (handlersToo) {
    m.urlOpenHandler = nullptr;
    m.appReopenHandler = nullptr;
    m.quitRequestedHandler = nullptr;
    m.globalShortcutHandler = nullptr;
  }
  m.runtime.reset();
  m.nextAllowedProtocols.reset();
  m.windows.clear();
  m.activeWindow = 0;
  m.closedWindows.clear();
  m.webviews.clear();
  m.removedWebviews.clear();
  m.hostQueue.clear();
  m.trays.clear();
  m.appMenu.reset();
  m.displays = defaultDisplays();
  m.primaryAnswer = DisplayAnswer{};
  m.allAnswer = DisplayAnswer{};
  m.notifications.clear();
  m.revealedFiles.clear();
  m.openedUrls.clear();
  m.openedPaths.clear();
  m.trashedPaths.clear();
  m.openExternalAnswer = true;
  m.dockIconVisible = true;
  m.clipboard.reset();
  m.shortcuts.clear();
  m.contextMenus.clear();
  m.performedRoles.clear();
}

namespace {

json optionalPair(const std::optional<std::pair<bool, bool>>& p) {
  return p ? json::array({p->first, p->second}) : json(nullptr);
}

json windowJson(const Model& m, const Window& w) {
  return {
      {"id", w.id},
      {"title", w.title},
      {"frame", rectJson(w.frame)},
      {"styleMask", w.styleMask},
      {"styleFlags", styleFlagsOf(w.styleMask)},
      {"titleBarStyle", w.titleBarStyle},
      {"flag1", w.flags[0]},
      {"flag2", w.flags[1]},
      {"flag3", w.flags[2]},
      {"flag4", w.flags[3]},
      {"number1", w.number1},
      {"number2", w.number2},
      {"visible", w.visible},
      {"active", m.activeWindow == w.id},
      {"minimized", w.minimized},
      {"maximized", w.maximized},
      {"fullScreen", w.fullScreen},
      {"alwaysOnTop", w.alwaysOnTop},
      {"visibleOnAllWorkspaces", w.allWorkspaces},
      {"buttonPosition",
       w.buttonPosition ? json({{"x", w.buttonPosition->first}, {"y", w.buttonPosition->second}})
                        : json(nullptr)},
      {"callbacks",
       {{"close", address(w.cb.close)},
        {"move", address(w.cb.move)},
        {"resize", address(w.cb.resize)},
        {"focus", address(w.cb.focus)},
        {"blur", address(w.cb.blur)},
        {"key", address(w.cb.key)},
        {"shouldClose", address(w.cb.shouldClose)}}},
  };
}

json webviewJson(const Webview& v) {
  json rules = nullptr;
  if (v.rulesText) rules = v.rules;
  return {
      {"id", v.id},
      {"window", v.window},
      {"secondId", v.secondId},
      {"renderer", v.renderer},
      {"url", v.url},
      {"frame", rectJson(v.frame)},
      {"viewFlag", v.viewFlag},
      {"partition", v.partition},
      {"secretKey", v.secretKey},
      {"preload", v.preload},
      {"viewsRoot", v.viewsRoot},
      {"flags", v.flags},
      {"allowedProtocols", optionalPair(v.allowedProtocols)},
      {"callbacks",
       {{"decideNavigation", address(v.cb.decideNavigation)},
        {"event", address(v.cb.event)},
        {"eventBridge", address(v.cb.eventBridge)},
        {"hostBridge", address(v.cb.hostBridge)},
        {"internalBridge", address(v.cb.internalBridge)}}},
      {"zoom", v.zoom},
      {"navigationRules", rules},
      {"navigationRulesText", v.rulesText ? json(*v.rulesText) : json(nullptr)},
      {"scripts", v.scripts},
      {"reloads", v.reloads},
      {"devToolsOpen", v.devToolsOpen},
      {"devToolsToggles", v.devToolsToggles},
      {"history", v.history},
      {"historyIndex", v.historyIndex},
      {"hidden", v.hidden},
      {"transparent", v.transparent},
      {"passthrough", v.passthrough},
      {"spellCheck", v.spellCheck},
      {"html", v.html ? json(*v.html) : json(nullptr)},
      {"transportMessages", v.transportMessages},
      {"internalMessages", v.internalMessages},
      {"finds", v.finds},
  };
}

json menuJson(const std::string& text) {
  json parsed = json::parse(text, nullptr, false);
  return parsed.is_discarded() ? json(nullptr) : parsed;
}

json trayJson(const Tray& t) {
  return {{"id", t.id},
          {"title", t.title},
          {"image", t.image},
          {"option", t.option},
          {"width", t.width},
          {"height", t.height},
          {"visible", t.visible},
          {"callback", address(t.cb)},
          {"menuText", t.menuText ? json(*t.menuText) : json(nullptr)},
          {"menu", t.menuText ? menuJson(*t.menuText) : json(nullptr)}};
}

json answerJson(const DisplayAnswer& a) {
  switch (a.mode) {
    case DisplayAnswer::Mode::kNull:
      return {{"mode", "null"}, {"error", a.error ? json(*a.error) : json(nullptr)}};
    case DisplayAnswer::Mode::kText:
      return {{"mode", "text"}, {"text", a.text}};
    case DisplayAnswer::Mode::kDisplays:
      break;
  }
  return {{"mode", "displays"}};
}

}  // namespace

json modelJsonLocked(const Model& m) {
  json windows = json::array();
  for (const auto& [id, w] : m.windows) windows.push_back(windowJson(m, w));
  json webviews = json::array();
  for (const auto& [id, v] : m.webviews) webviews.push_back(webviewJson(v));
  json trays = json::array();
  for (const auto& [id, t] : m.trays) trays.push_back(trayJson(t));
  json menu = nullptr;
  if (m.appMenu) {
    menu = {{"text", m.appMenu->text},
            {"menu", menuJson(m.appMenu->text)},
            {"callback", address(m.appMenu->cb)}};
  }
  return {
      {"app", m.app ? *m.app : json(nullptr)},
      {"exitOnLastWindowClosed",
       m.exitOnLastWindowClosed ? json(*m.exitOnLastWindowClosed) : json(nullptr)},
      {"handlers",
       {{"urlOpen", address(m.urlOpenHandler)},
        {"appReopen", address(m.appReopenHandler)},
        {"quitRequested", address(m.quitRequestedHandler)},
        {"globalShortcut", address(m.globalShortcutHandler)}}},
      {"runtime", m.runtime ? *m.runtime : json(nullptr)},
      {"nextAllowedProtocols", optionalPair(m.nextAllowedProtocols)},
      {"windows", windows},
      {"activeWindow", m.activeWindow},
      {"closedWindows", m.closedWindows},
      {"webviews", webviews},
      {"removedWebviews", m.removedWebviews},
      {"hostQueue", {{"pending", m.hostQueue.size()}, {"unfreed", m.unfreedHostStrings.size()}}},
      {"trays", trays},
      {"applicationMenu", menu},
      {"displays", m.displays},
      {"displayAnswers",
       {{"getPrimaryDisplay", answerJson(m.primaryAnswer)},
        {"getAllDisplays", answerJson(m.allAnswer)}}},
      {"notifications", m.notifications},
      {"revealedFiles", m.revealedFiles},
      {"openedUrls", m.openedUrls},
      {"openExternalAnswer", m.openExternalAnswer},
      {"openedPaths", m.openedPaths},
      {"trashedPaths", m.trashedPaths},
      {"dockIconVisible", m.dockIconVisible},
      {"clipboard", m.clipboard ? json(*m.clipboard) : json(nullptr)},
      {"globalShortcuts", m.shortcuts},
      {"contextMenus", m.contextMenus},
      {"performedRoles", m.performedRoles},
      {"nextIds",
       {{"window", m.nextWindowId}, {"webview", m.nextWebviewId}, {"tray", m.nextTrayId}}},
  };
}

}  // namespace standin
