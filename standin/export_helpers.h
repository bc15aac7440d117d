// The common shape of an exported function that acts on one window, web view
// or tray item: find it under the state lock (a missing one fails the call
// with "no window N" and the like), change it, and make the callbacks that
// the change caused after the lock is released.
#pragma once

#include <mutex>
#include <string>

#include "calls.h"
#include "events.h"
#include "state.h"
#include "window_model.h"

namespace standin {

template <typename Item>
Item* findIn(std::map<uint32_t, Item>& items, uint32_t id) {
  auto it = items.find(id);
  return it == items.end() ? nullptr : &it->second;
}

inline std::string missing(const char* kind, uint32_t id) {
  return std::string("no ") + kind + " " + std::to_string(id);
}

template <typename Work>
bool onWindow(Call& call, uint32_t id, Work work) {
  Deliveries out;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    Window* w = findWindow(m, id);
    if (!w) {
      call.fail(missing("window", id));
      return false;
    }
    work(m, *w, out);
  }
  deliverLater(std::move(out));
  return true;
}

template <typename T, typename Query>
T queryWindow(Call& call, uint32_t id, T fallback, Query query) {
  Model& m = model();
  std::lock_guard lock(m.mu);
  Window* w = findWindow(m, id);
  if (!w) {
    call.fail(missing("window", id));
    return fallback;
  }
  return query(m, *w);
}

template <typename Work>
bool onWebview(Call& call, uint32_t id, Work work) {
  Deliveries out;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    Webview* v = findIn(m.webviews, id);
    if (!v) {
      call.fail(missing("web view", id));
      return false;
    }
    work(m, *v, out);
  }
  deliverLater(std::move(out));
  return true;
}

template <typename T, typename Query>
T queryWebview(Call& call, uint32_t id, T fallback, Query query) {
  Model& m = model();
  std::lock_guard lock(m.mu);
  Webview* v = findIn(m.webviews, id);
  if (!v) {
    call.fail(missing("web view", id));
    return fallback;
  }
  return query(*v);
}

template <typename Work>
bool onTray(Call& call, uint32_t id, Work work) {
  Model& m = model();
  std::lock_guard lock(m.mu);
  Tray* t = findIn(m.trays, id);
  if (!t) {
    call.fail(missing("tray item", id));
    return false;
  }
  work(*t);
  return true;
}

}  // namespace standin
