#include <cstdlib>

#include "binding/bundle_paths.h"

namespace nimbrel {

bool isSafeInstallRootName(const std::string& name) {
  if (name.empty() || name.size() > 256) return false;
  if (name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  return true;
}

std::string effectiveInstallRootName(const std::string& defaultName) {
  const char* value = std::getenv("NIMBREL_INSTALL_ROOT_NAME");
  if (value == nullptr) return defaultName;
  std::string name = value;
  return isSafeInstallRootName(name) ? name : defaultName;
}

}  // namespace nimbrel
