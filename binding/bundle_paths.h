// Where the bundle lies, which application it is, and where the user's
// directories are. Nothing here keeps state: every call reads afresh.
#pragma once

#include <string>

#include "support/result.h"

namespace nimbrel {

struct BundlePaths {
  std::string ExeDir;        // the executable's directory; the core library lies here
  std::string ResourcesDir;  // ExeDir/../Resources
};

struct AppInfo {
  std::string Identifier;
  std::string Name;
  std::string Channel;
};

struct Paths {
  std::string Home;
  std::string AppData;
  std::string Config;
  std::string Cache;
  std::string Temp;
  std::string Logs;
  std::string Documents;
  std::string Downloads;
  std::string Desktop;
  std::string Pictures;
  std::string Music;
  std::string Videos;
  std::string UserData;
  std::string UserCache;
  std::string UserLogs;
};

// The identifier taken when version.json names none.
inline constexpr const char* kDefaultIdentifier = "dev.nimbrel.app";

support::Result<BundlePaths> ResolveBundlePaths();
// The absolute path of the running executable, as it was given to exec and
// joined with the directory the process started in; links are not resolved.
support::Result<std::string> ExecutablePath();
// The bundle paths of an executable at `exePath` (absolute, or relative to
// `startDir`).
BundlePaths bundlePathsForExecutable(const std::string& exePath, const std::string& startDir);
std::string absoluteExecutablePath(const std::string& exePath, const std::string& startDir);

support::Result<AppInfo> ResolveAppInfoFromBundle(const BundlePaths& bundle);
std::string JsonStringField(const std::string& raw, const std::string& key,
                            const std::string& fallback);
support::Result<Paths> ResolvePaths(const AppInfo& info);

std::string tempDir();
std::string appScopedDir(const std::string& base, const AppInfo& info);

// The name that replaces the channel as the last element of the application's
// own directories, from NIMBREL_INSTALL_ROOT_NAME when that is safe.
std::string effectiveInstallRootName(const std::string& defaultName);
bool isSafeInstallRootName(const std::string& name);

}  // namespace nimbrel
