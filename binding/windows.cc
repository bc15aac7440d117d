// Window operations: creation with its callbacks, and the operations on an
// existing window. A window is only its id; the binding keeps no state of it.
#include "binding/windows.h"

#include <cstdint>
#include <string>

#include "binding/callbacks.h"
#include "binding/nimbrel.h"
#include "binding/nm_helpers.h"

namespace nimbrel {

WindowStyle StandardWindowStyle() {
  WindowStyle style;
  style.Flag2 = true;
  style.Flag3 = true;
  style.Flag4 = true;
  style.Flag5 = true;
  return style;
}

WindowOptions NewWindowOptions(const std::string& title, const Rect& frame) {
  WindowOptions options;
  options.Title = title;
  options.Frame = frame;
  options.Style = StandardWindowStyle();
  options.TitleBarStyle = "default";
  options.Flag3 = true;
  return options;
}

support::Result<uint32_t> Core::CreateWindow(WindowOptions options) const {
  auto title = cString(options.Title, "window title");
  if (!title) return title.error();
  auto titleBarStyle = cString(options.TitleBarStyle, "title bar style");
  if (!titleBarStyle) return titleBarStyle.error();

  const WindowStyle& s = options.Style;
  uint32_t styleMask = nm_call_get_window_style(
      symbol("getWindowStyle"), cbool(s.Flag1), cbool(s.Flag2), cbool(s.Flag3), cbool(s.Flag4),
      cbool(s.Flag5), cbool(s.Flag6), cbool(s.Flag7), cbool(s.Flag8), cbool(s.Flag9),
      cbool(s.Flag10), cbool(s.Flag11), cbool(s.Flag12));

  const Rect& f = options.Frame;
  const WindowCallbacks& c = options.Callbacks;
  // The core takes the callbacks in the order close, move, resize, focus, blur,
  // key, should-close, which is not the order of WindowCallbacks.
  uint32_t id = nm_call_create_window(
      symbol("createWindow"), f.X, f.Y, f.Width, f.Height, styleMask, titleBarStyle->c(),
      cbool(options.Flag1), title->c(), cbool(options.Flag2), cbool(options.Flag3),
      cbool(options.Flag4), options.Number1, options.Number2, cbool(bool(c.Close)),
      cbool(bool(c.Move)), cbool(bool(c.Resize)), cbool(bool(c.Focus)), cbool(bool(c.Blur)),
      cbool(bool(c.Key)), cbool(bool(c.ShouldClose)));
  if (id == 0) return lastCallFailed();
  // Events the core sent while createWindow ran found no entry and were dropped.
  registerWindowCallbacks(id, std::move(options.Callbacks));
  return id;
}

support::Status Core::SetWindowTitle(uint32_t windowId, const std::string& title) const {
  auto cTitle = cString(title, "window title");
  if (!cTitle) return cTitle.error();
  nm_call_u32_string(symbol("setWindowTitle"), windowId, cTitle->c());
  return ensureLastCallSucceeded();
}

support::Status Core::MinimizeWindow(uint32_t windowId) const {
  nm_call_u32(symbol("minimizeWindow"), windowId);
  return ensureLastCallSucceeded();
}

support::Status Core::RestoreWindow(uint32_t windowId) const {
  nm_call_u32(symbol("restoreWindow"), windowId);
  return ensureLastCallSucceeded();
}

bool Core::IsWindowMinimized(uint32_t windowId) const {
  return nm_call_u32_bool_ret(symbol("isWindowMinimized"), windowId);
}

support::Status Core::MaximizeWindow(uint32_t windowId) const {
  nm_call_u32(symbol("maximizeWindow"), windowId);
  return ensureLastCallSucceeded();
}

support::Status Core::UnmaximizeWindow(uint32_t windowId) const {
  nm_call_u32(symbol("unmaximizeWindow"), windowId);
  return ensureLastCallSucceeded();
}

bool Core::IsWindowMaximized(uint32_t windowId) const {
  return nm_call_u32_bool_ret(symbol("isWindowMaximized"), windowId);
}

support::Status Core::SetWindowFullScreen(uint32_t windowId, bool fullScreen) const {
  nm_call_u32_bool(symbol("setWindowFullScreen"), windowId, cbool(fullScreen));
  return ensureLastCallSucceeded();
}

bool Core::IsWindowFullScreen(uint32_t windowId) const {
  return nm_call_u32_bool_ret(symbol("isWindowFullScreen"), windowId);
}

support::Status Core::SetWindowAlwaysOnTop(uint32_t windowId, bool alwaysOnTop) const {
  nm_call_u32_bool(symbol("setWindowAlwaysOnTop"), windowId, cbool(alwaysOnTop));
  return ensureLastCallSucceeded();
}

support::Status Core::SetWindowVisibleOnAllWorkspaces(uint32_t windowId, bool visible) const {
  nm_call_u32_bool(symbol("setWindowVisibleOnAllWorkspaces"), windowId, cbool(visible));
  return ensureLastCallSucceeded();
}

support::Status Core::ShowWindow(uint32_t windowId, bool flag) const {
  nm_call_u32_bool(symbol("showWindow"), windowId, cbool(flag));
  return ensureLastCallSucceeded();
}

support::Status Core::ActivateWindow(uint32_t windowId) const {
  nm_call_u32(symbol("activateWindow"), windowId);
  return ensureLastCallSucceeded();
}

support::Status Core::HideWindow(uint32_t windowId) const {
  nm_call_u32(symbol("hideWindow"), windowId);
  return ensureLastCallSucceeded();
}

bool Core::IsWindowVisible(uint32_t windowId) const {
  return nm_call_u32_bool_ret(symbol("isWindowVisible"), windowId);
}

support::Status Core::SetWindowButtonPosition(uint32_t windowId, double x, double y) const {
  nm_call_u32_f64_f64(symbol("setWindowButtonPosition"), windowId, x, y);
  return ensureLastCallSucceeded();
}

support::Result<Rect> Core::GetWindowFrame(uint32_t windowId) const {
  // Whatever the core leaves unwritten reads as 0.
  Rect frame;
  nm_call_get_window_frame(symbol("getWindowFrame"), windowId, &frame.X, &frame.Y, &frame.Width,
                           &frame.Height);
  if (auto status = ensureLastCallSucceeded(); !status) return status.error();
  return frame;
}

support::Status Core::CloseWindow(uint32_t windowId) const {
  nm_call_u32(symbol("closeWindow"), windowId);
  return ensureLastCallSucceeded();
}

}  // namespace nimbrel
