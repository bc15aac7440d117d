// The tray item's menu texts.
#pragma once

#include <string>

namespace shell {

struct trayLabels {
  std::string Open;
  std::string LaunchAtLogin;
  std::string KeepRunning;
  std::string Quit;
  std::string Tooltip;  // stored and merged only
};

extern const trayLabels defaultTrayLabels;

}  // namespace shell
