// The tray item, menus, displays, notifications and the services that reveal
// files and open addresses.
#include <cstdint>
#include <mutex>
#include <string>

#include "calls.h"
#include "displays.h"
#include "export.h"
#include "export_helpers.h"
#include "state.h"

using namespace standin;

namespace {

uint32_t takeTrayId(Model& m) {
  while (m.nextTrayId == 0 || m.trays.count(m.nextTrayId)) ++m.nextTrayId;
  return m.nextTrayId++;
}

bool isJson(const char* text) {
  return !json::parse(textOf(text), nullptr, false).is_discarded();
}

// Display texts stay the core's: each lives until the next call of the same
// function on the same thread.
char* answerDisplays(Call& call, const DisplayAnswer& answer, std::string& keep,
                     const std::string& listed) {
  switch (answer.mode) {
    case DisplayAnswer::Mode::kNull:
      if (answer.error) call.fail(*answer.error);
      return nullptr;
    case DisplayAnswer::Mode::kText:
      keep = answer.text;
      return keep.data();
    case DisplayAnswer::Mode::kDisplays:
      break;
  }
  keep = listed;
  return keep.data();
}

}  // namespace

STANDIN_EXPORT uint32_t createTray(const char* title, const char* image, bool option,
                                   uint32_t width, uint32_t height, StatusItemFn onItem) {
  Call call("createTray",
            json::array({cText(title), cText(image), option, width, height, address(onItem)}));
  if (call.refused()) return call.ret(uint32_t{0});
  Model& m = model();
  std::lock_guard lock(m.mu);
  Tray t;
  t.id = takeTrayId(m);
  t.title = textOf(title);
  t.image = textOf(image);
  t.option = option;
  t.width = width;
  t.height = height;
  t.cb = onItem;
  uint32_t id = t.id;
  m.trays[id] = t;
  return call.ret(id);
}

STANDIN_EXPORT void setTrayTitle(uint32_t id, const char* title) {
  Call call("setTrayTitle", json::array({id, cText(title)}));
  if (call.refused()) return;
  onTray(call, id, [&](Tray& t) { t.title = textOf(title); });
}

STANDIN_EXPORT void showTray(uint32_t id) {
  Call call("showTray", json::array({id}));
  if (call.refused()) return;
  onTray(call, id, [](Tray& t) { t.visible = true; });
}

STANDIN_EXPORT void hideTray(uint32_t id) {
  Call call("hideTray", json::array({id}));
  if (call.refused()) return;
  onTray(call, id, [](Tray& t) { t.visible = false; });
}

STANDIN_EXPORT void removeTray(uint32_t id) {
  Call call("removeTray", json::array({id}));
  if (call.refused()) return;
  Model& m = model();
  std::lock_guard lock(m.mu);
  if (!m.trays.erase(id)) call.fail(missing("tray item", id));
}

// The item's place in the menu bar, as JSON text kept by the core.
STANDIN_EXPORT char* getTrayBounds(uint32_t id) {
  thread_local std::string kept;
  Call call("getTrayBounds", json::array({id}));
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  Model& m = model();
  std::lock_guard lock(m.mu);
  Tray* t = findIn(m.trays, id);
  if (!t) {
    call.fail(missing("tray item", id));
    return call.ret(static_cast<char*>(nullptr));
  }
  Rect bounds = rectFrom(primaryDisplay(m)["bounds"]);
  Rect work = rectFrom(primaryDisplay(m)["workArea"]);
  double width = t->width ? t->width : 22;
  kept = dumpJson(
      rectJson({bounds.x + bounds.width - 8 - width * t->id, bounds.y, width, work.y - bounds.y}));
  return call.ret(kept.data());
}

// Not in the binding's list: the shell resolves it on its own.
#ifndef STANDIN_OMIT_setTrayMenu
STANDIN_EXPORT void setTrayMenu(uint32_t id, const char* menuJson) {
  Call call("setTrayMenu", json::array({id, cText(menuJson)}));
  if (call.refused()) return;
  if (!isJson(menuJson)) {
    call.fail("tray menu is not valid JSON");
    return;
  }
  onTray(call, id, [&](Tray& t) { t.menuText = textOf(menuJson); });
}
#endif

#ifndef STANDIN_OMIT_setTrayImage
STANDIN_EXPORT void setTrayImage(uint32_t id, const char* image) {
  Call call("setTrayImage", json::array({id, cText(image)}));
  if (call.refused()) return;
  onTray(call, id, [&](Tray& t) { t.image = textOf(image); });
}
#endif

STANDIN_EXPORT void setApplicationMenu(const char* menuJson, StatusItemFn onItem) {
  Call call("setApplicationMenu", json::array({cText(menuJson), address(onItem)}));
  if (call.refused()) return;
  if (!isJson(menuJson)) {
    call.fail("application menu is not valid JSON");
    return;
  }
  std::lock_guard lock(model().mu);
  model().appMenu = AppMenu{textOf(menuJson), onItem};
}

STANDIN_EXPORT char* getPrimaryDisplay(void) {
  thread_local std::string kept;
  Call call("getPrimaryDisplay", json::array());
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  Model& m = model();
  std::lock_guard lock(m.mu);
  return call.ret(answerDisplays(call, m.primaryAnswer, kept, dumpJson(primaryDisplay(m))));
}

STANDIN_EXPORT char* getAllDisplays(void) {
  thread_local std::string kept;
  Call call("getAllDisplays", json::array());
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  Model& m = model();
  std::lock_guard lock(m.mu);
  return call.ret(answerDisplays(call, m.allAnswer, kept, dumpJson(m.displays)));
}

STANDIN_EXPORT void showNotification(const char* title, const char* body, const char* subtitle,
                                     bool silent) {
  Call call("showNotification", json::array({cText(title), cText(body), cText(subtitle), silent}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().notifications.push_back({{"title", cText(title)},
                                   {"body", cText(body)},
                                   {"subtitle", cText(subtitle)},
                                   {"silent", silent}});
}

// Recorded, never carried out: the file manager is not touched.
STANDIN_EXPORT void showItemInFolder(const char* path) {
  Call call("showItemInFolder", json::array({cText(path)}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().revealedFiles.push_back(textOf(path));
}

// Recorded; the answer is the one a test chose (true unless told otherwise).
STANDIN_EXPORT bool openExternal(const char* url) {
  Call call("openExternal", json::array({cText(url)}));
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  bool answer = model().openExternalAnswer;
  model().openedUrls.push_back({{"url", cText(url)}, {"answer", answer}});
  return call.ret(answer);
}

STANDIN_EXPORT bool openPath(const char* path) {
  Call call("openPath", json::array({cText(path)}));
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  model().openedPaths.push_back(textOf(path));
  return call.ret(true);
}
