// The core's desktop services that belong to no window: the tray item, the
// application menu, notifications, revealing a file and opening an address.
#include <cstdint>
#include <string>

#include "binding/callbacks.h"
#include "binding/nimbrel.h"
#include "binding/nm_helpers.h"

namespace nimbrel {

support::Result<uint32_t> Core::CreateTray(const std::string& title, const std::string& image,
                                           bool option, uint32_t width, uint32_t height,
                                           StatusItemHandler handler) const {
  auto cTitle = cString(title, "tray title");
  if (!cTitle) return cTitle.error();
  auto cImage = cString(image, "tray image");
  if (!cImage) return cImage.error();
  bool listen = static_cast<bool>(handler);
  // Set before the call, so a pick that arrives while the core works already
  // finds it; an empty handler silences the application menu as well.
  setStatusItemHandler(std::move(handler));
  uint32_t id = nm_call_create_tray(symbol("createTray"), cTitle->c(), cImage->c(), cbool(option),
                                    width, height, cbool(listen));
  if (id == 0) return lastCallFailed();
  return id;
}

support::Status Core::SetTrayTitle(uint32_t trayId, const std::string& title) const {
  auto cTitle = cString(title, "tray title");
  if (!cTitle) return cTitle.error();
  nm_call_u32_string(symbol("setTrayTitle"), trayId, cTitle->c());
  return ensureLastCallSucceeded();
}

support::Status Core::SetApplicationMenuJSON(const std::string& menuJSON,
                                             StatusItemHandler handler) const {
  auto menu = cString(menuJSON, "application menu json");
  if (!menu) return menu.error();
  bool listen = static_cast<bool>(handler);
  // The slot is shared with the tray item, which now reports to this handler.
  setStatusItemHandler(std::move(handler));
  nm_call_menu(symbol("setApplicationMenu"), menu->c(), cbool(listen));
  return ensureLastCallSucceeded();
}

support::Status Core::ShowNotification(const std::string& title, const std::string& body,
                                       const std::string& subtitle, bool silent) const {
  auto cTitle = cString(title, "notification title");
  if (!cTitle) return cTitle.error();
  auto cBody = cString(body, "notification body");
  if (!cBody) return cBody.error();
  auto cSubtitle = cString(subtitle, "notification subtitle");
  if (!cSubtitle) return cSubtitle.error();
  nm_call_notification(symbol("showNotification"), cTitle->c(), cBody->c(), cSubtitle->c(),
                       cbool(silent));
  return ensureLastCallSucceeded();
}

support::Status Core::ShowItemInFolder(const std::string& path) const {
  auto cPath = cString(path, "path");
  if (!cPath) return cPath.error();
  nm_call_string(symbol("showItemInFolder"), cPath->c());
  return ensureLastCallSucceeded();
}

support::Result<bool> Core::OpenExternal(const std::string& url) const {
  auto cUrl = cString(url, "url");
  if (!cUrl) return cUrl.error();
  return nm_call_string_bool_ret(symbol("openExternal"), cUrl->c());
}

}  // namespace nimbrel
