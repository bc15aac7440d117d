// The tray and application menus as the user picks from them, the display
// list and its answers, and the answer of openExternal.
#include <mutex>
#include <optional>

#include "commands.h"
#include "displays.h"
#include "events.h"
#include "export_helpers.h"
#include "main_loop.h"
#include "state.h"
#include "window_model.h"

namespace standin {

namespace {

bool isDivider(const json& item) {
  if (!item.contains("type") || !item["type"].is_string()) return false;
  const std::string& type = item["type"].get_ref<const std::string&>();
  return type == "divider" || type == "separator";
}

// The first item, depth first, whose `key` equals `wanted`.
std::optional<json> findItem(const json& items, const char* key, const std::string& wanted) {
  if (!items.is_array()) return std::nullopt;
  for (const json& item : items) {
    if (!item.is_object() || isDivider(item)) continue;
    auto value = item.find(key);
    if (value != item.end() && value->is_string() && *value == wanted) return item;
    if (item.contains("submenu")) {
      if (auto found = findItem(item["submenu"], key, wanted)) return found;
    }
  }
  return std::nullopt;
}

// The item that a pick command names by "action" or "label".
json pickedItem(const json& cmd, const std::optional<std::string>& menuText, const char* menu) {
  if (!menuText) throw CommandError(std::string("no ") + menu + " has been set");
  json items = json::parse(*menuText, nullptr, false);
  std::optional<std::string> action = optString(cmd, "action");
  std::optional<std::string> label = optString(cmd, "label");
  if (!action && !label) throw CommandError("name the item by \"action\" or \"label\"");
  const char* key = action ? "action" : "label";
  const std::string& wanted = action ? *action : *label;
  std::optional<json> item = findItem(items, key, wanted);
  if (!item) throw CommandError(std::string("no ") + menu + " item with " + key + " " + wanted);
  if (item->contains("enabled") && (*item)["enabled"] == false) {
    throw CommandError("the " + std::string(menu) + " item " + wanted + " is disabled");
  }
  return *item;
}

std::optional<std::string> actionOf(const json& item) {
  auto action = item.find("action");
  if (action == item.end() || !action->is_string()) return std::nullopt;
  return action->get<std::string>();
}

json deliverStatusItem(StatusItemFn fn, uint32_t id, const std::string& action) {
  if (!fn) return {{"delivered", false}, {"action", action}};
  deliverNow(
      {{"statusItem", json::array({id, action}), [fn, id, action] { fn(id, action.c_str()); }}});
  return {{"delivered", true}, {"action", action}};
}

json pickTray(const json& cmd) {
  StatusItemFn fn = nullptr;
  uint32_t id = 0;
  json item;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    Tray* tray = nullptr;
    if (cmd.contains("tray")) {
      id = needU32(cmd, "tray");
      tray = findIn(m.trays, id);
    } else if (!m.trays.empty()) {
      tray = &m.trays.begin()->second;
    }
    if (!tray) throw CommandError("no tray item");
    id = tray->id;
    fn = tray->cb;
    item = pickedItem(cmd, tray->menuText, "tray menu");
  }
  std::optional<std::string> action = actionOf(item);
  if (!action) throw CommandError("the tray menu item has no action");
  return deliverStatusItem(fn, id, *action);
}

// A standard command of the application menu, carried out by the core.
json performRole(const std::string& role) {
  Deliveries out;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    m.performedRoles.push_back({{"role", role}, {"window", m.activeWindow}});
    if (Window* w = findWindow(m, m.activeWindow)) {
      if (role == "close") {
        addShouldClose(*w, out);
      } else if (role == "minimize") {
        w->minimized = true;
        dropFocus(m, w->id, out);
      } else if (role == "zoom") {
        if (w->maximized) {
          w->maximized = false;
          if (w->frameBeforeMaximize) changeFrame(*w, *w->frameBeforeMaximize, out);
        } else {
          w->frameBeforeMaximize = w->frame;
          changeFrame(*w, rectFrom(displayOfWindow(m, *w)["workArea"]), out);
          w->maximized = true;
        }
      }
    }
  }
  size_t made = out.size();
  deliverNow(std::move(out));
  if (role == "quit") return {{"role", role}, {"delivered", requestQuit("menu role quit", true)}};
  return {{"role", role}, {"callbacks", made}};
}

json pickMenu(const json& cmd) {
  StatusItemFn fn = nullptr;
  json item;
  {
    Model& m = model();
    std::lock_guard lock(m.mu);
    std::optional<std::string> text;
    if (m.appMenu) {
      text = m.appMenu->text;
      fn = m.appMenu->cb;
    }
    item = pickedItem(cmd, text, "application menu");
  }
  if (std::optional<std::string> action = actionOf(item)) return deliverStatusItem(fn, 0, *action);
  if (item.contains("role") && item["role"].is_string()) {
    return performRole(item["role"].get<std::string>());
  }
  throw CommandError("the application menu item has neither action nor role");
}

json setDisplays(const json& cmd) {
  auto displays = cmd.find("displays");
  if (displays == cmd.end()) throw CommandError("missing \"displays\"");
  if (auto invalid = invalidDisplayList(*displays)) throw CommandError(*invalid);
  std::lock_guard lock(model().mu);
  model().displays = *displays;
  return json::object();
}

json displayAnswer(const json& cmd) {
  std::string fn = needString(cmd, "fn");
  if (fn != "getPrimaryDisplay" && fn != "getAllDisplays") {
    throw CommandError("\"fn\" must be getPrimaryDisplay or getAllDisplays");
  }
  DisplayAnswer answer;
  if (optBool(cmd, "null", false)) {
    answer.mode = DisplayAnswer::Mode::kNull;
    answer.error = optString(cmd, "error");
  } else if (auto text = optString(cmd, "text")) {
    answer.mode = DisplayAnswer::Mode::kText;
    answer.text = *text;
  }
  std::lock_guard lock(model().mu);
  (fn == "getPrimaryDisplay" ? model().primaryAnswer : model().allAnswer) = answer;
  return json::object();
}

json openExternalAnswer(const json& cmd) {
  auto answer = cmd.find("answer");
  if (answer == cmd.end() || !answer->is_boolean()) {
    throw CommandError("\"answer\" must be a boolean");
  }
  std::lock_guard lock(model().mu);
  model().openExternalAnswer = answer->get<bool>();
  return json::object();
}

}  // namespace

void addDesktopCommands(CommandTable& table) {
  table["pick-tray"] = pickTray;
  table["pick-menu"] = pickMenu;
  table["set-displays"] = setDisplays;
  table["display-answer"] = displayAnswer;
  table["open-external-answer"] = openExternalAnswer;
}

}  // namespace standin
