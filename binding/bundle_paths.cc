#include "binding/bundle_paths.h"

#include <cstdlib>
#include <cstring>

#include "binding/nm_helpers.h"
#include "support/file.h"
#include "support/json.h"
#include "support/path.h"

namespace nimbrel {
namespace {

using support::joinPath;

std::string envOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string appDataDir(const std::string& home) {
  return joinPath({home, "Library", "Application Support"});
}
std::string configDir(const std::string& home) {
  return appDataDir(home);
}
std::string cacheDir(const std::string& home) {
  return joinPath({home, "Library", "Caches"});
}
std::string logsDir(const std::string& home) {
  return joinPath({home, "Library", "Logs"});
}

}  // namespace

std::string absoluteExecutablePath(const std::string& exePath, const std::string& startDir) {
  std::string path = exePath;
  if (path.empty() || path.front() != '/') {
    if (path.rfind("./", 0) == 0) path.erase(0, 2);
    path = joinPath({startDir, path});
  }
  return path;
}

BundlePaths bundlePathsForExecutable(const std::string& exePath, const std::string& startDir) {
  std::string path = absoluteExecutablePath(exePath, startDir);
  BundlePaths bundle;
  bundle.ExeDir = support::dirName(path);
  bundle.ResourcesDir = joinPath({bundle.ExeDir, "..", "Resources"});
  return bundle;
}

support::Result<std::string> ExecutablePath() {
  const char* started = nm_started_executable_path();
  if (started == nullptr || *started == '\0') {
    return support::makeError("failed to resolve executable path: cannot find executable path");
  }
  std::string startDir;
  if (started[0] != '/') {
    const char* dir = nm_start_directory();
    if (dir == nullptr) {
      return support::makeError(std::string("failed to resolve executable path: getwd: ") +
                                std::strerror(nm_start_directory_errno()));
    }
    startDir = dir;
  }
  return absoluteExecutablePath(started, startDir);
}

support::Result<BundlePaths> ResolveBundlePaths() {
  auto exe = ExecutablePath();
  if (!exe) return exe.error();
  return bundlePathsForExecutable(*exe, "/");
}

std::string JsonStringField(const std::string& raw, const std::string& key,
                            const std::string& fallback) {
  auto members = support::json::decodeMembers(raw);
  if (!members) return fallback;
  auto found = members->find(key);
  if (found == members->end()) return fallback;
  auto value = support::json::parse(found->second.text);
  if (!value) return fallback;
  if (value->is_null()) return "";
  if (!value->is_string()) return fallback;
  return value->get<std::string>();
}

support::Result<AppInfo> ResolveAppInfoFromBundle(const BundlePaths& bundle) {
  auto text = support::readFile(joinPath({bundle.ResourcesDir, "version.json"}));
  if (!text) return text.error();
  AppInfo info;
  info.Identifier = JsonStringField(*text, "identifier", kDefaultIdentifier);
  info.Name = JsonStringField(*text, "name", "Nimbrel");
  info.Channel = JsonStringField(*text, "channel", "dev");
  return info;
}

std::string tempDir() {
  for (const char* name : {"TMPDIR", "TMP"}) {
    std::string value = envOrEmpty(name);
    if (!value.empty()) return value;
  }
  return "/tmp";
}

std::string appScopedDir(const std::string& base, const AppInfo& info) {
  if (info.Identifier.empty() || info.Channel.empty()) return base;
  return joinPath({base, info.Identifier, effectiveInstallRootName(info.Channel)});
}

support::Result<Paths> ResolvePaths(const AppInfo& info) {
  std::string home = envOrEmpty("HOME");
  if (home.empty()) return support::makeError("$HOME is not defined");
  Paths paths;
  paths.Home = home;
  paths.AppData = appDataDir(home);
  paths.Config = configDir(home);
  paths.Cache = cacheDir(home);
  paths.Temp = tempDir();
  paths.Logs = logsDir(home);
  paths.Documents = joinPath({home, "Documents"});
  paths.Downloads = joinPath({home, "Downloads"});
  paths.Desktop = joinPath({home, "Desktop"});
  paths.Pictures = joinPath({home, "Pictures"});
  paths.Music = joinPath({home, "Music"});
  paths.Videos = joinPath({home, "Videos"});
  paths.UserData = appScopedDir(paths.AppData, info);
  paths.UserCache = appScopedDir(paths.Cache, info);
  paths.UserLogs = appScopedDir(paths.Logs, info);
  return paths;
}

}  // namespace nimbrel
