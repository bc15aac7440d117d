#include "shell/menu.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#include "shell/shell.h"
#include "support/tasks.h"

namespace shell {
namespace {

using support::json::Value;

// The menu bar as built into the program. Items with a role but no label get
// theirs from roleLabels.
constexpr const char* kBuiltInMenu = R"([
  {"label": "Brovik Dira", "submenu": [
    {"label": "About Brovik Dira", "role": "about"},
    {"type": "separator"},
    {"label": "Hide Brovik Dira", "role": "hide", "accelerator": "h"},
    {"label": "Hide Others", "role": "hideOthers", "accelerator": "Command+Alt+H"},
    {"label": "Show All", "role": "showAll"},
    {"type": "separator"},
    {"label": "Quit Brovik Dira", "role": "quit", "accelerator": "q"}
  ]},
  {"label": "Edit", "submenu": [
    {"role": "undo"},
    {"role": "redo"},
    {"type": "separator"},
    {"role": "cut"},
    {"role": "copy"},
    {"role": "paste"},
    {"role": "selectAll"}
  ]},
  {"label": "View", "submenu": [
    {"label": "Reload", "action": "view:reload", "accelerator": "r"},
    {"type": "separator"},
    {"label": "Actual Size", "action": "zoom:reset", "accelerator": "0"},
    {"label": "Zoom In", "action": "zoom:in", "accelerator": "="},
    {"label": "Zoom Out", "action": "zoom:out", "accelerator": "-"},
    {"type": "separator"},
    {"label": "Enter Full Screen", "role": "toggleFullScreen", "accelerator": "Command+Control+F"}
  ]},
  {"label": "Window", "submenu": [
    {"role": "minimize", "accelerator": "m"},
    {"role": "zoom"},
    {"type": "separator"},
    {"role": "close", "accelerator": "w"}
  ]}
])";

const std::string* stringIn(const Value& item, const char* key) {
  auto it = item.find(key);
  if (it == item.end() || !it->is_string()) return nullptr;
  return &it->get_ref<const std::string&>();
}

// Menu values are carried as JSON's own kinds, where every number is a
// double: 1 and 1.0 are the same value, and an integer beyond 2^53 is
// rounded as the core would read it.
Value withFloats(const Value& v) {
  if (v.is_number()) return Value(v.get<double>());
  if (v.is_array()) {
    Value out = Value::array();
    for (const Value& element : v) out.push_back(withFloats(element));
    return out;
  }
  if (v.is_object()) {
    Value out = Value::object();
    for (auto it = v.begin(); it != v.end(); ++it) out[it.key()] = withFloats(it.value());
    return out;
  }
  return v;
}

Value normalisedItem(const Value& item) {
  const std::string* type = stringIn(item, "type");
  if (type && (*type == "separator" || *type == "divider")) {
    return Value{{"type", "divider"}};
  }
  Value out = withFloats(item);
  if (!out.contains("enabled")) out["enabled"] = true;
  const std::string* label = stringIn(out, "label");
  const std::string* role = stringIn(out, "role");
  if ((!label || label->empty()) && role && !role->empty()) {
    auto known = roleLabels.find(*role);
    out["label"] = known == roleLabels.end() ? std::string() : known->second;
  }
  if (auto submenu = out.find("submenu"); submenu != out.end() && submenu->is_array()) {
    *submenu = menuWithDefaults(*submenu);
  }
  return out;
}

// Serialises the checkbox toggles of the tray menu. There is one shell per
// process; it is taken before any of the shell's locks and under none.
std::mutex togglesMu;

std::string builtInMenu() {
  support::Result<std::string> menu = menuJSON(kBuiltInMenu);
  if (!menu) {
    // Only a broken build gets here; nothing can run without its menu.
    std::fprintf(stderr, "menu: %s\n", menu.error().message.c_str());
    std::exit(2);
  }
  return std::move(menu).value();
}

}  // namespace

const std::map<std::string, std::string>& roleLabels =
    *new const std::map<std::string, std::string>{
        {"about", "About"},
        {"quit", "Quit"},
        {"hide", "Hide"},
        {"hideOthers", "Hide Others"},
        {"showAll", "Show All"},
        {"minimize", "Minimize"},
        {"zoom", "Zoom"},
        {"close", "Close"},
        {"toggleFullScreen", "Toggle Full Screen"},
        {"undo", "Undo"},
        {"redo", "Redo"},
        {"cut", "Cut"},
        {"copy", "Copy"},
        {"paste", "Paste"},
        {"selectAll", "Select All"},
    };

// After roleLabels: both live in this file, so they are made in this order.
// The start task hands it to the core and may still be doing so when the
// process ends.
const std::string& appMenu = *new const std::string(builtInMenu());

Value menuWithDefaults(const Value& items) {
  Value out = Value::array();
  if (!items.is_array()) return out;
  for (const Value& item : items) {
    if (item.is_object()) out.push_back(normalisedItem(item));
  }
  return out;
}

support::Result<std::string> menuJSON(std::string_view text) {
  support::Result<Value> decoded = support::json::parse(text);
  if (!decoded) return decoded.error();
  if (!decoded->is_array()) {
    return support::makeError("json: cannot decode " + std::string(decoded->type_name()) +
                              " into a list of menu items");
  }
  Value items = Value::array();
  for (const Value& element : *decoded) {
    if (element.is_null()) {
      items.push_back(Value::object());
    } else if (element.is_object()) {
      items.push_back(element);
    } else {
      return support::makeError("json: cannot decode " + std::string(element.type_name()) +
                                " into a menu item");
    }
  }
  support::json::Writer w;
  w.value(menuWithDefaults(items));
  return w.finish();
}

double zoomTarget(double current, std::string_view step) {
  if (step == "in") {
    for (double factor : zoomSteps) {
      if (factor > current + zoomTolerance) return factor;
    }
    return zoomSteps.back();
  }
  if (step == "out") {
    for (auto it = zoomSteps.rbegin(); it != zoomSteps.rend(); ++it) {
      if (*it < current - zoomTolerance) return *it;
    }
    return zoomSteps.front();
  }
  return 1.0;
}

nimbrel::StatusItemHandler menuHandler(const std::shared_ptr<shell>& s) {
  return [weak = std::weak_ptr<shell>(s)](uint32_t id, const std::string& action) {
    if (auto alive = weak.lock()) alive->onMenu(id, action);
  };
}

// Both menus share the handler, and an action means the same from either, so
// the item id is not looked at. Each pick is a task of its own.
void shell::onMenu(uint32_t /*id*/, const std::string& action) {
  std::shared_ptr<shell> self = weak_from_this().lock();
  if (!self) return;  // the shell is going away; nothing is left to act on
  support::runInBackground([self, action] {
    windowPtr window;
    {
      std::lock_guard lock(self->mu);
      window = self->focused;
    }
    if (action == "tray:open") {
      self->showMain();
    } else if (action == "tray:quit") {
      self->quit();
    } else if (action == "tray:launch" || action == "tray:keep") {
      // Toggles run one at a time, from the read to the report: two quick
      // clicks are two changes that pages hear of in order, never one change
      // read twice.
      std::lock_guard toggling(togglesMu);
      const desktopPrefs current = self->prefs->get();
      prefsChange change;
      if (action == "tray:launch") {
        change.LaunchAtLogin = !current.LaunchAtLogin;
      } else {
        change.CloseToTray = !current.CloseToTray;
      }
      // A failed change still reports what holds now.
      self->prefsChanged(self->prefs->set(change).prefs);
    } else if (constexpr std::string_view kZoom = "zoom:"; action.starts_with(kZoom)) {
      if (window) self->zoom(window, std::string_view(action).substr(kZoom.size()));
    } else if (action == "view:reload") {
      if (window) (void)self->core->ReloadWebview(window->view);
    }
  });
}

void shell::zoom(const windowPtr& window, std::string_view step) {
  const uint32_t view = window->view;
  const double current = core->GetWebviewPageZoom(view);
  (void)core->SetWebviewPageZoom(view, zoomTarget(current, step));
}

}  // namespace shell
