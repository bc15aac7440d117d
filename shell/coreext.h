// The core functions that the binding does not resolve: the tray menu.
#pragma once

#include <cstdint>
#include <string>

#include "support/result.h"

namespace shell {

struct coreExt {
  void* setTrayMenu = nullptr;   // void setTrayMenu(uint32_t, const char*); required
  void* setTrayImage = nullptr;  // the same shape; optional and never called

  void SetTrayMenu(uint32_t trayID, const std::string& menuJSON) const;
};

// Opens dir/libNimbrelCore.dylib a second time, with global scope, and
// resolves the tray menu functions.
support::Result<coreExt> loadCoreExt(const std::string& dir);

}  // namespace shell
