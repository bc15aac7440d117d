// The process-wide handler slots and callback registries through which the
// core's events reach the system, and the one lock that guards them all.
#pragma once

#include <cstdint>
#include <functional>
#include <shared_mutex>
#include <string>

#include "binding/nimbrel.h"

namespace nimbrel {

// Guards the handler slots and the window and web-view registries. It is held
// only while a value is copied in or out, never while a callback or a core
// function runs, so a callback may itself set slots or register callbacks.
std::shared_mutex& callbacksMu();

void setStatusItemHandler(StatusItemHandler handler);
void setURLOpenHandler(URLOpenHandler handler);
void setAppReopenHandler(AppReopenHandler handler);
void setQuitRequestedHandler(QuitRequestedHandler handler);

// Per-window and per-web-view callbacks. An empty function means "none": the
// core is then handed NULL for it and never reports that event. The numbers of
// move, resize and key events and verdicts other than 1 are the core's, passed
// on unread.
using WindowCloseHandler = std::function<void(uint32_t windowId)>;
using WindowShouldCloseHandler = std::function<void(uint32_t windowId)>;
using WindowMoveHandler = std::function<void(uint32_t windowId, double x, double y)>;
using WindowResizeHandler =
    std::function<void(uint32_t windowId, double x, double y, double width, double height)>;
using WindowFocusHandler = std::function<void(uint32_t windowId)>;
using WindowBlurHandler = std::function<void(uint32_t windowId)>;
using WindowKeyHandler =
    std::function<void(uint32_t windowId, uint32_t a, uint32_t b, uint32_t c, uint32_t d)>;
// Answers 1 to allow the navigation.
using DecideNavigationHandler = std::function<uint32_t(uint32_t webviewId, const std::string& url)>;
using WebviewEventHandler =
    std::function<void(uint32_t webviewId, const std::string& name, const std::string& detail)>;
using WebviewPostMessageHandler =
    std::function<void(uint32_t webviewId, const std::string& message)>;

struct WindowCallbacks {
  WindowCloseHandler Close;              // the window has closed
  WindowShouldCloseHandler ShouldClose;  // the user asks to close it
  WindowMoveHandler Move;
  WindowResizeHandler Resize;
  WindowFocusHandler Focus;
  WindowBlurHandler Blur;
  WindowKeyHandler Key;
};

struct WebviewCallbacks {
  DecideNavigationHandler DecideNavigation;
  WebviewEventHandler Event;
  WebviewPostMessageHandler EventBridge;
  WebviewPostMessageHandler HostBridge;
  // Has no slot in the core: CreateWebview uses it as the host bridge when
  // HostBridge is empty.
  WebviewPostMessageHandler VeskBridge;
  WebviewPostMessageHandler InternalBridge;
};

// Stores the whole set under the id, replacing any earlier set without merging.
// A set with every callback empty is ignored, so an earlier entry stays. A set
// stays until the process ends, and with it what its callbacks captured: what
// should go with its window they hold only weakly.
void registerWindowCallbacks(uint32_t windowId, WindowCallbacks callbacks);
// The same for web views; VeskBridge alone does not make a set non-empty.
void registerWebviewCallbacks(uint32_t webviewId, WebviewCallbacks callbacks);

// An owned copy of a string that the core lends for one call; NULL reads as "".
inline std::string copyCoreString(const char* s) {
  return s ? std::string(s) : std::string();
}

}  // namespace nimbrel
