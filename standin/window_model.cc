#include "window_model.h"

#include "displays.h"

namespace standin {

namespace {

void addWindowEvent(const char* name, WindowIdFn fn, uint32_t id, Deliveries& out) {
  if (!fn) return;
  out.push_back({name, json::array({id}), [fn, id] { fn(id); }});
}

}  // namespace

Window* findWindow(Model& m, uint32_t id) {
  auto it = m.windows.find(id);
  return it == m.windows.end() ? nullptr : &it->second;
}

void giveFocus(Model& m, uint32_t id, Deliveries& out) {
  if (m.activeWindow == id) return;
  if (Window* old = findWindow(m, m.activeWindow))
    addWindowEvent("blur", old->cb.blur, old->id, out);
  m.activeWindow = id;
  if (Window* w = findWindow(m, id)) addWindowEvent("focus", w->cb.focus, id, out);
}

void dropFocus(Model& m, uint32_t id, Deliveries& out) {
  if (m.activeWindow != id || id == 0) return;
  m.activeWindow = 0;
  if (Window* w = findWindow(m, id)) addWindowEvent("blur", w->cb.blur, id, out);
}

void changeFrame(Window& w, const Rect& frame, Deliveries& out) {
  Rect old = w.frame;
  w.frame = frame;
  uint32_t id = w.id;
  if ((old.x != frame.x || old.y != frame.y) && w.cb.move) {
    WindowMoveFn fn = w.cb.move;
    out.push_back({"move", json::array({id, frame.x, frame.y}),
                   [fn, id, frame] { fn(id, frame.x, frame.y); }});
  }
  if ((old.width != frame.width || old.height != frame.height) && w.cb.resize) {
    WindowResizeFn fn = w.cb.resize;
    out.push_back({"resize", json::array({id, frame.x, frame.y, frame.width, frame.height}),
                   [fn, id, frame] { fn(id, frame.x, frame.y, frame.width, frame.height); }});
  }
}

Rect centredIn(const Rect& frame, const Rect& area) {
  return {area.x + (area.width - frame.width) / 2, area.y + (area.height - frame.height) / 2,
          frame.width, frame.height};
}

Rect primaryWorkArea(const Model& m) {
  return rectFrom(primaryDisplay(m)["workArea"]);
}

const json& displayOfWindow(const Model& m, const Window& w) {
  return displayAt(m, w.frame.x + w.frame.width / 2, w.frame.y + w.frame.height / 2);
}

void closeWindowNow(Model& m, uint32_t id, Deliveries& out) {
  Window* w = findWindow(m, id);
  if (!w) return;
  dropFocus(m, id, out);
  addWindowEvent("close", w->cb.close, id, out);
  for (auto it = m.webviews.begin(); it != m.webviews.end();) {
    if (it->second.window == id) {
      m.removedWebviews.push_back(it->first);
      it = m.webviews.erase(it);
    } else {
      ++it;
    }
  }
  m.windows.erase(id);
  m.closedWindows.push_back(id);
}

void addShouldClose(const Window& w, Deliveries& out) {
  addWindowEvent("shouldClose", w.cb.shouldClose, w.id, out);
}

void addKey(const Window& w, uint32_t a, uint32_t b, uint32_t c, uint32_t d, Deliveries& out) {
  if (!w.cb.key) return;
  WindowKeyFn fn = w.cb.key;
  uint32_t id = w.id;
  out.push_back({"key", json::array({id, a, b, c, d}), [=] { fn(id, a, b, c, d); }});
}

}  // namespace standin
