#include "shell/prefs.h"

#include <utility>

#include "shell/desktop_darwin.h"
#include "support/file.h"

namespace shell {

void writeDesktopPrefs(support::json::Writer& w, const desktopPrefs& p) {
  w.beginObject();
  w.key("launchAtLogin").boolean(p.LaunchAtLogin);
  w.key("closeToTray").boolean(p.CloseToTray);
  w.key("tray").boolean(p.Tray);
  w.endObject();
}

void readPrefsChange(support::json::Object& o, prefsChange& ch) {
  o.field("launchAtLogin", ch.LaunchAtLogin);
  o.field("closeToTray", ch.CloseToTray);
}

prefs::prefs(std::string desktopJson, std::string executable, std::string homeDir)
    : file(std::move(desktopJson)), exe(std::move(executable)), home(std::move(homeDir)) {}

void prefs::read() {
  if (loaded) return;
  // Both are set before the file is touched, so a failed read is not retried.
  loaded = true;
  closeToTray = true;
  support::Result<std::string> text = support::readFile(file);
  if (!text) return;
  std::optional<bool> stored;
  support::Status decoded = support::json::decodeObject(
      *text, [&](support::json::Object& o) { o.field("closeToTray", stored); });
  if (!decoded) return;
  if (stored) closeToTray = *stored;
}

void prefs::setTray(bool on) {
  std::lock_guard lock(mu);
  tray = on;
}

bool prefs::hidesOnClose() {
  std::lock_guard lock(mu);
  read();
  return true;
}

desktopPrefs prefs::get() {
  std::lock_guard lock(mu);
  read();
  return {loginItemEnabled(home), closeToTray, tray};
}

prefsUpdate prefs::set(const prefsChange& ch) {
  // The agent file is written without the lock: the last of two concurrent
  // changes wins.
  if (ch.LaunchAtLogin) {
    if (support::Status s = setLoginItem(home, exe, *ch.LaunchAtLogin); !s) return {get(), s};
  }
  if (ch.CloseToTray) {
    std::lock_guard lock(mu);
    read();
    closeToTray = *ch.CloseToTray;
    // A failed write is silent: the new value holds for this process anyway.
    // The file is replaced through a temporary one, so a crash never leaves
    // it torn.
    support::json::Value stored = support::json::Value::object();
    stored["closeToTray"] = closeToTray;
    (void)support::writeFileAtomic(file, support::json::encodeIndented(stored));
  }
  return {get(), {}};
}

}  // namespace shell
