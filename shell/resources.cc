#include "shell/resources.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "support/file.h"
#include "support/json.h"
#include "support/path.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Depth first, pre-order, entries of each directory in byte order of their
// names. Directories that cannot be read are passed over.
std::optional<std::string> walkFor(const std::string& dir, const std::string& suffix) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return std::nullopt;
  std::vector<std::string> names;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) return std::nullopt;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = support::joinPath({dir, name});
    bool isDirectory = fs::is_directory(fs::symlink_status(path, ec));
    if (!isDirectory) {
      if (endsWith(path, suffix)) return path;
      continue;
    }
    if (auto found = walkFor(path, suffix)) return found;
  }
  return std::nullopt;
}

}  // namespace

std::string findResource(const std::string& root, const std::string& rel) {
  for (const std::string& candidate :
       {support::joinPath({root, "app", rel}), support::joinPath({root, rel})}) {
    if (support::pathExists(candidate)) return candidate;
  }
  return walkFor(root, "/" + rel).value_or("");
}

std::string runtimeSetting(const std::string& dir, const std::string& key) {
  auto text = support::readFile(support::joinPath({dir, "build.json"}));
  if (!text) return "";
  std::map<std::string, support::json::RawValue> runtime;
  auto status = support::json::decodeObject(
      *text, [&](support::json::Object& config) { config.field("runtime", runtime); });
  if (!status) return "";
  auto found = runtime.find(key);
  if (found == runtime.end()) return "";
  auto value = support::json::parse(found->second.text);
  if (!value || !value->is_string()) return "";
  return value->get<std::string>();
}

}  // namespace shell
