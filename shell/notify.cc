// The bridge's notifications: shown through the core and remembered, so that
// a click can find the page they came from.
#include "shell/notices.h"
#include "shell/shell.h"

namespace shell {

support::Status shell::notify(const std::string& title, const std::string& subtitle,
                              const std::string& body, const std::string& target, bool sound) {
  // Remembered before it is shown, and kept when showing fails: the core's
  // error may come for a notification the platform posts all the same, and
  // a click on it must still find its page.
  notices.add({title, subtitle, body, appPath(target)});
  return core->ShowNotification(title, body, subtitle, !sound);
}

}  // namespace shell
