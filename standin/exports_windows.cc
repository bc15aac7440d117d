// Native windows. A window appears, hides, takes and loses the focus as the
// platform's would; its callbacks are made on the event thread.
#include <array>
#include <cstdint>
#include <mutex>

#include "calls.h"
#include "displays.h"
#include "export.h"
#include "export_helpers.h"
#include "state.h"
#include "style_mask.h"
#include "window_model.h"

using namespace standin;

namespace {

// Ids are never 0 and never one that is in use, also after next-ids.
uint32_t takeWindowId(Model& m) {
  while (m.nextWindowId == 0 || m.windows.count(m.nextWindowId)) ++m.nextWindowId;
  return m.nextWindowId++;
}

}  // namespace

STANDIN_EXPORT uint32_t getWindowStyle(bool f1, bool f2, bool f3, bool f4, bool f5, bool f6,
                                       bool f7, bool f8, bool f9, bool f10, bool f11, bool f12) {
  Call call("getWindowStyle", json::array({f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12}));
  if (call.refused()) return call.ret(uint32_t{0});
  return call.ret(styleMaskOf({f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12}));
}

STANDIN_EXPORT uint32_t createWindow(double x, double y, double width, double height,
                                     uint32_t styleMask, const char* titleBarStyle, bool flag1,
                                     const char* title, bool flag2, bool flag3, bool flag4,
                                     double number1, double number2, WindowIdFn onClose,
                                     WindowMoveFn onMove, WindowResizeFn onResize,
                                     WindowIdFn onFocus, WindowIdFn onBlur, WindowKeyFn onKey,
                                     WindowIdFn onShouldClose) {
  Call call("createWindow", json::array({x,
                                         y,
                                         width,
                                         height,
                                         styleMask,
                                         cText(titleBarStyle),
                                         flag1,
                                         cText(title),
                                         flag2,
                                         flag3,
                                         flag4,
                                         number1,
                                         number2,
                                         address(onClose),
                                         address(onMove),
                                         address(onResize),
                                         address(onFocus),
                                         address(onBlur),
                                         address(onKey),
                                         address(onShouldClose)}));
  if (call.refused()) return call.ret(uint32_t{0});
  Deliveries out;
  uint32_t id = 0;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    id = takeWindowId(m);
    Window w;
    w.id = id;
    w.frame = {x, y, width, height};
    w.title = textOf(title);
    w.titleBarStyle = textOf(titleBarStyle);
    w.styleMask = styleMask;
    w.flags = {flag1, flag2, flag3, flag4};
    w.number1 = number1;
    w.number2 = number2;
    w.cb = {onClose, onMove, onResize, onFocus, onBlur, onKey, onShouldClose};
    // Flag2 starts the window hidden; Flag3 lets a shown window take the
    // focus; Flag4 centres it on the primary display's work area.
    w.visible = !flag2;
    if (flag4) w.frame = centredIn(w.frame, primaryWorkArea(m));
    m.windows[id] = w;
    if (w.visible && flag3) giveFocus(m, id, out);
  }
  holdForCaller(std::move(out));
  return call.ret(id);
}

STANDIN_EXPORT void setWindowTitle(uint32_t id, const char* title) {
  Call call("setWindowTitle", json::array({id, cText(title)}));
  if (call.refused()) return;
  onWindow(call, id, [&](Model&, Window& w, Deliveries&) { w.title = textOf(title); });
}

STANDIN_EXPORT void minimizeWindow(uint32_t id) {
  Call call("minimizeWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model& m, Window& w, Deliveries& out) {
    w.minimized = true;
    dropFocus(m, w.id, out);
  });
}

STANDIN_EXPORT void restoreWindow(uint32_t id) {
  Call call("restoreWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model&, Window& w, Deliveries&) { w.minimized = false; });
}

STANDIN_EXPORT bool isWindowMinimized(uint32_t id) {
  Call call("isWindowMinimized", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(queryWindow(call, id, false, [](Model&, Window& w) { return w.minimized; }));
}

STANDIN_EXPORT void maximizeWindow(uint32_t id) {
  Call call("maximizeWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model& m, Window& w, Deliveries& out) {
    if (w.maximized) return;
    w.frameBeforeMaximize = w.frame;
    changeFrame(w, rectFrom(displayOfWindow(m, w)["workArea"]), out);
    w.maximized = true;
  });
}

STANDIN_EXPORT void unmaximizeWindow(uint32_t id) {
  Call call("unmaximizeWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model&, Window& w, Deliveries& out) {
    if (!w.maximized) return;
    w.maximized = false;
    if (w.frameBeforeMaximize) changeFrame(w, *w.frameBeforeMaximize, out);
  });
}

STANDIN_EXPORT bool isWindowMaximized(uint32_t id) {
  Call call("isWindowMaximized", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(queryWindow(call, id, false, [](Model&, Window& w) { return w.maximized; }));
}

STANDIN_EXPORT void setWindowFullScreen(uint32_t id, bool on) {
  Call call("setWindowFullScreen", json::array({id, on}));
  if (call.refused()) return;
  onWindow(call, id, [on](Model& m, Window& w, Deliveries& out) {
    if (on == w.fullScreen) return;
    if (on) {
      w.frameBeforeFullScreen = w.frame;
      changeFrame(w, rectFrom(displayOfWindow(m, w)["bounds"]), out);
    } else if (w.frameBeforeFullScreen) {
      changeFrame(w, *w.frameBeforeFullScreen, out);
    }
    w.fullScreen = on;
  });
}

STANDIN_EXPORT bool isWindowFullScreen(uint32_t id) {
  Call call("isWindowFullScreen", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(queryWindow(call, id, false, [](Model&, Window& w) { return w.fullScreen; }));
}

STANDIN_EXPORT void setWindowAlwaysOnTop(uint32_t id, bool on) {
  Call call("setWindowAlwaysOnTop", json::array({id, on}));
  if (call.refused()) return;
  onWindow(call, id, [on](Model&, Window& w, Deliveries&) { w.alwaysOnTop = on; });
}

STANDIN_EXPORT bool isWindowAlwaysOnTop(uint32_t id) {
  Call call("isWindowAlwaysOnTop", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(queryWindow(call, id, false, [](Model&, Window& w) { return w.alwaysOnTop; }));
}

STANDIN_EXPORT void setWindowVisibleOnAllWorkspaces(uint32_t id, bool on) {
  Call call("setWindowVisibleOnAllWorkspaces", json::array({id, on}));
  if (call.refused()) return;
  onWindow(call, id, [on](Model&, Window& w, Deliveries&) { w.allWorkspaces = on; });
}

STANDIN_EXPORT bool isWindowVisibleOnAllWorkspaces(uint32_t id) {
  Call call("isWindowVisibleOnAllWorkspaces", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(queryWindow(call, id, false, [](Model&, Window& w) { return w.allWorkspaces; }));
}

// The flag asks the window to take the focus too; false only orders it in.
STANDIN_EXPORT void showWindow(uint32_t id, bool takeFocus) {
  Call call("showWindow", json::array({id, takeFocus}));
  if (call.refused()) return;
  onWindow(call, id, [takeFocus](Model& m, Window& w, Deliveries& out) {
    w.visible = true;
    if (takeFocus && !w.minimized) giveFocus(m, w.id, out);
  });
}

STANDIN_EXPORT void activateWindow(uint32_t id) {
  Call call("activateWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model& m, Window& w, Deliveries& out) {
    w.visible = true;
    if (!w.minimized) giveFocus(m, w.id, out);
  });
}

STANDIN_EXPORT void hideWindow(uint32_t id) {
  Call call("hideWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model& m, Window& w, Deliveries& out) {
    w.visible = false;
    dropFocus(m, w.id, out);
  });
}

// As on the platform, a minimised window does not count as visible.
STANDIN_EXPORT bool isWindowVisible(uint32_t id) {
  Call call("isWindowVisible", json::array({id}));
  if (call.refused()) return call.ret(false);
  return call.ret(
      queryWindow(call, id, false, [](Model&, Window& w) { return w.visible && !w.minimized; }));
}

STANDIN_EXPORT void setWindowButtonPosition(uint32_t id, double x, double y) {
  Call call("setWindowButtonPosition", json::array({id, x, y}));
  if (call.refused()) return;
  onWindow(call, id, [x, y](Model&, Window& w, Deliveries&) { w.buttonPosition = {x, y}; });
}

STANDIN_EXPORT void getWindowButtonPosition(uint32_t id, double* x, double* y) {
  Call call("getWindowButtonPosition", json::array({id, address(x), address(y)}));
  if (call.refused()) return;
  onWindow(call, id, [x, y](Model&, Window& w, Deliveries&) {
    auto position = w.buttonPosition.value_or(std::pair{0.0, 0.0});
    if (x) *x = position.first;
    if (y) *y = position.second;
  });
}

STANDIN_EXPORT void setWindowPosition(uint32_t id, double x, double y) {
  Call call("setWindowPosition", json::array({id, x, y}));
  if (call.refused()) return;
  onWindow(call, id, [x, y](Model&, Window& w, Deliveries& out) {
    w.maximized = false;
    changeFrame(w, {x, y, w.frame.width, w.frame.height}, out);
  });
}

STANDIN_EXPORT void centerWindow(uint32_t id) {
  Call call("centerWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model& m, Window& w, Deliveries& out) {
    changeFrame(w, centredIn(w.frame, rectFrom(displayOfWindow(m, w)["workArea"])), out);
  });
}

STANDIN_EXPORT void setWindowSize(uint32_t id, double width, double height) {
  Call call("setWindowSize", json::array({id, width, height}));
  if (call.refused()) return;
  onWindow(call, id, [width, height](Model&, Window& w, Deliveries& out) {
    w.maximized = false;
    changeFrame(w, {w.frame.x, w.frame.y, width, height}, out);
  });
}

STANDIN_EXPORT void setWindowFrame(uint32_t id, double x, double y, double width, double height) {
  Call call("setWindowFrame", json::array({id, x, y, width, height}));
  if (call.refused()) return;
  onWindow(call, id, [=](Model&, Window& w, Deliveries& out) {
    w.maximized = false;
    changeFrame(w, {x, y, width, height}, out);
  });
}

STANDIN_EXPORT void getWindowFrame(uint32_t id, double* x, double* y, double* width,
                                   double* height) {
  Call call("getWindowFrame",
            json::array({id, address(x), address(y), address(width), address(height)}));
  if (call.refused()) return;
  onWindow(call, id, [=](Model&, Window& w, Deliveries&) {
    if (x) *x = w.frame.x;
    if (y) *y = w.frame.y;
    if (width) *width = w.frame.width;
    if (height) *height = w.frame.height;
  });
}

// Ends in the close callback; the window and its web views are gone.
STANDIN_EXPORT void closeWindow(uint32_t id) {
  Call call("closeWindow", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model& m, Window& w, Deliveries& out) { closeWindowNow(m, w.id, out); });
}

// As the close button: the should-close callback only; the window stays.
STANDIN_EXPORT void requestWindowClose(uint32_t id) {
  Call call("requestWindowClose", json::array({id}));
  if (call.refused()) return;
  onWindow(call, id, [](Model&, Window& w, Deliveries& out) { addShouldClose(w, out); });
}
