// The tray item: its icon and handler, its menu of open, two checkboxes and
// quit, and the labels that the page may change.
#include "shell/tray.h"

#include <mutex>
#include <string>

#include "shell/diagnostics.h"
#include "shell/menu.h"
#include "shell/resources.h"
#include "shell/shell.h"
#include "support/json.h"

namespace shell {

using support::json::Value;

const trayLabels defaultTrayLabels = {
    "Open Brovik Dira", "Open at login", "Keep running when the window is closed",
    "Quit Brovik Dira", "Brovik Dira",
};

support::Result<trayLabels> decodeTrayLabels(std::string_view raw) {
  trayLabels labels;
  support::Status decoded = support::json::decodeObject(raw, [&](support::json::Object& o) {
    o.field("open", labels.Open);
    o.field("launchAtLogin", labels.LaunchAtLogin);
    o.field("keepRunning", labels.KeepRunning);
    o.field("quit", labels.Quit);
    o.field("tooltip", labels.Tooltip);
  });
  if (!decoded) return decoded.error();
  return labels;
}

void mergeTrayLabels(trayLabels& stored, const trayLabels& update) {
  auto take = [](std::string& to, const std::string& from) {
    if (!from.empty()) to = from;
  };
  take(stored.Open, update.Open);
  take(stored.LaunchAtLogin, update.LaunchAtLogin);
  take(stored.KeepRunning, update.KeepRunning);
  take(stored.Quit, update.Quit);
  take(stored.Tooltip, update.Tooltip);
}

support::Result<std::string> trayMenuJSON(const trayLabels& labels, const desktopPrefs& p) {
  const Value items = Value::array({
      {{"label", labels.Open}, {"action", "tray:open"}},
      {{"type", "separator"}},
      {{"type", "checkbox"},
       {"label", labels.LaunchAtLogin},
       {"checked", p.LaunchAtLogin},
       {"action", "tray:launch"}},
      {{"type", "checkbox"},
       {"label", labels.KeepRunning},
       {"checked", p.CloseToTray},
       {"action", "tray:keep"}},
      {{"type", "separator"}},
      {{"label", labels.Quit}, {"action", "tray:quit"}},
  });
  support::json::Writer w;
  w.value(menuWithDefaults(items));
  return w.finish();
}

void shell::createTray() {
  const std::string icon = findResource(bundle.ResourcesDir, "views/assets/tray.png");
  if (icon.empty()) printLine("the tray icon isn't in the bundle (" + bundle.ResourcesDir + ")");
  support::Result<uint32_t> id =
      core->CreateTray("", icon, false, 18, 18, menuHandler(weak_from_this().lock()));
  if (!id) {
    printLine("no tray icon: " + id.error().message);
    return;
  }
  {
    std::lock_guard lock(mu);
    trayID = *id;
  }
  prefs->setTray(true);
  syncTray();
}

// Rebuilds are serialised: each one reads its snapshot and hands its text to
// the core under trayMenuMu, so the menu left showing is always built from
// the latest labels and preferences, never from an older snapshot that lost
// a race to the core. The shell's lock is taken only briefly inside it.
void shell::syncTray() {
  std::lock_guard order(trayMenuMu);
  trayLabels current;
  uint32_t tray = 0;
  {
    std::lock_guard lock(mu);
    current = labels;
    tray = trayID;
  }
  if (tray == 0) return;
  support::Result<std::string> menu = trayMenuJSON(current, prefs->get());
  if (!menu) return;
  if (ext) ext->SetTrayMenu(tray, *menu);
}

void shell::setTrayLabels(const support::json::RawValue& raw) {
  support::Result<trayLabels> update = decodeTrayLabels(raw.text);
  if (!update) return;  // the page's labels are taken whole or not at all
  {
    std::lock_guard lock(mu);
    mergeTrayLabels(labels, *update);
  }
  syncTray();
}

}  // namespace shell
