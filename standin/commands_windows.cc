// What the user does to windows: the close button, a window taken away,
// focus changes, moving, resizing, minimising, keys. Each reply tells how
// many callbacks were made.
#include <mutex>

#include "commands.h"
#include "events.h"
#include "export_helpers.h"
#include "state.h"
#include "window_model.h"

namespace standin {

namespace {

template <typename Action>
json userAction(const json& cmd, Action action) {
  uint32_t id = needU32(cmd, "window");
  Deliveries out;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    Window* w = findWindow(m, id);
    if (!w) throw CommandError(missing("window", id));
    action(m, *w, out);
  }
  size_t made = out.size();
  deliverNow(std::move(out));
  return {{"callbacks", made}};
}

json clickClose(const json& cmd) {
  return userAction(cmd, [](Model&, Window& w, Deliveries& out) { addShouldClose(w, out); });
}

// The window system takes the window away without asking first: the close
// callback, as closeWindow makes it; the window and its web views are gone.
json closeWindowCmd(const json& cmd) {
  return userAction(cmd,
                    [](Model& m, Window& w, Deliveries& out) { closeWindowNow(m, w.id, out); });
}

json focus(const json& cmd) {
  return userAction(cmd, [](Model& m, Window& w, Deliveries& out) {
    if (!w.visible) throw CommandError("window " + std::to_string(w.id) + " is hidden");
    if (w.minimized) throw CommandError("window " + std::to_string(w.id) + " is minimised");
    giveFocus(m, w.id, out);
  });
}

json blur(const json&) {
  Deliveries out;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    dropFocus(m, m.activeWindow, out);
  }
  size_t made = out.size();
  deliverNow(std::move(out));
  return {{"callbacks", made}};
}

json moveWindow(const json& cmd) {
  double x = needNumber(cmd, "x");
  double y = needNumber(cmd, "y");
  return userAction(cmd, [=](Model&, Window& w, Deliveries& out) {
    w.maximized = false;
    changeFrame(w, {x, y, w.frame.width, w.frame.height}, out);
  });
}

json resizeWindow(const json& cmd) {
  double width = needNumber(cmd, "width");
  double height = needNumber(cmd, "height");
  return userAction(cmd, [&](Model&, Window& w, Deliveries& out) {
    w.maximized = false;
    changeFrame(w, {optNumber(cmd, "x", w.frame.x), optNumber(cmd, "y", w.frame.y), width, height},
                out);
  });
}

json minimizeWindow(const json& cmd) {
  return userAction(cmd, [](Model& m, Window& w, Deliveries& out) {
    w.minimized = true;
    dropFocus(m, w.id, out);
  });
}

json key(const json& cmd) {
  uint32_t a = needU32(cmd, "a"), b = needU32(cmd, "b"), c = needU32(cmd, "c"),
           d = needU32(cmd, "d");
  return userAction(cmd, [=](Model&, Window& w, Deliveries& out) { addKey(w, a, b, c, d, out); });
}

}  // namespace

void addWindowCommands(CommandTable& table) {
  table["click-close"] = clickClose;
  table["close-window"] = closeWindowCmd;
  table["focus"] = focus;
  table["blur"] = blur;
  table["move-window"] = moveWindow;
  table["resize-window"] = resizeWindow;
  table["minimize-window"] = minimizeWindow;
  table["key"] = key;
}

}  // namespace standin
