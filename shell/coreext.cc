#include "shell/coreext.h"

#include <string>

#include "binding/nimbrel.h"
#include "shell/platform/tray_ext.h"
#include "support/path.h"

namespace shell {
namespace {

support::Result<void*> lookUp(void* handle, const std::string& name) {
  void* entry = bk_sym(handle, nimbrel::CString(name).c());
  if (entry == nullptr) return support::makeError("Nimbrel's core has no " + name);
  return entry;
}

}  // namespace

support::Result<coreExt> loadCoreExt(const std::string& dir) {
  const std::string path = support::joinPath({dir, "libNimbrelCore.dylib"});
  // A NUL inside would open a shorter path than the one asked for.
  if (path.find('\0') != std::string::npos) return support::makeError("can't open Nimbrel's core");
  // Never closed: the core stays loaded for the life of the process anyway.
  void* handle = bk_open(nimbrel::CString(path).c());
  if (handle == nullptr) return support::makeError("can't open Nimbrel's core");
  coreExt ext;
  support::Result<void*> menu = lookUp(handle, "setTrayMenu");
  if (!menu) return menu.error();
  ext.setTrayMenu = *menu;
  if (support::Result<void*> image = lookUp(handle, "setTrayImage")) ext.setTrayImage = *image;
  return ext;
}

void coreExt::SetTrayMenu(uint32_t trayID, const std::string& menuJSON) const {
  if (setTrayMenu == nullptr) return;
  // The encoder escapes every control character, so the text has no NUL.
  bk_set_tray_menu(setTrayMenu, trayID, nimbrel::CString(menuJSON).c());
}

}  // namespace shell
