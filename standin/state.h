// The headless model of everything the core keeps: the application's
// identity and handlers, windows, web views, the tray, menus, displays and
// the records of desktop services. One lock guards it all; it is never held
// while a callback runs (see events.h).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "c_types.h"
#include "json_text.h"

namespace standin {

// Frames and display areas share one coordinate space: the origin at the top
// left of the primary display, y growing downwards.
struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};
json rectJson(const Rect& r);

struct WindowCallbacks {
  WindowIdFn close = nullptr;
  WindowMoveFn move = nullptr;
  WindowResizeFn resize = nullptr;
  WindowIdFn focus = nullptr;
  WindowIdFn blur = nullptr;
  WindowKeyFn key = nullptr;
  WindowIdFn shouldClose = nullptr;
};

struct Window {
  uint32_t id = 0;
  Rect frame;
  std::string title;
  std::string titleBarStyle;
  uint32_t styleMask = 0;
  std::array<bool, 4> flags{};  // Flag1 to Flag4 as given
  double number1 = 0, number2 = 0;
  bool visible = false;
  bool minimized = false;
  bool maximized = false;
  bool fullScreen = false;
  bool alwaysOnTop = false;
  bool allWorkspaces = false;
  std::optional<std::pair<double, double>> buttonPosition;
  std::optional<Rect> frameBeforeMaximize;
  std::optional<Rect> frameBeforeFullScreen;
  WindowCallbacks cb;
};

struct WebviewCallbacks {
  DecideNavigationFn decideNavigation = nullptr;
  WebviewEventFn event = nullptr;
  WebviewMessageFn eventBridge = nullptr;
  WebviewMessageFn hostBridge = nullptr;
  WebviewMessageFn internalBridge = nullptr;
};

struct Webview {
  uint32_t id = 0;
  uint32_t window = 0;
  uint32_t secondId = 0;
  std::string renderer;
  std::string url;
  Rect frame;
  bool viewFlag = false;
  std::string partition, secretKey, preload, viewsRoot;
  std::array<bool, 4> flags{};
  std::optional<std::pair<bool, bool>> allowedProtocols;  // from setNextWebviewAllowedProtocols
  WebviewCallbacks cb;
  double zoom = 1.0;
  std::optional<std::string> rulesText;
  std::vector<std::string> rules;
  std::vector<std::string> scripts;  // evaluated, in order
  uint64_t reloads = 0;
  bool devToolsOpen = false;
  uint64_t devToolsToggles = 0;
  std::vector<std::string> history;
  size_t historyIndex = 0;
  bool hidden = false, transparent = false, passthrough = false, spellCheck = true;
  std::optional<std::string> html;
  std::vector<std::string> transportMessages, internalMessages;
  std::vector<json> finds;
};

struct Tray {
  uint32_t id = 0;
  std::string title, image;
  bool option = false;
  uint32_t width = 0, height = 0;
  bool visible = true;
  StatusItemFn cb = nullptr;
  std::optional<std::string> menuText;
};

struct AppMenu {
  std::string text;
  StatusItemFn cb = nullptr;
};

// What a display query answers: the configured list, NULL, or given text.
struct DisplayAnswer {
  enum class Mode { kDisplays, kNull, kText } mode = Mode::kDisplays;
  std::string text;
  std::optional<std::string> error;  // last-error text with kNull
};

struct Model {
  std::mutex mu;

  uint32_t nextWindowId = 1, nextWebviewId = 1, nextTrayId = 1;

  std::optional<json> app;  // identity given to the event loop
  std::optional<bool> exitOnLastWindowClosed;
  StringFn urlOpenHandler = nullptr;
  VoidFn appReopenHandler = nullptr;
  VoidFn quitRequestedHandler = nullptr;
  StringFn globalShortcutHandler = nullptr;

  std::optional<json> runtime;  // configureWebviewRuntime
  std::optional<std::pair<bool, bool>> nextAllowedProtocols;

  std::map<uint32_t, Window> windows;
  uint32_t activeWindow = 0;
  std::vector<uint32_t> closedWindows;
  std::map<uint32_t, Webview> webviews;
  std::vector<uint32_t> removedWebviews;

  std::deque<std::pair<uint32_t, std::string>> hostQueue;
  std::set<char*> unfreedHostStrings;  // handed out, not yet given back

  std::map<uint32_t, Tray> trays;
  std::optional<AppMenu> appMenu;

  json displays;
  DisplayAnswer primaryAnswer, allAnswer;

  std::vector<json> notifications;
  std::vector<std::string> revealedFiles;
  std::vector<json> openedUrls;  // {"url", "answer"}
  std::vector<std::string> openedPaths, trashedPaths;
  bool openExternalAnswer = true;
  bool dockIconVisible = true;
  std::optional<std::string> clipboard;
  std::set<std::string> shortcuts;
  std::vector<std::string> contextMenus;
  std::vector<json> performedRoles;
};

Model& model();

// Back to the starting state. The id counters keep counting, so an id is
// never handed out twice unless a test asks for it; the application handlers
// stay unless `handlersToo`; strings handed out stay valid for freeCoreString.
void resetModelLocked(Model& m, bool handlersToo);
json modelJsonLocked(const Model& m);

json defaultDisplays();

}  // namespace standin
