// The tray item's menu texts and the menu built from them.
#pragma once

#include <string>
#include <string_view>

#include "shell/prefs.h"
#include "support/result.h"

namespace shell {

struct trayLabels {
  std::string Open;
  std::string LaunchAtLogin;
  std::string KeepRunning;
  std::string Quit;
  std::string Tooltip;  // stored and merged only
};

extern const trayLabels defaultTrayLabels;

// Reads the page's {"open","launchAtLogin","keepRunning","quit","tooltip"}
// into labels that are empty where the page gave nothing. Null gives no
// labels; empty text, text that is not JSON, a value that is not an object
// and a label that is not text are errors.
support::Result<trayLabels> decodeTrayLabels(std::string_view raw);

// Each label of `update` that is not empty replaces its stored one.
void mergeTrayLabels(trayLabels& stored, const trayLabels& update);

// The tray menu's JSON text: open, a divider, the two checkboxes with their
// check marks from `p`, a divider and quit, normalised as every menu is.
support::Result<std::string> trayMenuJSON(const trayLabels& labels, const desktopPrefs& p);

}  // namespace shell
