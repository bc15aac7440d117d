// The user's desktop preferences: keep running when the window is closed
// (stored in desktop.json), open at login (whether the launch agent exists)
// and whether a tray item exists (never stored).
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "support/json.h"
#include "support/result.h"

namespace shell {

// The preferences as the page and the tray menu see them.
struct desktopPrefs {
  bool LaunchAtLogin = false;
  bool CloseToTray = false;
  bool Tray = false;

  bool operator==(const desktopPrefs&) const = default;
};

// A partial update from the page: an absent key leaves its preference alone.
struct prefsChange {
  std::optional<bool> LaunchAtLogin;
  std::optional<bool> CloseToTray;
};

// {"launchAtLogin","closeToTray","tray"}, in that order.
void writeDesktopPrefs(support::json::Writer& w, const desktopPrefs& p);
// Fills the change from the page's {"launchAtLogin","closeToTray"} object.
void readPrefsChange(support::json::Object& o, prefsChange& ch);

struct prefsUpdate {
  desktopPrefs prefs;      // the state after the change, as far as it went
  support::Status status;  // a failure of the launch agent
};

class prefs {
 public:
  // `file` is desktop.json in the user-data directory; `exe` is the program
  // the launch agent starts; `home` is the user's home directory, under which
  // the launch agent lives.
  prefs(std::string desktopJson, std::string executable, std::string homeDir);

  void setTray(bool on);
  // Closing the main window hides it and an autostart starts hidden, whatever
  // closeToTray says: closeToTray is only reported and stored.
  bool hidesOnClose();
  desktopPrefs get();
  // The launch agent first: when it fails, closeToTray is left alone.
  prefsUpdate set(const prefsChange& ch);

 private:
  // Consults desktop.json once per process; `mu` must be held.
  void read();

  std::mutex mu;
  const std::string file;
  const std::string exe;
  const std::string home;
  bool loaded = false;
  bool closeToTray = true;
  bool tray = false;
};

}  // namespace shell
